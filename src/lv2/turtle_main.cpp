// The bundle's build tool.
//   quillmar-lv2-turtle BUNDLE_DIR BINARY_FILE   writes manifest.ttl and quillmar.ttl
//   quillmar-lv2-turtle --latency RATE_HZ        each plugin's URI and reported latency in frames

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "effects/effect_instances.h"
#include "lv2/host_stream.h"
#include "lv2/plugin_table.h"
#include "lv2/turtle.h"

using namespace qm;

namespace {

bool WriteFile(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file) {
        std::fprintf(stderr, "quillmar-lv2-turtle: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

// The latency each plugin reports at this rate: what its stream adds, as run() writes it.
int PrintLatencies(const char* rateText) {
    char* end = nullptr;
    const unsigned long rate = std::strtoul(rateText, &end, 10);
    for (const PluginInfo& plugin : PluginTable()) {
        HostStream stream;
        if (*end != '\0' || !stream.Prepare(NewEffectInstance(plugin.voice), plugin.channels,
                                            static_cast<uint32_t>(rate))) {
            std::fprintf(stderr, "quillmar-lv2-turtle: %s does not run at %s Hz\n",
                         plugin.uri.c_str(), rateText);
            return 1;
        }
        std::printf("%s %u\n", plugin.uri.c_str(), stream.LatencyFrames());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--latency")
        return PrintLatencies(argv[2]);
    if (argc != 3) {
        std::fprintf(stderr,
                     "usage: quillmar-lv2-turtle BUNDLE_DIR BINARY_FILE\n"
                     "       quillmar-lv2-turtle --latency RATE_HZ\n");
        return 2;
    }
    const std::string dir = argv[1];
    const auto& plugins = PluginTable();
    const bool ok =
        WriteFile(dir + "/manifest.ttl", ManifestTurtle(plugins, argv[2], "quillmar.ttl")) &&
        WriteFile(dir + "/quillmar.ttl", PluginsTurtle(plugins));
    return ok ? 0 : 1;
}
