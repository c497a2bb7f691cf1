#include "cli/commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "cli/audio_file.h"
#include "cli/cli_args.h"
#include "cli/data_dir.h"
#include "cli/effect_choice.h"
#include "cli/render.h"
#include "cli/stage_render.h"
#include "effects/effect_registry.h"
#include "filter/effect_stage.h"

namespace {

int Fail(const std::string& message) {
    return ReportFailure(nullptr, message);
}

// Renders one file through one effect; the output file exists only on success.
bool RenderFile(VoiceEffect& effect, const std::string& in, const std::string& out,
                std::string& error) {
    AudioData audio;
    if (!IsWritableAudioPath(out, error) || !ReadAudioFile(in, audio, error))
        return false;
    RenderResult rendered = RenderEffect(effect, audio.format, audio.pcm);
    if (!rendered.ok) {
        error = "effect '" + std::string(effect.GetName()) + "' failed on '" + in +
                "': " + rendered.error;
        return false;
    }
    audio.pcm = std::move(rendered.pcm);
    return WriteAudioFile(out, audio, error);
}

// Renders one file through the effect stage as a recording would; the output starts with the
// stage's silent lead-in. `index` (1..5) selects as the recorder does, else `effect` is used.
bool RenderFileThroughStage(VoiceEffect& effect, int32_t index, size_t bufferBytes,
                            const std::string& in, const std::string& out, std::string& error) {
    AudioData audio;
    if (!ReadAudioFile(in, audio, error))
        return false;
    EffectStage stage;
    if (index != 0) {
        stage.SelectEffect(index);
    } else {
        stage.SetEffect(&effect);
    }
    StageRenderResult rendered = RenderThroughStage(stage, audio.format, audio.pcm, bufferBytes);
    if (!rendered.ok) {
        error = "effect '" + std::string(effect.GetName()) + "' failed on '" + in +
                "' in the effect stage: " + rendered.error;
        return false;
    }
    audio.pcm = std::move(rendered.pcm);
    return WriteAudioFile(out, audio, error);
}

}  // namespace

const CommandSpec kListSpec = {"list",
                               "",
                               0,
                               0,
                               "Lists the built-in effects: recorder index, name, GUID and "
                               "parameters with their ranges and defaults.",
                               {}};

int CommandList(const std::vector<std::string>& args) {
    ParsedArgs parsed;
    if (const int rc = ParseCommandLine(kListSpec, args, parsed); rc >= 0)
        return rc;
    std::printf("%-6s %-14s %-40s %s\n", "index", "name", "GUID", "parameters (min..max, default)");
    for (VoiceEffect* effect : EffectRegistry::Instance().Effects()) {
        const EffectGuid& g = *effect->GetGUID();
        char guid[40];
        std::snprintf(guid, sizeof(guid), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                      g.data1, g.data2, g.data3, g.data4[0], g.data4[1], g.data4[2], g.data4[3],
                      g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
        const int index = RecorderIndexOf(*effect);
        std::string params;
        for (EffectParam* param : ParamsOf(*effect)) {
            int32_t min = 0, max = 0, def = 0;
            param->GetRange(&min, &max, &def, nullptr);
            if (!params.empty())
                params += "; ";
            params += "\"" + std::string(param->GetName()) + "\" (" + std::to_string(min) + ".." +
                      std::to_string(max) + ", " + std::to_string(def) + ")";
        }
        std::printf("%-6s %-14s %-40s %s\n", index == 0 ? "none" : std::to_string(index).c_str(),
                    effect->GetName(), guid, params.empty() ? "none" : params.c_str());
    }
    return 0;
}

const OptionSpec kRenderOptions[] = {
    {"--effect", OptionKind::kText, "NAME", 0, 0, nullptr,
     "effect name (see 'quillmar list'); with --stage also its recorder index 1..5"},
    {"--param", OptionKind::kText, "NAME=VALUE", 0, 0, nullptr,
     "sets an effect parameter within its range", true},
    {"--stage", OptionKind::kFlag, nullptr, 0, 0, nullptr,
     "run through the recorder's effect stage: the output starts with its silent lead-in"},
    {"--buffer-bytes", OptionKind::kInt, "N", 1, 1 << 30, "10 ms of audio",
     "buffer size for --stage"},
};
const CommandSpec kRenderSpec = {
    "render",
    "IN OUT",
    2,
    2,
    "Runs one effect over IN and writes OUT (.wav, .flac or .mp3), time-aligned with the input "
    "and exactly as long. OUT appears only when complete.",
    kRenderOptions};

int CommandRender(const std::vector<std::string>& args) {
    ParsedArgs parsed;
    if (const int rc = ParseCommandLine(kRenderSpec, args, parsed); rc >= 0)
        return rc;
    const std::string effectName = parsed.Text("--effect");
    const bool stage = parsed.Has("--stage");
    const auto bufferBytes = static_cast<size_t>(parsed.Number("--buffer-bytes", 0));
    const std::vector<std::string>& files = parsed.Operands();
    if (effectName.empty())
        return ReportUsageError("render", "needs --effect NAME");
    if (bufferBytes != 0 && !stage)
        return ReportUsageError("render", "--buffer-bytes needs --stage");
    std::string error;
    VoiceEffect* effect = nullptr;
    int32_t index = 0;
    if (!ChooseEffect(effectName, effect, index, error))
        return ReportUsageError("render", error);
    if (!stage)
        index = 0;
    for (const std::string& assignment : parsed.All("--param")) {
        if (!ApplyParam(*effect, assignment, error))
            return ReportUsageError("render", error);
    }
    const bool rendered =
        stage ? RenderFileThroughStage(*effect, index, bufferBytes, files[0], files[1], error)
              : RenderFile(*effect, files[0], files[1], error);
    if (!rendered)
        return Fail(error);
    return 0;
}

const OptionSpec kDemoOptions[] = {
    {"--out", OptionKind::kText, "DIR", 0, 0, "quillmar-demo", "folder for the MP3 files"},
};
const CommandSpec kDemoSpec = {
    "demo",
    "",
    0,
    0,
    "Renders the bundled sample voice through every built-in effect into MP3 files.",
    kDemoOptions};

int CommandDemo(const std::vector<std::string>& args) {
    ParsedArgs parsed;
    if (const int rc = ParseCommandLine(kDemoSpec, args, parsed); rc >= 0)
        return rc;
    const std::string outDir = parsed.Text("--out", "quillmar-demo");
    const std::string sample = DataDirectory() + "/samples/sample_voice.wav";
    if (::access(sample.c_str(), R_OK) != 0)
        return Fail("the sample voice is missing: '" + sample + "'");
    if (::mkdir(outDir.c_str(), 0755) != 0 && errno != EEXIST) {
        return Fail("cannot create '" + outDir + "': " + std::strerror(errno));
    }
    std::printf("Rendering %s through every built-in effect:\n", sample.c_str());
    int failures = 0;
    for (VoiceEffect* effect : EffectRegistry::Instance().Effects()) {
        std::string fileName = effect->GetName();
        for (char& c : fileName) {
            if (c == ' ')
                c = '_';
        }
        const std::string out = outDir + "/" + fileName + ".mp3";
        effect->Reset();
        std::string error;
        if (RenderFile(*effect, sample, out, error)) {
            std::printf("  %-14s %s\n", effect->GetName(), out.c_str());
        } else {
            std::printf("  %-14s failed: %s\n", effect->GetName(), error.c_str());
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
