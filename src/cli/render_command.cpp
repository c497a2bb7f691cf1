#include "cli/commands.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>

#include "cli/audio_file.h"
#include "cli/cli_args.h"
#include "cli/data_dir.h"
#include "cli/effect_choice.h"
#include "cli/render.h"
#include "cli/stage_render.h"
#include "cli/status_line.h"
#include "effects/effect_registry.h"
#include "encoder/voice_recipe.h"
#include "filter/effect_stage.h"

namespace qm {

namespace {

int Fail(const std::string& message) {
    return ReportFailure(nullptr, message);
}

// Renders one file through the effect stage as a recording would; the output starts with the
// stage's silent lead-in. `index` (1..5) selects as the recorder does, else `effect` is used.
bool RenderFileThroughStage(VoiceEffect* effect, int32_t index, size_t bufferBytes,
                            const std::string& in, const std::string& out, std::string& error) {
    AudioData audio;
    if (!ReadAudioFile(in, audio, error))
        return false;
    // With no effect the stage is not in the path: the recording is the input as it came.
    if (effect == nullptr)
        return WriteAudioFile(out, audio, error, VoiceRecipeOf(nullptr));
    EffectStage stage;
    if (index != 0) {
        stage.SelectEffect(index);
    } else {
        stage.SetEffect(effect);
    }
    StageRenderResult rendered = RenderThroughStage(stage, audio.format, audio.pcm, bufferBytes);
    if (!rendered.ok) {
        error = "effect '" + std::string(effect != nullptr ? effect->GetName() : "none") +
                "' failed on '" + in + "' in the effect stage: " + rendered.error;
        return false;
    }
    audio.pcm = std::move(rendered.pcm);
    return WriteAudioFile(out, audio, error, VoiceRecipeOf(effect));
}

}  // namespace

bool RenderFile(VoiceEffect* chosen, const std::string& in, const std::string& out,
                const SampleWidth* width, std::string& error) {
    AudioData audio;
    if (!IsWritableAudioPath(out, error) || !ReadAudioFile(in, audio, error))
        return false;
    if (width != nullptr)
        audio.stored = *width;
    if (chosen == nullptr)
        return WriteAudioFile(out, audio, error, VoiceRecipeOf(nullptr));
    VoiceEffect& effect = *chosen;
    const uint16_t own = audio.format.bitsPerSample;
    std::string firstError;
    ProgressBar progress(effect.GetName());
    const uint16_t order[] = {own, 16, 32};
    for (size_t i = 0; i < std::size(order); ++i) {
        const uint16_t bits = order[i];
        if (i > 0 && bits == own)
            continue;
        AudioData trial = audio;
        ConvertPcm(trial, bits);
        RenderResult rendered = RenderEffect(effect, trial.format, trial.pcm,
                                             [&](double done) { progress.Update(done); });
        if (rendered.ok) {
            trial.pcm = std::move(rendered.pcm);
            return WriteAudioFile(out, trial, error, VoiceRecipeOf(&effect));
        }
        if (firstError.empty())
            firstError = rendered.error;
    }
    error = "effect '" + std::string(effect.GetName()) + "' failed on '" + in + "' (" +
            std::to_string(audio.format.channels) + " channels at " +
            std::to_string(audio.format.samplesPerSec) +
            " Hz, tried 16-bit and float too): " + firstError +
            "; convert it first, for example to 16-bit mono at 44100 Hz with "
            "'sox IN -b 16 -c 1 -r 44100 OUT.wav'";
    return false;
}

const OptionSpec kRenderOptions[] = {
    {"--effect", OptionKind::kText, "NAME|INDEX", 0, 0, nullptr,
     "effect name or index (see 'quillmar list') or none"},
    {"--param", OptionKind::kText, "NAME=VALUE", 0, 0, nullptr,
     "sets an effect parameter within its range", true},
    {"--out-dir", OptionKind::kText, "DIR", 0, 0, nullptr,
     "render every IN into DIR (created if missing), named after IN"},
    {"--format", OptionKind::kText, "wav|flac|mp3", 0, 0, "the input's type, else wav",
     "output type with --out-dir"},
    {"--bits", OptionKind::kText, "8|16|24|32|float", 0, 0, "the input's width",
     "sample width of WAV and FLAC output (FLAC: at most 24)"},
    {"-j", OptionKind::kInt, "N", 1, 256, "the number of cores", "files rendered at once"},
    {"--stage", OptionKind::kFlag, nullptr, 0, 0, nullptr,
     "run through the recorder's effect stage: the output starts with its silent lead-in"},
    {"--buffer-bytes", OptionKind::kInt, "N", 1, 1 << 24, "10 ms of audio",
     "buffer size for --stage"},
};
const CommandSpec kRenderSpec = {
    "render",
    "IN OUT | IN... --out-dir DIR",
    1,
    SIZE_MAX,
    "Runs one effect over IN and writes OUT (.wav, .flac or .mp3), time-aligned with the input "
    "and exactly as long, at the input's width where the type allows. Reads every type "
    "libsndfile reads. An output appears only when complete.",
    kRenderOptions};

std::string OutputName(const std::string& in, const std::string& dir, const std::string& format) {
    std::string name = in.substr(in.find_last_of('/') + 1);
    std::string ext;
    if (const size_t dot = name.find_last_of('.'); dot != std::string::npos && dot > 0) {
        ext = name.substr(dot + 1);
        name.resize(dot);
    }
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!format.empty())
        ext = format;
    else if (ext != "wav" && ext != "flac" && ext != "mp3")
        ext = "wav";
    return dir + "/" + name + "." + ext;
}

