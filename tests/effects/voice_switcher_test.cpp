#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dsp/test_signals.h"
#include "effects/effect_instances.h"
#include "effects/effect_registry.h"
#include "effects/effect_stream.h"
#include "effects/voice_switcher.h"
#include "test_allocations.h"

using namespace qm;

namespace {

constexpr uint32_t kRate = 48000;
constexpr size_t kPiece = 960;  // 10 ms of mono 16-bit, as a capture callback delivers

WaveFormat Mono16() {
    WaveFormat f;
    f.formatTag = 1;
    f.channels = 1;
    f.samplesPerSec = kRate;
    f.bitsPerSample = 16;
    f.blockAlign = 2;
    f.avgBytesPerSec = kRate * 2;
    return f;
}

std::vector<uint8_t> Voice(double seconds) {
    const std::vector<int16_t> pcm = test_signals::Harmonic({.sampleRateHz = kRate,
                                                             .seconds = seconds,
                                                             .f0Hz = [](double) { return 160.0; },
                                                             .peak = 9000.0});
    std::vector<uint8_t> bytes(pcm.size() * 2);
    std::memcpy(bytes.data(), pcm.data(), bytes.size());
    return bytes;
}

int LargestStep(const std::vector<uint8_t>& bytes, size_t from) {
    int largest = 0;
    for (size_t at = from + 2; at + 1 < bytes.size(); at += 2) {
        int16_t a = 0, b = 0;
        std::memcpy(&a, &bytes[at - 2], 2);
        std::memcpy(&b, &bytes[at], 2);
        largest = std::max(largest, std::abs(b - a));
    }
    return largest;
}

// Feeds `in` through in pieces; before piece k, `before(k)` may ask for a switch.
template <typename Before>
std::vector<uint8_t> Feed(VoiceSwitcher& voices, std::vector<uint8_t> in, Before before) {
    for (size_t at = 0, k = 0; at < in.size(); at += kPiece, ++k) {
        before(k);
        voices.Transform({in.data() + at, std::min(kPiece, in.size() - at)});
    }
    return in;
}

// A switch every 30 ms through every voice and none: each fade is taken whole, so nothing
// steps further than the voices do on their own, and the audio side takes no memory.
TEST(VoiceSwitcher, SwitchesAsFastAsAskedWithoutAStepOrAnAllocation) {
    const std::vector<uint8_t> input = Voice(4.0);
    const size_t skip = 48000;  // past every voice's start
    int ownLargest = LargestStep(input, 0);
    for (uint32_t i = 0; i < EffectRegistry::kEffectCount; ++i) {
        std::unique_ptr<VoiceEffect> effect = NewEffectInstance(i);
        EffectStream alone;
        ASSERT_TRUE(alone.Prepare(*effect, Mono16()));
        std::vector<uint8_t> out = input;
        alone.Transform(out);
        ownLargest = std::max(ownLargest, LargestStep(out, skip));
    }
    VoiceSwitcher voices;
    ASSERT_TRUE(voices.Start(nullptr, 0, Mono16()));
    long allocations = 0;
    int asked = 0;
    const std::vector<uint8_t> out = Feed(voices, input, [&](size_t k) {
        if (k % 3 == 0) {
            const int id = ++asked % (EffectRegistry::kEffectCount + 1);
            // Effects are made here, by the control side, never inside Transform.
            voices.Switch(id == 0 ? nullptr : NewEffectInstance(id - 1), id);
        }
        allocations = test_allocations::Count();
    });
    EXPECT_EQ(test_allocations::Count(), allocations);
    EXPECT_GT(voices.Switches(), 20u);
    EXPECT_LE(LargestStep(out, skip), ownLargest * 5 / 4);
}

// After a switch to none the voice is the input itself, sample for sample; after a switch to
// Baby it is a fresh Baby fed from the moment of the switch.
TEST(VoiceSwitcher, TheNewVoiceIsHeardWholeOnceTheFadeIsOver) {
    const std::vector<uint8_t> input = Voice(2.0);
    const uint32_t baby = 2;  // registry order
    VoiceSwitcher voices;
    ASSERT_TRUE(voices.Start(EffectRegistry::Instance().Effects()[0], 5, Mono16()));
    const size_t toNone = 20, toBaby = 100;
    const std::vector<uint8_t> out = Feed(voices, input, [&](size_t k) {
        if (k == toNone) {
            EXPECT_EQ(voices.Switch(nullptr, 0), VoiceSwitcher::Offer::kQueued);
            EXPECT_EQ(voices.Switch(nullptr, 0), VoiceSwitcher::Offer::kBusy);
        }
        if (k == toBaby) {
            EXPECT_EQ(voices.Switch(NewEffectInstance(baby), 1), VoiceSwitcher::Offer::kQueued);
        }
    });
    EXPECT_EQ(voices.CurrentId(), 1);
    const size_t fade = 8 * kRate / 1000 * 2;
    EXPECT_TRUE(std::equal(out.begin() + toNone * kPiece + fade, out.begin() + toBaby * kPiece,
                           input.begin() + toNone * kPiece + fade));

    std::unique_ptr<VoiceEffect> effect = NewEffectInstance(baby);
    EffectStream fresh;
    ASSERT_TRUE(fresh.Prepare(*effect, Mono16()));
    std::vector<uint8_t> expected(input.begin() + toBaby * kPiece, input.end());
    fresh.Transform(expected);
    const size_t settled = 2 * fresh.DelayBytes() + fade;
    EXPECT_TRUE(
        std::equal(out.begin() + toBaby * kPiece + settled, out.end(), expected.begin() + settled));
}

}  // namespace
