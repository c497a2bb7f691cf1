#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "cli/commands.h"
#include "cli/info_command.h"
#include "quillmar_version.h"

using namespace qm;

namespace {

struct Command {
    const char* name;
    int (*run)(const std::vector<std::string>&);
    const char* usage;
};

// One line per command; `quillmar help NAME` and `quillmar NAME --help` give its options.
const Command kCommands[] = {
    {"list", CommandList, "quillmar list"},
    {"render", CommandRender, "quillmar render --effect NAME [--param NAME=VALUE]... IN OUT"},
    {"demo", CommandDemo, "quillmar demo [--out DIR]"},
    {"pitch", CommandPitch, "quillmar pitch IN [--floor HZ] [--ceiling HZ] [--step S]"},
    {"retune", CommandRetune, "quillmar retune --pitch FACTOR --duration FACTOR IN OUT"},
    {"record", CommandRecord, "quillmar record [--effect NAME|INDEX] [--seconds S] [OUT]"},
    {"monitor", CommandMonitor, "quillmar monitor [--effect NAME|INDEX] [--seconds S]"},
    {"live", CommandLive,
     "quillmar live [--effect NAME|INDEX] [--name NAME] [--monitor] [--record OUT]"},
    {"switch", CommandSwitch, "quillmar switch EFFECT|INDEX|none [--pid PID] | --status"},
    {"devices", CommandDevices, "quillmar devices"},
    {"info", CommandInfo, "quillmar info FILE"},
};

void PrintUsage(FILE* to) {
    std::fprintf(to, "usage:\n");
    for (const Command& c : kCommands)
        std::fprintf(to, "  %s\n", c.usage);
    std::fprintf(to,
                 "  quillmar help COMMAND      every option of COMMAND, its range and default\n"
                 "  quillmar --version\n"
                 "exit codes: 0 success, 1 failure, 2 usage error\n");
}

const Command* Find(const std::string& name) {
    for (const Command& c : kCommands) {
        if (name == c.name)
            return &c;
    }
    return nullptr;
}

int UnknownCommand(const std::string& word) {
    std::fprintf(stderr, "quillmar: unknown command '%s'\n", word.c_str());
    PrintUsage(stderr);
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(stderr);
        return kExitUsage;
    }
    const std::string word = argv[1];
    if (word == "--version") {
        std::printf("quillmar %s\n", QUILLMAR_VERSION);
        return kExitOk;
    }
    if (word == "--help" || word == "-h" || word == "help") {
        if (word == "help" && argc > 2) {
            const Command* c = Find(argv[2]);
            return c == nullptr ? UnknownCommand(argv[2]) : c->run({"--help"});
        }
        PrintUsage(stdout);
        return kExitOk;
    }
    if (const Command* c = Find(word))
        return c->run(std::vector<std::string>(argv + 2, argv + argc));
    return UnknownCommand(word);
}
