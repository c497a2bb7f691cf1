#include <gtest/gtest.h>
#include <lilv/lilv.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <latch>
#include <limits>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "cli/render.h"
#include "dsp/test_signals.h"
#include "effects/effect_instances.h"
#include "effects/phase_vocoder_effects.h"
#include "lv2/plugin_table.h"

using namespace qm;

// The plugins as a host meets them: found through lilv in the built bundle, their ports
// connected by the data the bundle declares, run in blocks of many lengths.

// Every heap block taken inside run() is counted: the process's malloc family passes through
// here (the plugin's and libstdc++'s calls included) on the way to the C library's own. The
// sanitizer build keeps its own allocator and counts nothing.
namespace {
thread_local bool t_inRun = false;
thread_local long t_runAllocations = 0;
}  // namespace
#ifndef __SANITIZE_ADDRESS__
extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
extern "C" void* malloc(size_t n) {
    t_runAllocations += t_inRun ? 1 : 0;
    return __libc_malloc(n);
}
extern "C" void* calloc(size_t n, size_t size) {
    t_runAllocations += t_inRun ? 1 : 0;
    return __libc_calloc(n, size);
}
extern "C" void* realloc(void* p, size_t n) {
    t_runAllocations += t_inRun ? 1 : 0;
    return __libc_realloc(p, n);
}
#endif

namespace {

using Channels = std::vector<std::vector<float>>;

// One world for the whole suite: the built bundle and the system's LV2 specifications.
LilvWorld* World() {
    static LilvWorld* world = [] {
        setenv("LV2_PATH", QUILLMAR_LV2_DIR ":/usr/lib/lv2", 1);
        LilvWorld* w = lilv_world_new();
        lilv_world_load_all(w);
        return w;
    }();
    return world;
}

struct Rendered {
    Channels output;
    float latency = -1.0f;
};

// One instance in a host; run() lengths are `block` frames, or random 1..8192 for block 0.
class HostedPlugin {
  public:
    HostedPlugin(const std::string& uri, double rateHz) {
        LilvNode* node = lilv_new_uri(World(), uri.c_str());
        plugin_ = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(World()), node);
        lilv_node_free(node);
        instance_ =
            plugin_ != nullptr ? lilv_plugin_instantiate(plugin_, rateHz, nullptr) : nullptr;
        if (instance_ == nullptr)
            return;
        const uint32_t ports = lilv_plugin_get_num_ports(plugin_);
        std::vector<float> mins(ports), maxs(ports);
        controls_.resize(ports);
        lilv_plugin_get_port_ranges_float(plugin_, mins.data(), maxs.data(), controls_.data());
        LilvNode* audio = lilv_new_uri(World(), LV2_CORE__AudioPort);
        LilvNode* input = lilv_new_uri(World(), LV2_CORE__InputPort);
        for (uint32_t i = 0; i < ports; ++i) {
            const LilvPort* port = lilv_plugin_get_port_by_index(plugin_, i);
            if (lilv_port_is_a(plugin_, port, audio)) {
                (lilv_port_is_a(plugin_, port, input) ? in_ : out_).push_back(i);
            } else {
                symbols_[lilv_node_as_string(lilv_port_get_symbol(plugin_, port))] = i;
                lilv_instance_connect_port(instance_, i, &controls_[i]);
            }
        }
        lilv_node_free(audio);
        lilv_node_free(input);
        lilv_instance_activate(instance_);
    }
    ~HostedPlugin() {
        if (instance_ != nullptr) {
            lilv_instance_deactivate(instance_);
            lilv_instance_free(instance_);
        }
    }
    HostedPlugin(const HostedPlugin&) = delete;
    HostedPlugin& operator=(const HostedPlugin&) = delete;

    bool Instantiated() const { return instance_ != nullptr; }
    void Set(const std::string& symbol, float value) { controls_.at(symbols_.at(symbol)) = value; }

    Rendered Run(const Channels& input, uint32_t block, uint32_t seed = 1) {
        Rendered r;
        if (instance_ == nullptr || input.size() != in_.size())
            return r;
        const size_t length = input[0].size();
        r.output.assign(out_.size(), std::vector<float>(length, 0.0f));
        std::mt19937 random(seed);
        std::uniform_int_distribution<uint32_t> lengths(1, 8192);
        for (size_t at = 0; at < length;) {
            const size_t frames =
                std::min<size_t>(block != 0 ? block : lengths(random), length - at);
            for (size_t c = 0; c < in_.size(); ++c) {
                lilv_instance_connect_port(instance_, in_[c], const_cast<float*>(&input[c][at]));
                lilv_instance_connect_port(instance_, out_[c], &r.output[c][at]);
            }
            t_inRun = true;
            lilv_instance_run(instance_, static_cast<uint32_t>(frames));
            t_inRun = false;
            at += frames;
        }
        r.latency = controls_.at(symbols_.at("latency"));
        return r;
    }

