#include "cli/commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "cli/data_dir.h"
#include "effects/effect_registry.h"

namespace qm {

namespace {

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

}  // namespace

int CommandDemo(const std::vector<std::string>& args) {
    ParsedArgs parsed;
    if (const int rc = ParseCommandLine(kDemoSpec, args, parsed); rc >= 0)
        return rc;
    const std::string outDir = parsed.Text("--out", "quillmar-demo");
    const std::string sample = DataDirectory() + "/samples/sample_voice.wav";
    if (::access(sample.c_str(), R_OK) != 0)
        return ReportFailure(nullptr, "the sample voice is missing: '" + sample + "'");
    if (::mkdir(outDir.c_str(), 0755) != 0 && errno != EEXIST) {
        return ReportFailure(nullptr, "cannot create '" + outDir + "': " + std::strerror(errno));
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
        if (RenderFile(effect, sample, out, nullptr, error)) {
            std::printf("  %-14s %s\n", effect->GetName(), out.c_str());
        } else {
            std::printf("  %-14s failed: %s\n", effect->GetName(), error.c_str());
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}

}  // namespace qm
