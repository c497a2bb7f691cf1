#pragma once

#include <string>
#include <vector>

#include "lv2/plugin_table.h"

namespace qm {

// The bundle's Turtle data, written from the plugin table: the manifest names every plugin and
// its binary; the description file holds each plugin's ports with their ranges.
std::string ManifestTurtle(const std::vector<PluginInfo>& plugins, const std::string& binaryFile,
                           const std::string& descriptionFile);
std::string PluginsTurtle(const std::vector<PluginInfo>& plugins);

}  // namespace qm
