// One plugin instance in a lilv host at 48 kHz, run in 256-frame blocks, beside the
// command-line render of the same samples (16-bit, as from a WAV file). items_per_second is
// frames of sound per second of work: 48000 divided by it is the share of one core an
// instance takes in a host.

#include <benchmark/benchmark.h>
#include <lilv/lilv.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli/render.h"
#include "dsp/test_signals.h"
#include "effects/effect_instances.h"
#include "effects/effect_registry.h"

using namespace qm;

namespace {

constexpr uint32_t kRateHz = 48000;
constexpr uint32_t kHostBlock = 256;
constexpr double kSeconds = 10.0;

const std::vector<int16_t>& Voice() {
    static const std::vector<int16_t> voice = test_signals::SteadyVowel(kRateHz, 130.0, kSeconds);
    return voice;
}

LilvWorld* World() {
    static LilvWorld* world = [] {
        const std::string path = std::string(QUILLMAR_LV2_DIR) + ":/usr/lib/lv2";
        setenv("LV2_PATH", path.c_str(), 1);
        LilvWorld* w = lilv_world_new();
        lilv_world_load_all(w);
        return w;
    }();
    return world;
}

std::string UriOf(uint32_t voice) {
    std::string name = EffectRegistry::Instance().Effects()[voice]->GetName();
    std::string symbol;
    for (char c : name)
        symbol += c == ' ' ? '_' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return "urn:quillmar:voice:" + symbol;
}

void BM_Lv2Host(benchmark::State& state) {
    const auto voice = static_cast<uint32_t>(state.range(0));
    state.SetLabel(EffectRegistry::Instance().Effects()[voice]->GetName());
    LilvNode* uri = lilv_new_uri(World(), UriOf(voice).c_str());
    const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(World()), uri);
    lilv_node_free(uri);
    if (plugin == nullptr) {
        state.SkipWithError("plugin not found");
        return;
    }
    LilvInstance* instance = lilv_plugin_instantiate(plugin, kRateHz, nullptr);
    const uint32_t ports = lilv_plugin_get_num_ports(plugin);
    std::vector<float> mins(ports), maxs(ports), controls(ports);
    lilv_plugin_get_port_ranges_float(plugin, mins.data(), maxs.data(), controls.data());
    for (uint32_t i = 2; i < ports; ++i)
        lilv_instance_connect_port(instance, i, &controls[i]);
    std::vector<float> in(Voice().size());
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = Voice()[i] / 32768.0f;
    std::vector<float> out(in.size());
    lilv_instance_activate(instance);
    for (auto _ : state) {
        for (size_t at = 0; at + kHostBlock <= in.size(); at += kHostBlock) {
            lilv_instance_connect_port(instance, 0, in.data() + at);
            lilv_instance_connect_port(instance, 1, out.data() + at);
            lilv_instance_run(instance, kHostBlock);
        }
        benchmark::DoNotOptimize(out.data());
    }
    lilv_instance_deactivate(instance);
    lilv_instance_free(instance);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(in.size()));
}

void BM_Render(benchmark::State& state) {
    const auto voice = static_cast<uint32_t>(state.range(0));
    state.SetLabel(EffectRegistry::Instance().Effects()[voice]->GetName());
    WaveFormat format;
    format.formatTag = 1;
    format.channels = 1;
    format.samplesPerSec = kRateHz;
    format.bitsPerSample = 16;
    format.blockAlign = 2;
    format.avgBytesPerSec = 2 * kRateHz;
    std::vector<uint8_t> bytes(Voice().size() * 2);
    std::memcpy(bytes.data(), Voice().data(), bytes.size());
    for (auto _ : state) {
        auto effect = NewEffectInstance(voice);
        RenderResult r = RenderEffect(*effect, format, bytes);
        benchmark::DoNotOptimize(r.pcm.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(Voice().size()));
}

}  // namespace

BENCHMARK(BM_Lv2Host)->DenseRange(0, 7)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Render)->DenseRange(0, 7)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
