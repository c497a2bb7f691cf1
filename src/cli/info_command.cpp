#include "cli/info_command.h"

#include <sndfile.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "cli/cli_args.h"
#include "encoder/mp3_file.h"

namespace qm {

namespace {

// Larger files are not read whole; a recording of four hours is about 230 MB.
constexpr std::streamoff kLargestFile = std::streamoff{1} << 30;

int Fail(const std::string& message) {
    return ReportFailure("info", message);
}

// Tag text comes from the file: control characters would drive the terminal.
std::string Printable(const std::string& text) {
    std::string out;
    for (const char c : text) {
        out += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c;
    }
    return out;
}

const char* VersionName(MpegVersion version) {
    switch (version) {
        case MpegVersion::kMpeg1:
            return "MPEG-1";
        case MpegVersion::kMpeg2:
            return "MPEG-2";
        default:
            return "MPEG-2.5";
    }
}

void PrintVoice(const std::string& recipe) {
    std::printf("voice: %s\n", Printable(recipe).c_str());
    std::string effect;
    VoiceParams params;
    if (!ParseVoiceRecipe(recipe, &effect, &params) || effect == "none") {
        return;
    }
    std::string command = "quillmar render --effect '" + Printable(effect) + "'";
    for (const auto& [name, value] : params) {
        command += " --param '" + Printable(name) + "=" + std::to_string(value) + "'";
    }
    std::printf("  render again with: %s IN OUT\n", command.c_str());
}

void PrintMp3(const Mp3FileSummary& summary) {
    const Mp3FrameHeader& first = summary.first;
    const bool cbr = !summary.info || summary.info->cbr;
    std::printf("format: %s Layer III, %u Hz, %s, %u kbit/s%s\n", VersionName(first.version),
                first.SampleRateHz(), first.Channels() == 1 ? "mono" : "stereo",
                first.BitrateKbps(), cbr ? "" : " (variable)");
    std::printf("duration: %.3f s (%llu samples, %llu frames%s)\n", summary.seconds,
                static_cast<unsigned long long>(summary.samples),
                static_cast<unsigned long long>(summary.audioFrames),
                summary.counted ? ", counted: no length header" : "");
    if (summary.info && summary.info->gapless) {
        std::printf("encoder: %s (delay %u, padding %u samples%s)\n",
                    Printable(summary.info->encoder.data()).c_str(), summary.info->gapless->delay,
                    summary.info->gapless->padding,
                    summary.info->tagCrcMatches ? "" : "; header CRC does not match");
    }
    if (!summary.id3) {
        std::printf("tags: none\n");
        return;
    }
    std::printf("tags (ID3v2.%u, %zu bytes):\n", summary.id3->majorVersion, summary.id3Bytes);
    std::string voice;
    for (const Id3Text& text : summary.id3->texts) {
        const std::string label =
            text.id == "TXXX" ? "TXXX " + Printable(text.description) : text.id;
        std::printf("  %s: %s\n", label.c_str(), Printable(text.text).c_str());
        if (text.id == "TXXX" && text.description == kVoiceEffectDescription && voice.empty()) {
            voice = text.text;
        }
    }
    if (!voice.empty()) {
        PrintVoice(voice);
    }
}

// Files libsndfile reads (WAV, FLAC, ...): their format and length only.
bool PrintOther(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        return false;
    }
    SF_FORMAT_INFO format{};
    format.format = info.format & SF_FORMAT_TYPEMASK;
    sf_command(file, SFC_GET_FORMAT_INFO, &format, sizeof format);
    std::printf("format: %s, %d Hz, %d channel%s\n", format.name != nullptr ? format.name : "audio",
                info.samplerate, info.channels, info.channels == 1 ? "" : "s");
    std::printf("duration: %.3f s (%lld samples)\n",
                info.samplerate > 0 ? static_cast<double>(info.frames) / info.samplerate : 0.0,
                static_cast<long long>(info.frames));
    sf_close(file);
    return true;
}

}  // namespace

const CommandSpec kInfoSpec = {
    "info",
    "FILE",
    1,
    1,
    "Prints a file's format and duration; for an MP3 also its encoder delay and padding, its "
    "tags and the voice that made it, with the render command that would make it again.",
    {}};

int CommandInfo(const std::vector<std::string>& args) {
    ParsedArgs parsed;
    if (const int rc = ParseCommandLine(kInfoSpec, args, parsed); rc >= 0)
        return rc;
    const std::string path = parsed.Operands()[0];
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        return Fail("cannot open '" + path + "'");
    }
    const std::streamoff size = in.tellg();
    if (size < 0 || size > kLargestFile) {
        return Fail("'" + path + "' is too large to inspect");
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(bytes.data()), size)) {
        return Fail("cannot read '" + path + "'");
    }
    std::printf("file: %s\n", path.c_str());
    if (const auto summary = ReadMp3FileSummary(bytes)) {
        PrintMp3(*summary);
        return 0;
    }
    if (!PrintOther(path)) {
        return Fail("'" + path + "' is neither an MP3 stream nor an audio file libsndfile reads");
    }
    return 0;
}

}  // namespace qm