  private:
    const LilvPlugin* plugin_ = nullptr;
    LilvInstance* instance_ = nullptr;
    std::vector<uint32_t> in_, out_;
    std::vector<float> controls_;
    std::map<std::string, uint32_t> symbols_;
};

// A vowel of 1.5 s in every channel (the second a fifth higher), 16-bit exact, followed by
// silence long enough to flush any voice's delay.
Channels Vowels(const PluginInfo& info, uint32_t rateHz) {
    Channels channels;
    for (uint32_t c = 0; c < info.channels; ++c) {
        const auto pcm = test_signals::SteadyVowel(rateHz, c == 0 ? 130.0 : 195.0, 1.5);
        std::vector<float> x(pcm.size() + rateHz / 2, 0.0f);
        for (size_t i = 0; i < pcm.size(); ++i)
            x[i] = pcm[i] / 32768.0f;
        channels.push_back(std::move(x));
    }
    return channels;
}

// What `quillmar render` makes of the same input, time-aligned with it, in the sample format
// the plugin hands the voice (floats for the engine voices, 16-bit PCM for Male2Female).
bool EngineVoice(const VoiceEffect& effect) {
    return dynamic_cast<const PhaseVocoderEffect*>(&effect) != nullptr;
}

WaveFormat VoiceFormat(const VoiceEffect& effect, uint32_t channels, uint32_t rateHz) {
    const uint16_t bytes = EngineVoice(effect) ? 4 : 2;
    return WaveFormat{static_cast<uint16_t>(EngineVoice(effect) ? 3 : 1),
                      static_cast<uint16_t>(channels),
                      rateHz,
                      rateHz * channels * bytes,
                      static_cast<uint16_t>(channels * bytes),
                      static_cast<uint16_t>(8 * bytes),
                      0};
}

Channels RenderReference(const PluginInfo& info, const Channels& input, uint32_t rateHz) {
    auto effect = NewEffectInstance(info.voice);
    const bool floats = EngineVoice(*effect);
    const WaveFormat format = VoiceFormat(*effect, info.channels, rateHz);
    const uint16_t bytes = format.bitsPerSample / 8;
    const size_t samples = input[0].size() * info.channels;
    std::vector<uint8_t> pcm(samples * bytes);
    for (size_t i = 0; i < samples; ++i) {
        const float v = input[i % info.channels][i / info.channels];
        const auto s = static_cast<int16_t>(std::lround(v * 32768.0f));
        std::memcpy(&pcm[i * bytes], floats ? static_cast<const void*>(&v) : &s, bytes);
    }
    const RenderResult rendered = RenderEffect(*effect, format, pcm);
    if (!rendered.ok)
        return {};
    Channels out(info.channels, std::vector<float>(input[0].size()));
    for (size_t i = 0; i < samples; ++i) {
        float v = 0.0f;
        int16_t s = 0;
        std::memcpy(floats ? static_cast<void*>(&v) : &s, &rendered.pcm[i * bytes], bytes);
        out[i % info.channels][i / info.channels] = floats ? v : s / 32768.0f;
    }
    return out;
}

class EveryPlugin : public testing::TestWithParam<size_t> {};

// However the host cuts the stream, the plugin gives the same samples, and run() never takes
// memory; shifted by the latency it reports they are exactly what the command-line render
// makes (the same voice on the same samples in the same format: no tolerance is needed).
TEST_P(EveryPlugin, AnyBlockLengthsGiveTheRenderShiftedByTheReportedLatency) {
    const PluginInfo& info = PluginTable()[GetParam()];
    const Channels input = Vowels(info, 44100);
    const Channels reference = RenderReference(info, input, 44100);
    ASSERT_FALSE(reference.empty());
    t_runAllocations = 0;
    const Rendered first = HostedPlugin(info.uri, 44100).Run(input, 4096);
    ASSERT_FALSE(first.output.empty());
    for (const uint32_t block : {1u, 7u, 64u, 0u}) {
        const Rendered r = HostedPlugin(info.uri, 44100).Run(input, block, block + 11);
        EXPECT_EQ(r.latency, first.latency);
        EXPECT_TRUE(r.output == first.output) << "blocks of " << block << " (0: random)";
    }
    EXPECT_EQ(t_runAllocations, 0) << "run() took memory from the heap";
    const auto latency = static_cast<size_t>(first.latency);
    ASSERT_EQ(static_cast<float>(latency), first.latency);
    ASSERT_LT(latency, input[0].size() / 2);
    // The engine voices stream hop by hop: the host waits at most one of their blocks, where
    // running them block by block would add the voice's own delay to that.
    auto effect = NewEffectInstance(info.voice);
    if (EngineVoice(*effect)) {
        const WaveFormat format = VoiceFormat(*effect, info.channels, 44100);
        EXPECT_LE(latency, effect->GetBlockSize(&format) / format.blockAlign);
    }
    for (uint32_t c = 0; c < info.channels; ++c) {
        size_t mismatches = 0;
        for (size_t t = 0; t + latency < input[c].size(); ++t)
            mismatches += first.output[c][t + latency] != reference[c][t] ? 1 : 0;
        EXPECT_EQ(mismatches, 0u) << "channel " << c << ", latency " << latency;
    }
}

