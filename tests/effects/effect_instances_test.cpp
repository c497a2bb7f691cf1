#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <latch>
#include <thread>
#include <vector>

#include "dsp/test_signals.h"
#include "effects/effect_instances.h"
#include "effects/effect_registry.h"

using namespace qm;

namespace {

WaveFormat Pcm16Mono(uint32_t rateHz) {
    WaveFormat f;
    f.formatTag = 1;
    f.channels = 1;
    f.samplesPerSec = rateHz;
    f.bitsPerSample = 16;
    f.blockAlign = 2;
    f.avgBytesPerSec = rateHz * 2;
    return f;
}

// One voice's whole output for a vowel at `rateHz`, block by block as the effect stage drives
// it; empty when any step fails.
std::vector<uint8_t> RenderVowel(VoiceEffect& effect, uint32_t rateHz,
                                 std::latch* start = nullptr) {
    const WaveFormat format = Pcm16Mono(rateHz);
    const std::vector<int16_t> vowel = test_signals::SteadyVowel(rateHz, 140.0, 1.2);
    const uint32_t blockBytes = effect.GetBlockSize(&format);
    if (blockBytes == 0 || effect.Prepare(&format) == 0)
        return {};
    if (start != nullptr)
        start->arrive_and_wait();
    const size_t inputBytes = vowel.size() * sizeof(int16_t);
    std::vector<uint8_t> stream((inputBytes / blockBytes + 2) * blockBytes, 0);
    std::memcpy(stream.data(), vowel.data(), inputBytes);
    for (size_t at = 0; at < stream.size(); at += blockBytes) {
        if (effect.Process(&format, stream.data() + at, &blockBytes) == 0) {
            stream.clear();
            break;
        }
    }
    effect.Release();
    return stream;
}

class EffectInstances : public testing::TestWithParam<uint32_t> {};

// Each instance must behave as if it were alone: the same output as a lone instance, whatever
// another instance at another rate does on another thread at the same time. Shared state (a
// library-wide analysis rate, one scratch for the whole library, one random-phase sequence)
// shows up here as outputs that differ from the lone ones or as a crash.
TEST_P(EffectInstances, TwoRatesOnTwoThreadsGiveEachTheLoneOutput) {
    const uint32_t index = GetParam();
    const std::vector<uint8_t> lone44 = RenderVowel(*NewEffectInstance(index), 44100);
    const std::vector<uint8_t> lone48 = RenderVowel(*NewEffectInstance(index), 48000);
    ASSERT_FALSE(lone44.empty());
    ASSERT_FALSE(lone48.empty());

    constexpr int kRounds = 6;
    for (int round = 0; round < kRounds; ++round) {
        auto a = NewEffectInstance(index);
        auto b = NewEffectInstance(index);
        std::vector<uint8_t> out44;
        std::vector<uint8_t> out48;
        // Both start processing together, so their blocks overlap in time.
        std::latch start(2);
        std::thread first([&] { out44 = RenderVowel(*a, 44100, &start); });
        std::thread second([&] { out48 = RenderVowel(*b, 48000, &start); });
        first.join();
        second.join();
        EXPECT_EQ(out44, lone44) << "round " << round;
        EXPECT_EQ(out48, lone48) << "round " << round;
    }
}

INSTANTIATE_TEST_SUITE_P(EveryVoice, EffectInstances,
                         testing::Range<uint32_t>(0, EffectRegistry::kEffectCount),
                         [](const testing::TestParamInfo<uint32_t>& info) {
                             std::string name =
                                 EffectRegistry::Instance().Effects()[info.param]->GetName();
                             std::erase(name, ' ');
                             return name;
                         });

}  // namespace
