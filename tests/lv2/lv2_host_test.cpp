#include <gtest/gtest.h>
#include <lilv/lilv.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <latch>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cli/render.h"
#include "dsp/test_signals.h"
#include "effects/effect_instances.h"
#include "effects/phase_vocoder_effects.h"
#include "lv2/plugin_table.h"

// The plugins as a host meets them: found through lilv in the built bundle, instantiated,
// their ports connected by the data the bundle declares, run in blocks of many lengths.

namespace {

using Channels = std::vector<std::vector<float>>;

struct LilvWorldDeleter {
    void operator()(LilvWorld* world) const { lilv_world_free(world); }
};
struct LilvNodeDeleter {
    void operator()(LilvNode* node) const { lilv_node_free(node); }
};
struct LilvInstanceDeleter {
    void operator()(LilvInstance* instance) const {
        lilv_instance_deactivate(instance);
        lilv_instance_free(instance);
    }
};
using NodePtr = std::unique_ptr<LilvNode, LilvNodeDeleter>;
using InstancePtr = std::unique_ptr<LilvInstance, LilvInstanceDeleter>;

// One world for the whole suite: the built bundle and the system's LV2 specifications.
LilvWorld* World() {
    static std::unique_ptr<LilvWorld, LilvWorldDeleter> world = [] {
        const std::string path = std::string(QUILLMAR_LV2_DIR) + ":/usr/lib/lv2";
        setenv("LV2_PATH", path.c_str(), 1);
        std::unique_ptr<LilvWorld, LilvWorldDeleter> w(lilv_world_new());
        lilv_world_load_all(w.get());
        return w;
    }();
    return world.get();
}

const LilvPlugin* FindPlugin(const std::string& uri) {
    NodePtr node(lilv_new_uri(World(), uri.c_str()));
    return lilv_plugins_get_by_uri(lilv_world_get_all_plugins(World()), node.get());
}

// Lengths of run() calls: a fixed one, or (0) random lengths of 1 to 8192 frames.
struct BlockPlan {
    uint32_t frames = 0;
    uint32_t seed = 1;
};

struct Rendered {
    bool ok = false;
    Channels output;
    float latency = -1.0f;
};

// A host's run of one plugin over `input` (one vector per channel).
class HostedPlugin {
  public:
    HostedPlugin(const std::string& uri, double rateHz) : plugin_(FindPlugin(uri)) {
        if (plugin_ == nullptr)
            return;
        instance_.reset(lilv_plugin_instantiate(plugin_, rateHz, nullptr));
        if (instance_ == nullptr)
            return;
        NodePtr audio(lilv_new_uri(World(), LV2_CORE__AudioPort));
        NodePtr input(lilv_new_uri(World(), LV2_CORE__InputPort));
        const uint32_t ports = lilv_plugin_get_num_ports(plugin_);
        controlValues_.assign(ports, 0.0f);
        for (uint32_t i = 0; i < ports; ++i) {
            const LilvPort* port = lilv_plugin_get_port_by_index(plugin_, i);
            if (lilv_port_is_a(plugin_, port, audio.get())) {
                (lilv_port_is_a(plugin_, port, input.get()) ? audioIn_ : audioOut_).push_back(i);
                continue;
            }
            LilvNode* def = nullptr;
            lilv_port_get_range(plugin_, port, &def, nullptr, nullptr);
            if (def != nullptr)
                controlValues_[i] = lilv_node_as_float(def);
            lilv_node_free(def);
            symbols_[lilv_node_as_string(lilv_port_get_symbol(plugin_, port))] = i;
            lilv_instance_connect_port(instance_.get(), i, &controlValues_[i]);
        }
        lilv_instance_activate(instance_.get());
    }

    bool Instantiated() const { return instance_ != nullptr; }
    void Set(const std::string& symbol, float value) {
        controlValues_.at(symbols_.at(symbol)) = value;
    }

    Rendered Run(const Channels& input, BlockPlan plan) {
        Rendered r;
        if (instance_ == nullptr || input.size() != audioIn_.size())
            return r;
        const size_t length = input[0].size();
        r.output.assign(audioOut_.size(), std::vector<float>(length, 0.0f));
        std::mt19937 random(plan.seed);
        std::uniform_int_distribution<uint32_t> lengths(1, 8192);
        for (size_t at = 0; at < length;) {
            const auto frames = static_cast<uint32_t>(
                std::min<size_t>(plan.frames != 0 ? plan.frames : lengths(random), length - at));
            for (size_t c = 0; c < audioIn_.size(); ++c) {
                lilv_instance_connect_port(instance_.get(), audioIn_[c],
                                           const_cast<float*>(input[c].data() + at));
                lilv_instance_connect_port(instance_.get(), audioOut_[c], r.output[c].data() + at);
            }
            lilv_instance_run(instance_.get(), frames);
            at += frames;
        }
        r.latency = controlValues_.at(symbols_.at("latency"));
        r.ok = true;
        return r;
    }