// Removes what a worker that died left of `out` (its temporary file).
void RemovePartial(const std::string& out) {
    const size_t slash = out.find_last_of('/');
    const std::string dir = out.substr(0, slash);
    const std::string prefix = out.substr(slash + 1) + ".part";
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0)
                std::remove((dir + "/" + e->d_name).c_str());
        }
        ::closedir(d);
    }
}

// Renders every input into `outs` with up to `jobs` worker processes, each with effects of its
// own; prints each output written. Each output is complete or absent.
int RenderMany(VoiceEffect* effect, const std::vector<std::string>& ins,
               const std::vector<std::string>& outs, const SampleWidth* width, int jobs) {
    std::vector<std::pair<pid_t, size_t>> running;
    std::vector<size_t> failed;
    size_t next = 0;
    ProgressBar progress("render");
    while (next < ins.size() || !running.empty()) {
        while (static_cast<int>(running.size()) < jobs && next < ins.size()) {
            std::fflush(stdout);
            std::fflush(stderr);
            const pid_t pid = jobs > 1 ? ::fork() : -1;
            if (pid <= 0) {
                std::string error;
                const bool ok = RenderFile(effect, ins[next], outs[next], width, error);
                if (ok)
                    std::printf("%s\n", outs[next].c_str());
                else
                    ReportFailure("render", error);
                if (pid == 0) {
                    std::fflush(stdout);
                    std::fflush(stderr);
                    ::_exit(ok ? 0 : 1);
                }
                if (!ok)
                    failed.push_back(next);
                progress.Update(static_cast<double>(++next) / static_cast<double>(ins.size()));
                continue;
            }
            running.emplace_back(pid, next++);
        }
        if (running.empty())
            continue;
        int status = 0;
        const pid_t done = ::waitpid(-1, &status, 0);
        const auto it = std::find_if(running.begin(), running.end(),
                                     [&](const auto& r) { return r.first == done; });
        if (it == running.end())
            continue;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            failed.push_back(it->second);
            if (!WIFEXITED(status)) {
                RemovePartial(outs[it->second]);
                ReportFailure("render", "rendering '" + ins[it->second] + "' crashed");
            }
        }
        running.erase(it);
        progress.Update(static_cast<double>(next - running.size()) /
                        static_cast<double>(ins.size()));
    }
    if (failed.empty())
        return kExitOk;
    std::sort(failed.begin(), failed.end());
    std::string names;
    for (const size_t i : failed)
        names += (names.empty() ? "'" : ", '") + ins[i] + "'";
    return ReportFailure("render", std::to_string(failed.size()) + " of " +
                                       std::to_string(ins.size()) +
                                       " files failed and have no output: " + names);
}

int CommandRender(const std::vector<std::string>& args) {
    ParsedArgs parsed;
    if (const int rc = ParseCommandLine(kRenderSpec, args, parsed); rc >= 0)
        return rc;
    const std::string effectName = parsed.Text("--effect");
    const bool stage = parsed.Has("--stage");
    const auto bufferBytes = static_cast<size_t>(parsed.Number("--buffer-bytes", 0));
    const std::vector<std::string>& files = parsed.Operands();
    const std::string outDir = parsed.Text("--out-dir");
    const std::string format = parsed.Text("--format");
    if (effectName.empty())
        return ReportUsageError("render", "needs --effect NAME");
    if (bufferBytes != 0 && !stage)
        return ReportUsageError("render", "--buffer-bytes needs --stage");
    if (outDir.empty() && files.size() != 2)
        return ReportUsageError("render", "expects IN OUT, or IN... --out-dir DIR");
    if (!format.empty() && format != "wav" && format != "flac" && format != "mp3")
        return ReportUsageError("render", "--format takes wav, flac or mp3, got '" + format + "'");
    if (!outDir.empty() && stage)
        return ReportUsageError("render", "--stage renders one file at a time");
    SampleWidth width;
    if (parsed.Has("--bits") && !ParseSampleWidth(parsed.Text("--bits"), width)) {
        return ReportUsageError(
            "render", "--bits takes 8, 16, 24, 32 or float, got '" + parsed.Text("--bits") + "'");
    }
    const SampleWidth* chosenWidth = parsed.Has("--bits") ? &width : nullptr;
    std::string error;
    VoiceEffect* effect = nullptr;
    int32_t index = 0;
    if (!ChooseEffect(effectName, effect, index, error))
        return ReportUsageError("render", error);
    if (!stage)
        index = 0;
    for (const std::string& assignment : parsed.All("--param")) {
        if (effect == nullptr)
            return ReportUsageError("render", "--param needs an effect other than none");
        if (!ApplyParam(*effect, assignment, error))
            return ReportUsageError("render", error);
    }
    if (!outDir.empty()) {
        std::vector<std::string> outs;
        for (const std::string& in : files) {
            outs.push_back(OutputName(in, outDir, format));
            if (std::count(outs.begin(), outs.end(), outs.back()) > 1)
                return ReportUsageError("render",
                                        "two inputs would both write '" + outs.back() + "'");
        }
        if (::mkdir(outDir.c_str(), 0755) != 0 && errno != EEXIST)
            return Fail("cannot create '" + outDir + "': " + std::strerror(errno));
        const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
        return RenderMany(effect, files, outs, chosenWidth,
                          static_cast<int>(parsed.Number("-j", cores)));
    }
    const bool rendered =
        stage ? RenderFileThroughStage(effect, index, bufferBytes, files[0], files[1], error)
              : RenderFile(effect, files[0], files[1], chosenWidth, error);
    if (!rendered)
        return Fail(error);
    return 0;
}

}  // namespace qm
