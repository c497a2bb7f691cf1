#include "cli/commands.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "cli/audio_file.h"
#include "cli/cli_args.h"
#include "cli/render.h"
#include "cli/stage_render.h"
#include "effects/effect_registry.h"
#include "encoder/voice_recipe.h"
#include "filter/effect_stage.h"

namespace {

int Fail(const std::string& message) {
    return ReportFailure(nullptr, message);
}

std::vector<EffectParam*> ParamsOf(VoiceEffect& effect) {
    uint32_t count = 0;
    effect.GetParams(nullptr, &count);
    std::vector<EffectParam*> params(count, nullptr);
    if (count > 0 && effect.GetParams(params.data(), &count) == 0)
        params.clear();
    return params;
}

bool EqualsIgnoringCase(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b))
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// Applies "NAME=VALUE" to the effect's parameter of that name, within its range.
bool ApplyParam(VoiceEffect& effect, const std::string& assignment, std::string& error) {
    const size_t eq = assignment.find('=');
    if (eq == std::string::npos) {
        error = "--param takes NAME=VALUE, got '" + assignment + "'";
        return false;
    }
    const std::string name = assignment.substr(0, eq);
    const std::string text = assignment.substr(eq + 1);
    for (EffectParam* param : ParamsOf(effect)) {
        if (!EqualsIgnoringCase(name, param->GetName()))
            continue;
        int32_t value = 0;
        int32_t min = 0, max = 0;
        param->GetRange(&min, &max, nullptr, nullptr);
        if (!ParseInt32(text, value)) {
            error = "parameter '" + name + "' takes a whole number, got '" + text + "'";
            return false;
        }
        if (!param->InRange(value)) {
            error = "parameter '" + std::string(param->GetName()) + "' must lie in " +
                    std::to_string(min) + ".." + std::to_string(max) + ", got " + text;
            return false;
        }
        param->SetValue(value);
        return true;
    }
    error = "effect '" + std::string(effect.GetName()) + "' has no parameter '" + name + "'";
    return false;
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
    return WriteAudioFile(out, audio, error, VoiceRecipeOf(&effect));
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
    return WriteAudioFile(out, audio, error, VoiceRecipeOf(&effect));
}

}  // namespace

int CommandList(const std::vector<std::string>& args) {
    if (!args.empty())
        return Fail("'list' takes no arguments");
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

int CommandRender(const std::vector<std::string>& args) {
    std::string effectName;
    std::vector<std::string> assignments;
    std::vector<std::string> files;
    bool stage = false;
    int32_t bufferBytes = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--stage") {
            stage = true;
        } else if (a == "--buffer-bytes") {
            if (i + 1 >= args.size() || !ParseInt32(args[i + 1], bufferBytes) || bufferBytes <= 0)
                return Fail("--buffer-bytes needs a positive whole number");
            ++i;
        } else if (a == "--effect" || a == "--param") {
            if (i + 1 >= args.size())
                return Fail(a + " needs a value");
            (a == "--effect" ? effectName : assignments.emplace_back()) = args[++i];
        } else if (a.rfind("--", 0) == 0) {
            return Fail("unknown option '" + a + "'");
        } else {
            files.push_back(a);
        }
    }
    if (effectName.empty())
        return Fail("render needs --effect NAME");
    if (files.size() != 2)
        return Fail("render needs an input and an output file");
    if (bufferBytes != 0 && !stage)
        return Fail("--buffer-bytes needs --stage");
    VoiceEffect* effect = EffectRegistry::Instance().FindByName(effectName.c_str());
    int32_t index = 0;
    if (effect == nullptr && stage && ParseInt32(effectName, index))
        effect = EffectForRecorderIndex(index);
    if (effect == nullptr)
        return Fail("unknown effect '" + effectName + "' (see 'quillmar list')");
    effect->Reset();
    std::string error;
    for (const std::string& assignment : assignments) {
        if (!ApplyParam(*effect, assignment, error))
            return Fail(error);
    }
    const bool rendered =
        stage ? RenderFileThroughStage(*effect, index, static_cast<size_t>(bufferBytes), files[0],
                                       files[1], error)
              : RenderFile(*effect, files[0], files[1], error);
    if (!rendered)
        return Fail(error);
    return 0;
}

int CommandDemo(const std::vector<std::string>& args) {
    std::string outDir = "quillmar-demo";
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--out" && i + 1 < args.size()) {
            outDir = args[++i];
        } else {
            return Fail("unknown argument '" + args[i] + "' (demo takes --out DIR)");
        }
    }
    const std::string sample = std::string(QUILLMAR_ASSET_DIR) + "/samples/sample_voice.wav";
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