  private:
    const LilvPlugin* plugin_;
    InstancePtr instance_;
    std::vector<uint32_t> audioIn_;
    std::vector<uint32_t> audioOut_;
    std::vector<float> controlValues_;
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
            x[i] = static_cast<float>(pcm[i]) / 32768.0f;
        channels.push_back(std::move(x));
    }
    return channels;
}

// What `quillmar render` makes of the same input, time-aligned with it, in the sample format
// the plugin hands the voice (floats for the engine voices, 16-bit PCM for Male2Female).
Channels RenderReference(const PluginInfo& info, const Channels& input, uint32_t rateHz) {
    auto effect = NewEffectInstance(info.voice);
    const bool floats = dynamic_cast<PhaseVocoderEffect*>(effect.get()) != nullptr;
    WaveFormat format;
    format.formatTag = floats ? 3 : 1;
    format.channels = static_cast<uint16_t>(info.channels);
    format.samplesPerSec = rateHz;
    format.bitsPerSample = floats ? 32 : 16;
    format.blockAlign = static_cast<uint16_t>(format.channels * format.bitsPerSample / 8);
    format.avgBytesPerSec = rateHz * format.blockAlign;
    const size_t frames = input[0].size();
    std::vector<uint8_t> bytes(frames * format.blockAlign);
    for (size_t f = 0; f < frames; ++f) {
        for (uint32_t c = 0; c < info.channels; ++c) {
            uint8_t* at = bytes.data() + (f * info.channels + c) * format.bitsPerSample / 8;
            if (floats) {
                std::memcpy(at, &input[c][f], 4);
            } else {
                const auto v = static_cast<int16_t>(std::lround(input[c][f] * 32768.0f));
                std::memcpy(at, &v, 2);
            }
        }
    }
    const RenderResult rendered = RenderEffect(*effect, format, bytes);
    Channels out(info.channels, std::vector<float>(frames, 0.0f));
    if (!rendered.ok)
        return {};
    for (size_t f = 0; f < frames; ++f) {
        for (uint32_t c = 0; c < info.channels; ++c) {
            const uint8_t* at =
                rendered.pcm.data() + (f * info.channels + c) * format.bitsPerSample / 8;
            if (floats) {
                std::memcpy(&out[c][f], at, 4);
            } else {
                int16_t v = 0;
                std::memcpy(&v, at, 2);
                out[c][f] = static_cast<float>(v) / 32768.0f;
            }
        }
    }
    return out;
}

class EveryPlugin : public testing::TestWithParam<size_t> {
  protected:
    const PluginInfo& Info() const { return PluginTable()[GetParam()]; }
};

// However the host cuts the stream, the plugin gives the same samples; shifted by the latency
// it reports they are exactly what the command-line render makes (the same voice on the same
// samples in the same format: no tolerance is needed).
TEST_P(EveryPlugin, AnyBlockLengthsGiveTheRenderShiftedByTheReportedLatency) {
    constexpr uint32_t kRate = 44100;
    const Channels input = Vowels(Info(), kRate);
    const Channels reference = RenderReference(Info(), input, kRate);
    ASSERT_FALSE(reference.empty());

    const BlockPlan plans[] = {{4096, 0}, {1, 0}, {7, 0}, {64, 0}, {0, 11}, {0, 12}};
    Rendered first;
    for (const BlockPlan& plan : plans) {
        HostedPlugin host(Info().uri, kRate);
        ASSERT_TRUE(host.Instantiated());
        const Rendered r = host.Run(input, plan);
        ASSERT_TRUE(r.ok);
        if (!first.ok) {
            first = r;
            continue;
        }
        EXPECT_EQ(r.latency, first.latency);
        EXPECT_TRUE(r.output == first.output)
            << "blocks of " << plan.frames << ", seed " << plan.seed;
    }
    const auto latency = static_cast<size_t>(first.latency);
    ASSERT_EQ(static_cast<float>(latency), first.latency);
    ASSERT_LT(latency, input[0].size() / 2);
    for (uint32_t c = 0; c < Info().channels; ++c) {
        const size_t compared = input[c].size() - latency;
        size_t mismatches = 0;
        for (size_t t = 0; t < compared; ++t)
            mismatches += first.output[c][t + latency] != reference[c][t] ? 1 : 0;
        EXPECT_EQ(mismatches, 0u) << "channel " << c << ", latency " << latency;
    }
}

