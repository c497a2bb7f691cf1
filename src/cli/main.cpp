#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/info_command.h"

namespace {

struct Command {
    const char* name;
    int (*run)(const std::vector<std::string>&);
    const char* usage;
};

const Command kCommands[] = {
    {"list", CommandList, "quillmar list"},
    {"render", CommandRender, "quillmar render --effect NAME [--param NAME=VALUE]... IN OUT"},
    {"demo", CommandDemo, "quillmar demo [--out DIR]"},
    {"pitch", CommandPitch, "quillmar pitch IN [--floor HZ] [--ceiling HZ] [--step S]"},
    {"retune", CommandRetune, "quillmar retune --pitch FACTOR --duration FACTOR IN OUT"},
    {"info", CommandInfo, "quillmar info FILE"},
};

void PrintUsage(FILE* to) {
    std::fprintf(to, "usage:\n");
    for (const Command& c : kCommands)
        std::fprintf(to, "  %s\n", c.usage);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(stderr);
        return 2;
    }
    const std::string word = argv[1];
    if (word == "--help" || word == "-h" || word == "help") {
        PrintUsage(stdout);
        return 0;
    }
    for (const Command& c : kCommands) {
        if (word == c.name)
            return c.run(std::vector<std::string>(argv + 2, argv + argc));
    }
    std::fprintf(stderr, "quillmar: unknown command '%s'\n", word.c_str());
    PrintUsage(stderr);
    return 2;
}
