#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "dsp/test_signals.h"
#include "effects/effect_latency.h"
#include "effects/effect_registry.h"
#include "effects/effect_stream.h"
#include "effects/phase_vocoder_effects.h"
#include "test_allocations.h"

using namespace qm;

namespace {

WaveFormat Pcm16(uint32_t rate, uint16_t channels) {
    WaveFormat f;
    f.formatTag = 1;
    f.channels = channels;
    f.samplesPerSec = rate;
    f.bitsPerSample = 16;
    f.blockAlign = static_cast<uint16_t>(channels * 2);
    f.avgBytesPerSec = rate * f.blockAlign;
    return f;
}

// A gliding voice-like tone with some noise, as 16-bit bytes: every bin moves, so a hop out of
// place or a modulator a hop off shows in the output.
std::vector<uint8_t> VoiceBytes(const WaveFormat& format, double seconds) {
    const double samplesPerSecond = static_cast<double>(format.samplesPerSec) * format.channels;
    const std::vector<int16_t> pcm =
        test_signals::Harmonic({.sampleRateHz = samplesPerSecond,
                                .seconds = seconds,
                                .f0Hz = [](double t) { return 120.0 + 80.0 * t; },
                                .noiseToSignalRms = 0.05,
                                .peak = 14000.0});
    std::vector<uint8_t> bytes(pcm.size() * 2);
    std::memcpy(bytes.data(), pcm.data(), bytes.size());
    return bytes;
}

struct StreamCase {
    const char* effect;
    uint32_t rate;
    uint16_t channels;
};

class StreamAgainstBlocks : public ::testing::TestWithParam<StreamCase> {};

// The stream fed in pieces of any size must give the block engine's output sample for sample,
// exactly one step (a hop for the engine voices) later, with silence before it; the delay it
// states is what the comparison finds. Pieces of one byte split samples, hop +- one sample
// splits hops both ways, and random sizes mix them. The ghost's echo (default 0.3 s) needs a
// signal well over a second to repeat a few times.
TEST_P(StreamAgainstBlocks, GivesTheBlockOutputOneStepLater) {
    const StreamCase& c = GetParam();
    VoiceEffect& effect = *EffectRegistry::Instance().FindByName(c.effect);
    const WaveFormat format = Pcm16(c.rate, c.channels);
    const uint32_t blockBytes = effect.GetBlockSize(&format);
    ASSERT_GT(blockBytes, 0u);
    std::vector<uint8_t> input = VoiceBytes(format, 1.3);
    input.resize((input.size() / blockBytes + 1) * blockBytes, 0);

    std::vector<uint8_t> blocks = input;
    effect.Release();
    ASSERT_EQ(effect.Prepare(&format), 1);
    for (size_t at = 0; at < blocks.size(); at += blockBytes)
        ASSERT_EQ(effect.Process(&format, blocks.data() + at, &blockBytes), 1);

    EffectStream stream;
    ASSERT_TRUE(stream.Prepare(effect, format));
    const uint32_t step = stream.StepBytes();
    if (auto* vocoder = dynamic_cast<PhaseVocoderEffect*>(&effect)) {
        EXPECT_EQ(step, vocoder->HopLength() * 2);
        EXPECT_EQ(stream.DelayBytes(), blockBytes) << "one frame of delay, no more";
    } else {
        EXPECT_EQ(step, blockBytes);
        // Male2Female's first block comes out a quarter block (its cross-fade) late, so its
        // output lags a block and a quarter: what the live path must push out at the end.
        EXPECT_EQ(stream.DelayBytes(), blockBytes + blockBytes / 4);
        EXPECT_EQ(EffectLatencyBytes(effect, format), blockBytes / 4);
    }
    std::mt19937 gen(c.channels * 7 + c.rate);
    for (const uint32_t piece : {1u, step - 2, step + 2, 0u}) {
        ASSERT_TRUE(stream.Prepare(effect, format));
        std::vector<uint8_t> out = input;
        const long allocations = test_allocations::Count();
        for (size_t at = 0; at < out.size();) {
            const size_t n =
                piece != 0 ? piece : std::uniform_int_distribution<size_t>(1, 3 * step)(gen);
            const size_t take = std::min(n, out.size() - at);
            stream.Transform({out.data() + at, take});
            at += take;
        }
        EXPECT_EQ(test_allocations::Count(), allocations) << "pieces of " << piece;
        EXPECT_EQ(stream.RefusedSteps(), 0u);
        EXPECT_TRUE(std::all_of(out.begin(), out.begin() + step, [](uint8_t b) { return b == 0; }));
        EXPECT_TRUE(std::equal(out.begin() + step, out.end(), blocks.begin()))
            << "pieces of " << piece;
    }
    stream.Release();
}

std::vector<StreamCase> StreamCases() {
    std::vector<StreamCase> cases;
    for (const char* name :
         {"FemaletoMale", "Baby", "Elder", "Robot", "Monster", "Ghost", "Strange Voice"}) {
        for (uint16_t channels = 1; channels <= 8; ++channels)
            cases.push_back({name, 22050, channels});
        cases.push_back({name, 48000, 1});
    }
    cases.push_back({"Male2Female", 44100, 1});
    cases.push_back({"Male2Female", 22050, 2});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Effects, StreamAgainstBlocks, ::testing::ValuesIn(StreamCases()),
                         [](const auto& info) {
                             std::string name = info.param.effect;
                             std::replace(name.begin(), name.end(), ' ', '_');
                             return name + "_" + std::to_string(info.param.rate) + "_" +
                                    std::to_string(info.param.channels) + "ch";
                         });

}  // namespace
