#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "cli/audio_file.h"
#include "cli/cli_args.h"
#include "cli/commands.h"
#include "dsp/pitch.h"
#include "dsp/sound.h"

namespace qm {

namespace {

int Fail(const std::string& message) {
    return ReportFailure("pitch", message);
}

// Releases the analysis records on every return path.
struct Analysis {
    Sound sound;
    Pitch pitch;
    ~Analysis() {
        Pitch_freeFrames(&pitch);
        Sound_freeSamples(&sound);
    }
};

}  // namespace

const OptionSpec kPitchOptions[] = {
    {"--floor", OptionKind::kNumber, "HZ", 1, 96000, "50", "lowest pitch sought"},
    {"--ceiling", OptionKind::kNumber, "HZ", 1, 96000, "400", "highest pitch sought"},
    {"--step", OptionKind::kNumber, "S", 1e-5, 10, "0.005", "time between analysis frames"},
};
const CommandSpec kPitchSpec = {
    "pitch",
    "IN",
    1,
    1,
    "Prints the pitch track of IN's first channel as CSV: time, frequency (0 when unvoiced), "
    "strength.",
    kPitchOptions};

int CommandPitch(const std::vector<std::string>& args) {
    ParsedArgs parsed;
    if (const int rc = ParseCommandLine(kPitchSpec, args, parsed); rc >= 0)
        return rc;
    const double stepSeconds = parsed.Number("--step", 0.005);
    const double floorHz = parsed.Number("--floor", 50.0);
    const double ceilingHz = parsed.Number("--ceiling", 400.0);
    const std::vector<std::string>& files = parsed.Operands();
    if (floorHz >= ceilingHz)
        return ReportUsageError("pitch", "--floor must lie below --ceiling");

    AudioData audio;
    std::string error;
    if (!ReadAudioFile(files[0], audio, error))
        return Fail(error);
    // A 16-bit mono file already is the analysis's input; other layouts give their first channel.
    std::vector<int16_t> converted;
    std::span<const int16_t> pcm;
    if (audio.format.channels == 1 && audio.format.bitsPerSample == 16) {
        pcm = {reinterpret_cast<const int16_t*>(audio.pcm.data()), audio.pcm.size() / 2};
    } else {
        if (!FirstChannel16(audio, converted, error))
            return Fail("'" + files[0] + "': " + error);
        pcm = converted;
    }
    const double rateHz = audio.format.samplesPerSec;
    if (rateHz <= 0.0 || rateHz > INT32_MAX)
        return Fail("'" + files[0] + "' has no usable sampling rate");
    if (pcm.size() > static_cast<size_t>(INT32_MAX / 2))
        return Fail("'" + files[0] + "' is too long to analyse in one piece");
    if (stepSeconds < 1.0 / rateHz)
        return Fail("--step must be at least one sample (" + std::to_string(1.0 / rateHz) + " s)");
    // The analysis window spans three periods of the floor; say so here rather than let the
    // library print its own message into the table.
    const double seconds = static_cast<double>(pcm.size()) / rateHz;
    if (floorHz < 3.0 / seconds) {
        return Fail("'" + files[0] + "' lasts " + std::to_string(seconds) +
                    " s; --floor must then be at least " + std::to_string(3.0 / seconds) + " Hz");
    }

    Analysis analysis;
    analysisSampleRate = static_cast<int32_t>(rateHz);
    if (!Sound_fromPcm16(&analysis.sound, pcm.data(), static_cast<int32_t>(2 * pcm.size()),
                         rateHz)) {
        return Fail("out of memory");
    }
    if (!Sound_to_Pitch(&analysis.sound, &analysis.pitch, stepSeconds, floorHz, ceilingHz)) {
        return Fail("pitch analysis of '" + files[0] +
                    "' failed (a floor this high leaves too few samples per period, or memory "
                    "ran out)");
    }
    const Pitch& p = analysis.pitch;
    std::printf("time,frequency,strength\n");
    for (int32_t i = 1; i <= p.count; ++i) {
        const PitchCandidate& chosen = p.frames[i].candidates[1];
        const bool voiced = chosen.frequency > 0.0 && chosen.frequency < p.ceiling;
        std::printf("%.6f,%.3f,%.4f\n", Sound_indexToTime(&p, i), voiced ? chosen.frequency : 0.0,
                    voiced ? chosen.strength : 0.0);
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return Fail("cannot write the table");
    return 0;
}

}  // namespace qm