INSTANTIATE_TEST_SUITE_P(Bundle, EveryPlugin, testing::Range<size_t>(0, PluginTable().size()),
                         [](const testing::TestParamInfo<size_t>& p) {
                             std::string name = PluginTable()[p.param].uri.substr(19);
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

const PluginInfo& Plugin(const std::string& uri) {
    for (const PluginInfo& info : PluginTable()) {
        if (info.uri == uri)
            return info;
    }
    throw std::invalid_argument(uri);
}

// Two instances of one voice at 44.1 and 48 kHz, run at the same time on two threads as a
// host with two tracks would, each give what a lone instance gives.
class TwoThreads : public testing::TestWithParam<const char*> {};

TEST_P(TwoThreads, TwoRatesGiveEachTheLoneOutput) {
    const PluginInfo& info = Plugin(GetParam());
    const Channels in44 = Vowels(info, 44100);
    const Channels in48 = Vowels(info, 48000);
    const Channels lone44 = HostedPlugin(info.uri, 44100).Run(in44, 256).output;
    const Channels lone48 = HostedPlugin(info.uri, 48000).Run(in48, 256).output;
    HostedPlugin a(info.uri, 44100);
    HostedPlugin b(info.uri, 48000);
    Channels out44, out48;
    std::latch start(2);
    std::thread first([&] { start.arrive_and_wait(), out44 = a.Run(in44, 256).output; });
    std::thread second([&] { start.arrive_and_wait(), out48 = b.Run(in48, 256).output; });
    first.join();
    second.join();
    EXPECT_FALSE(lone44.empty());
    EXPECT_TRUE(out44 == lone44);
    EXPECT_TRUE(out48 == lone48);
}

INSTANTIATE_TEST_SUITE_P(Voices, TwoThreads,
                         testing::Values("urn:quillmar:voice:male2female",
                                         "urn:quillmar:voice:monster-stereo",
                                         "urn:quillmar:voice:ghost"));

// A control outside its range acts as its nearest end, one that is no number as its default,
// and a fraction as the nearest whole value.
TEST(Controls, OutOfRangeValuesAreClamped) {
    const PluginInfo& info = Plugin("urn:quillmar:voice:ghost");
    const Channels input = Vowels(info, 44100);
    auto run = [&](const std::map<std::string, float>& controls) {
        HostedPlugin host(info.uri, 44100);
        for (const auto& [symbol, value] : controls)
            host.Set(symbol, value);
        return host.Run(input, 512).output;
    };
    const Channels atEnds = run({{"delay_time", 70}, {"decay_degree", 1}, {"pitchshift", -10}});
    EXPECT_TRUE(run({{"delay_time", 1e9f}, {"decay_degree", -40}, {"pitchshift", -11}}) == atEnds);
    const Channels defaults = run({});
    EXPECT_FALSE(atEnds == defaults);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_TRUE(run({{"delay_time", nan}, {"decay_degree", inf}, {"pitchshift", -2.6f}}) ==
                defaults);
}

// A rate the voice cannot take fails instantiation and leaves nothing behind (the sanitizer
// build checks the last part).
TEST(Instantiate, RefusesRatesNoFormatStates) {
    for (const double rate : {0.0, -44100.0, 44100.5, 1e6, std::nan("")}) {
        EXPECT_FALSE(HostedPlugin("urn:quillmar:voice:baby", rate).Instantiated()) << rate;
        EXPECT_FALSE(HostedPlugin("urn:quillmar:voice:male2female", rate).Instantiated()) << rate;
    }
    EXPECT_TRUE(HostedPlugin("urn:quillmar:voice:baby", 8000).Instantiated());
    EXPECT_TRUE(HostedPlugin("urn:quillmar:voice:baby-stereo", 192000).Instantiated());
}

}  // namespace
