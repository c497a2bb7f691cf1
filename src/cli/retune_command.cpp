#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "cli/audio_file.h"
#include "cli/cli_args.h"
#include "cli/commands.h"
#include "dsp/overlap_add.h"

namespace qm {

namespace {

int Fail(const std::string& message) {
    return ReportFailure("retune", message);
}

// The longest input the resynthesis takes in one piece, in bytes of 16-bit samples.
constexpr int32_t kMaxInputBytes = 50000000;

std::string Number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

std::string Seconds(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s", s);
    return text;
}

std::string Explain(int32_t code, double rateHz) {
    switch (code) {
        case kPitchDurationNoPitch:
            return "the pitch analysis failed: the input must last at least 0.06 s (three periods "
                   "of the 50 Hz floor), or memory ran out";
        case kPitchDurationTooLong:
            return "the input is too long for one piece (at most " +
                   Seconds(kMaxInputBytes / 2 / rateHz) + " at this rate)";
        case kPitchDurationBadFactor:
            return "a factor lies outside its range";
        default:
            return "out of memory (step " + std::to_string(code) + ")";
    }
}

}  // namespace

const OptionSpec kRetuneOptions[] = {
    {"--pitch", OptionKind::kNumber, "FACTOR", 0.01, 100, "1", "pitch factor"},
    {"--duration", OptionKind::kNumber, "FACTOR", 0.1, 2.5, "1", "duration factor"},
};
const CommandSpec kRetuneSpec = {
    "retune",
    "IN OUT",
    2,
    2,
    "Changes the pitch and the length of IN's first channel independently (pitch-synchronous "
    "resynthesis) and writes OUT as 16-bit mono. Give --pitch, --duration or both.",
    kRetuneOptions};

int CommandRetune(const std::vector<std::string>& args) {
    ParsedArgs parsed;
    if (const int rc = ParseCommandLine(kRetuneSpec, args, parsed); rc >= 0)
        return rc;
    const double pitch = parsed.Number("--pitch", 1.0);
    const double duration = parsed.Number("--duration", 1.0);
    const std::vector<std::string>& files = parsed.Operands();
    if (!parsed.Has("--pitch") && !parsed.Has("--duration"))
        return ReportUsageError("retune", "needs --pitch FACTOR, --duration FACTOR or both");
    // The resynthesis places at most twice the input and at least a tenth of it; the factors
    // arrive as 32-bit floats, so compare what the library will see.
    const float durationF = static_cast<float>(duration);
    const float pitchF = static_cast<float>(pitch);
    if (!(durationF >= 0.1f && durationF <= 2.5f))
        return ReportUsageError("retune",
                                "--duration must lie in 0.1..2.5, got " + Number(duration));
    if (!(pitchF >= kMinPitchFactor && pitchF <= kMaxPitchFactor))
        return ReportUsageError("retune", "--pitch must lie in 0.01..100, got " + Number(pitch));

    std::string error;
    if (!IsWritableAudioPath(files[1], error))
        return Fail(error);
    AudioData audio;
    if (!ReadAudioFile(files[0], audio, error))
        return Fail(error);
    std::vector<int16_t> pcm;
    if (!FirstChannel16(audio, pcm, error))
        return Fail("'" + files[0] + "': " + error);
    const double rateHz = audio.format.samplesPerSec;
    if (rateHz < 1.0 || rateHz > INT32_MAX)
        return Fail("'" + files[0] + "' has no usable sampling rate");
    if (pcm.size() > static_cast<size_t>(kMaxInputBytes / 2))
        return Fail("'" + files[0] + "': " + Explain(kPitchDurationTooLong, rateHz));

    int16_t* raw = nullptr;
    const int32_t bytes =
        ChangePitchDurationPcm16(pcm.data(), static_cast<int32_t>(2 * pcm.size()), &raw,
                                 static_cast<float>(rateHz), durationF, pitchF, 16);
    const std::unique_ptr<int16_t[]> out(raw);
    if (bytes <= 0)
        return Fail("'" + files[0] + "': " + Explain(bytes, rateHz));
    AudioData result;
    result.format = InterleavedWaveFormat(1, audio.format.samplesPerSec, 16);
    const auto* bytesOut = reinterpret_cast<const uint8_t*>(out.get());
    result.pcm.assign(bytesOut, bytesOut + bytes);
    if (!WriteAudioFile(files[1], result, error))
        return Fail(error);
    return 0;
}

}  // namespace qm