std::string PluginName(const testing::TestParamInfo<size_t>& info) {
    std::string name = PluginTable()[info.param].uri.substr(std::strlen("urn:quillmar:voice:"));
    for (char& c : name) {
        if (std::isalnum(static_cast<unsigned char>(c)) == 0)
            c = '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Bundle, EveryPlugin, testing::Range<size_t>(0, PluginTable().size()),
                         PluginName);

size_t IndexOf(const std::string& uri) {
    for (size_t i = 0; i < PluginTable().size(); ++i) {
        if (PluginTable()[i].uri == uri)
            return i;
    }
    return std::numeric_limits<size_t>::max();
}

// Two instances of one voice at 44.1 and 48 kHz, run at the same time on two threads as a
// host with two tracks would, each give what a lone instance gives.
class TwoThreads : public testing::TestWithParam<const char*> {};

TEST_P(TwoThreads, TwoRatesGiveEachTheLoneOutput) {
    const PluginInfo& info = PluginTable().at(IndexOf(GetParam()));
    const Channels in44 = Vowels(info, 44100);
    const Channels in48 = Vowels(info, 48000);
    const BlockPlan plan{256, 0};
    const Rendered lone44 = HostedPlugin(info.uri, 44100).Run(in44, plan);
    const Rendered lone48 = HostedPlugin(info.uri, 48000).Run(in48, plan);
    ASSERT_TRUE(lone44.ok && lone48.ok);
    HostedPlugin a(info.uri, 44100);
    HostedPlugin b(info.uri, 48000);
    Rendered out44;
    Rendered out48;
    std::latch start(2);
    std::thread first([&] {
        start.arrive_and_wait();
        out44 = a.Run(in44, plan);
    });
    std::thread second([&] {
        start.arrive_and_wait();
        out48 = b.Run(in48, plan);
    });
    first.join();
    second.join();
    EXPECT_TRUE(out44.output == lone44.output);
    EXPECT_TRUE(out48.output == lone48.output);
}

INSTANTIATE_TEST_SUITE_P(Voices, TwoThreads,
                         testing::Values("urn:quillmar:voice:male2female",
                                         "urn:quillmar:voice:monster-stereo",
                                         "urn:quillmar:voice:ghost"));

// A control outside its range acts as its nearest end, one that is no number as its default,
// and a fraction as the nearest whole value.
TEST(Controls, OutOfRangeValuesAreClamped) {
    const PluginInfo& info = PluginTable().at(IndexOf("urn:quillmar:voice:ghost"));
    const Channels input = Vowels(info, 44100);
    const BlockPlan plan{512, 0};
    auto run = [&](const std::map<std::string, float>& controls) {
        HostedPlugin host(info.uri, 44100);
        for (const auto& [symbol, value] : controls)
            host.Set(symbol, value);
        return host.Run(input, plan).output;
    };
    const auto atEnds = run({{"delay_time", 70}, {"decay_degree", 1}, {"pitchshift", -10}});
    EXPECT_TRUE(run({{"delay_time", 1e9f}, {"decay_degree", -40}, {"pitchshift", -11}}) == atEnds);
    const auto defaults = run({});
    EXPECT_FALSE(atEnds == defaults);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE(run({{"delay_time", nan},
                     {"decay_degree", std::numeric_limits<float>::infinity()},
                     {"pitchshift", -2.6f}}) == defaults);
}

// A rate the voice cannot take fails instantiation and leaves nothing behind (the sanitizer
// build checks the last part).
TEST(Instantiate, RefusesRatesNoFormatStates) {
    for (const double rate :
         {0.0, -44100.0, 44100.5, 1e6, std::numeric_limits<double>::quiet_NaN()}) {
        EXPECT_FALSE(HostedPlugin("urn:quillmar:voice:baby", rate).Instantiated()) << rate;
        EXPECT_FALSE(HostedPlugin("urn:quillmar:voice:male2female", rate).Instantiated()) << rate;
    }
    EXPECT_TRUE(HostedPlugin("urn:quillmar:voice:baby", 8000).Instantiated());
    EXPECT_TRUE(HostedPlugin("urn:quillmar:voice:baby-stereo", 192000).Instantiated());
}

}  // namespace
