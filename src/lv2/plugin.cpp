// The LV2 entry points. run() is hard real-time: it reads the controls, clamps them into the
// voice's ranges and runs the stream, nothing else.

#include <lv2/core/lv2.h>

#include <array>
#include <cmath>
#include <memory>
#include <new>
#include <span>
#include <vector>

#include "effects/effect_instances.h"
#include "lv2/host_stream.h"
#include "lv2/plugin_table.h"

namespace qm {

namespace {

struct Instance {
    const PluginInfo* info = nullptr;
    HostStream stream;
    std::array<const float*, kMaxPluginChannels> inputs{};
    std::array<float*, kMaxPluginChannels> outputs{};
    std::array<const float*, kMaxPluginControls> controls{};
    std::array<EffectParam*, kMaxPluginControls> params{};
    float* latency = nullptr;
};

// A control value as the voice's integer parameter: rounded, clamped into its range, and the
// default for a value that is no number at all.
int32_t ClampedControl(float value, const PluginControl& control) {
    if (!std::isfinite(value))
        return control.defaultValue;
    const double rounded = std::nearbyint(static_cast<double>(value));
    if (rounded <= control.min)
        return control.min;
    if (rounded >= control.max)
        return control.max;
    return static_cast<int32_t>(rounded);
}

// Rates the effect's format can state exactly: whole hertz within the plausible range. The
// voice itself refuses the rest when it is prepared.
bool UsableRate(double rateHz) {
    return std::isfinite(rateHz) && rateHz >= 1.0 && rateHz <= kMaxSampleRateHz &&
           rateHz == std::floor(rateHz);
}

std::vector<LV2_Descriptor>& Descriptors();

const PluginInfo* InfoOf(const LV2_Descriptor* descriptor) {
    const auto& descriptors = qm::Descriptors();
    if (descriptor < descriptors.data() || descriptor >= descriptors.data() + descriptors.size())
        return nullptr;
    return &PluginTable()[static_cast<size_t>(descriptor - descriptors.data())];
}

LV2_Handle Instantiate(const LV2_Descriptor* descriptor, double rateHz, const char*,
                       const LV2_Feature* const*) {
    const PluginInfo* info = InfoOf(descriptor);
    if (info == nullptr || !UsableRate(rateHz))
        return nullptr;
    std::unique_ptr<Instance> instance(new (std::nothrow) Instance);
    if (instance == nullptr)
        return nullptr;
    try {
        instance->info = info;
        if (!instance->stream.Prepare(NewEffectInstance(info->voice), info->channels,
                                      static_cast<uint32_t>(rateHz))) {
            return nullptr;
        }
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    uint32_t count = kMaxPluginControls;
    std::array<EffectParam*, kMaxPluginControls> params{};
    instance->stream.Effect().GetParams(params.data(), &count);
    if (count != info->controls.size())
        return nullptr;
    instance->params = params;
    return instance.release();
}

void ConnectPort(LV2_Handle handle, uint32_t port, void* data) {
    auto& instance = *static_cast<Instance*>(handle);
    const PluginInfo& info = *instance.info;
    if (port < info.FirstOutputPort()) {
        instance.inputs[port] = static_cast<const float*>(data);
    } else if (port < info.FirstControlPort()) {
        instance.outputs[port - info.FirstOutputPort()] = static_cast<float*>(data);
    } else if (port < info.LatencyPort()) {
        instance.controls[port - info.FirstControlPort()] = static_cast<const float*>(data);
    } else if (port == info.LatencyPort()) {
        instance.latency = static_cast<float*>(data);
    }
}

void Activate(LV2_Handle handle) {
    auto& instance = *static_cast<Instance*>(handle);
    instance.stream.Restart();
    if (instance.latency != nullptr)
        *instance.latency = static_cast<float>(instance.stream.LatencyFrames());
}

void Run(LV2_Handle handle, uint32_t frames) {
    auto& instance = *static_cast<Instance*>(handle);
    const PluginInfo& info = *instance.info;
    for (size_t i = 0; i < info.controls.size(); ++i) {
        if (instance.controls[i] != nullptr)
            instance.params[i]->SetValue(ClampedControl(*instance.controls[i], info.controls[i]));
    }
    if (instance.latency != nullptr)
        *instance.latency = static_cast<float>(instance.stream.LatencyFrames());
    for (uint32_t c = 0; c < info.channels; ++c) {
        if (instance.inputs[c] == nullptr || instance.outputs[c] == nullptr)
            return;
    }
    instance.stream.Run(std::span(instance.inputs.data(), info.channels),
                        std::span(instance.outputs.data(), info.channels), frames);
}

void Cleanup(LV2_Handle handle) {
    delete static_cast<Instance*>(handle);
}

const void* ExtensionData(const char*) {
    return nullptr;
}

std::vector<LV2_Descriptor>& Descriptors() {
    static std::vector<LV2_Descriptor> descriptors = [] {
        std::vector<LV2_Descriptor> all;
        for (const PluginInfo& info : PluginTable()) {
            all.push_back(LV2_Descriptor{info.uri.c_str(), Instantiate, ConnectPort, Activate, Run,
                                         nullptr, Cleanup, ExtensionData});
        }
        return all;
    }();
    return descriptors;
}

}  // namespace

}  // namespace qm

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    try {
        const auto& descriptors = qm::Descriptors();
        return index < descriptors.size() ? &descriptors[index] : nullptr;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
