#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qm {

// The LV2 plugins the bundle offers, derived from the effects themselves: one per voice and
// channel layout, its ports from the voice's own parameters. The Turtle data and the plugin
// binary both read this table, so they cannot disagree.

inline constexpr uint32_t kMaxPluginChannels = 2;
inline constexpr uint32_t kMaxPluginControls = 4;

// One parameter of the voice as a control input port.
struct PluginControl {
    std::string symbol;  // a C identifier, unique within the plugin
    std::string name;    // the parameter's own name
    int32_t min = 0;
    int32_t max = 0;
    int32_t defaultValue = 0;
};

struct PluginInfo {
    uint32_t voice = 0;     // index into the effect registry
    uint32_t channels = 1;  // 1 or 2
    std::string uri;        // contains "quillmar"
    std::string name;       // "Quillmar Baby", "Quillmar Baby (Stereo)"
    std::vector<PluginControl> controls;

    // Port order: audio inputs, audio outputs, the controls, then the latency output.
    uint32_t FirstInputPort() const { return 0; }
    uint32_t FirstOutputPort() const { return channels; }
    uint32_t FirstControlPort() const { return 2 * channels; }
    uint32_t LatencyPort() const { return 2 * channels + static_cast<uint32_t>(controls.size()); }
    uint32_t PortCount() const { return LatencyPort() + 1; }
};

// Every plugin, voices in registry order, mono before stereo. Built on first use and constant
// afterwards (allocates the first time; safe to call from several threads).
const std::vector<PluginInfo>& PluginTable();

}  // namespace qm
