// Writes the bundle's Turtle files into the folder given: manifest.ttl and quillmar.ttl.

#include <cstdio>
#include <fstream>
#include <string>

#include "lv2/plugin_table.h"
#include "lv2/turtle.h"

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

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: quillmar-lv2-turtle BUNDLE_DIR BINARY_FILE\n");
        return 2;
    }
    const std::string dir = argv[1];
    const auto& plugins = PluginTable();
    const bool ok =
        WriteFile(dir + "/manifest.ttl", ManifestTurtle(plugins, argv[2], "quillmar.ttl")) &&
        WriteFile(dir + "/quillmar.ttl", PluginsTurtle(plugins));
    return ok ? 0 : 1;
}
