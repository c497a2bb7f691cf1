#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "dsp/test_signals.h"
#include "effects/effect_instances.h"
#include "effects/effect_registry.h"
#include "effects/effect_stream.h"
#include "effects/male_to_female.h"
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

// Set while the test thread is inside VoiceSwitcher::Transform, the audio side.
thread_local bool tAudioSide = false;
std::atomic<int> gAudioSideSteps{0};

// Male2Female that counts its long steps run on the audio side.
class CountingMaleToFemale : public MaleToFemaleEffect {
  public:
    int Process(const WaveFormat* format, uint8_t* data, const uint32_t* byteCount) override {
        if (tAudioSide)
            ++gAudioSideSteps;
        return MaleToFemaleEffect::Process(format, data, byteCount);
    }
};

// Feeds `in` through in pieces; before piece k, `before(k)` may ask for a switch. Counts what
// the audio side allocates.
template <typename Before>
std::vector<uint8_t> Feed(VoiceSwitcher& voices, std::vector<uint8_t> in, Before before,
                          long* allocations = nullptr) {
    for (size_t at = 0, k = 0; at < in.size(); at += kPiece, ++k) {
        before(k);
        const long was = test_allocations::Count();
        tAudioSide = true;
        voices.Transform({in.data() + at, std::min(kPiece, in.size() - at)});
        tAudioSide = false;
        if (allocations != nullptr)
            *allocations += test_allocations::Count() - was;
    }
    return in;
}

// What a voice switched in at input byte `since` plays once it is heard: a fresh `effect` fed
// the input from twice its delay earlier (silence before the first byte). Byte `lead` + j of
// the result is its output at input byte `since` + j.
std::vector<uint8_t> SettledVoice(VoiceEffect& effect, const std::vector<uint8_t>& input,
                                  size_t since, size_t& lead) {
    EffectStream fresh;
    EXPECT_TRUE(fresh.Prepare(effect, Mono16()));
    lead = 2 * fresh.DelayBytes();
    std::vector<uint8_t> x(lead > since ? lead - since : 0, 0);
    x.insert(x.end(), input.begin() + static_cast<std::ptrdiff_t>(since - std::min(since, lead)),
             input.end());
    fresh.Transform(x);
    return x;
}

bool SameFrom(const std::vector<uint8_t>& a, size_t aFrom, size_t count,
              const std::vector<uint8_t>& b, size_t bFrom) {
    return aFrom + count <= a.size() && bFrom + count <= b.size() &&
           std::equal(a.begin() + aFrom, a.begin() + aFrom + count, b.begin() + bFrom);
}

constexpr size_t kFade = 8 * kRate / 1000 * 2;

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
    const std::vector<uint8_t> out = Feed(
        voices, input,
        [&](size_t k) {
            if (k % 3 == 0) {
                const int id = ++asked % (EffectRegistry::kEffectCount + 1);
                // Effects are made here, by the control side, never inside Transform.
                voices.Switch(id == 0 ? nullptr : NewEffectInstance(id - 1), id);
            }
        },
        &allocations);
    EXPECT_EQ(allocations, 0);
    EXPECT_GT(voices.Switches(), 20u);
    EXPECT_LE(LargestStep(out, skip), ownLargest * 5 / 4);
}

// After a switch to none the voice is the input itself, sample for sample; after a switch to
// Baby it is at once a Baby settled on the moments before the switch.
TEST(VoiceSwitcher, TheNewVoiceIsHeardSettledOnceTheFadeIsOver) {
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
    const size_t since = toBaby * kPiece;
    ASSERT_EQ(voices.CurrentSinceBytes(), since);
    EXPECT_TRUE(SameFrom(out, toNone * kPiece + kFade, since - toNone * kPiece - kFade, input,
                         toNone * kPiece + kFade));
    std::unique_ptr<VoiceEffect> effect = NewEffectInstance(baby);
    size_t lead = 0;
    const std::vector<uint8_t> settled = SettledVoice(*effect, input, since, lead);
    EXPECT_TRUE(SameFrom(out, since + kFade, out.size() - since - kFade, settled, lead + kFade));
}

// Male2Female switched into a stream carried by a server's callback, and out again: on a
// worker, none of its long steps runs on the audio side, its voice is the block voice's own a
// margin later, with nothing late, and the voice unchanged comes back whole. Inline (the
// session's own thread) it runs there, exactly.
class BlockVoiceSwitch : public testing::TestWithParam<bool> {};

TEST_P(BlockVoiceSwitch, RunsWhereItMayWithoutAGap) {
    const bool onWorker = GetParam();
    const std::vector<uint8_t> input = Voice(3.0);
    VoiceSwitcher voices;
    voices.RunBlocksOnWorker(onWorker);
    ASSERT_TRUE(voices.Start(nullptr, 0, Mono16()));
    const size_t toM2f = 40, toNone = 220;
    uint64_t delay = 0;
    long allocations = 0;
    gAudioSideSteps = 0;
    const std::vector<uint8_t> out = Feed(
        voices, input,
        [&](size_t k) {
            if (k == toM2f) {
                ASSERT_EQ(voices.Switch(std::make_unique<CountingMaleToFemale>(), 1),
                          VoiceSwitcher::Offer::kQueued);
            }
            if (k == toNone) {
                delay = voices.AudioDelayBytes();
                ASSERT_EQ(voices.Switch(nullptr, 0), VoiceSwitcher::Offer::kQueued);
            }
            // A callback comes every 10 ms, by when the worker has long done its step.
            while (!voices.AudioCaughtUp())
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        },
        &allocations);
    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(voices.AudioLateBytes(), 0u);
    if (onWorker)
        EXPECT_EQ(gAudioSideSteps.load(), 0);
    else
        EXPECT_GT(gAudioSideSteps.load(), 10);

    MaleToFemaleEffect m2f;
    size_t lead = 0;
    const size_t since = toM2f * kPiece;
    const std::vector<uint8_t> settled = SettledVoice(m2f, input, since, lead);
    EffectStream alone;
    ASSERT_TRUE(alone.Prepare(m2f, Mono16()));
    const size_t margin = delay - alone.DelayBytes();
    EXPECT_EQ(margin > 0, onWorker);
    EXPECT_TRUE(SameFrom(out, since + kFade, (toNone - toM2f) * kPiece - kFade, settled,
                         lead - margin + kFade));
    EXPECT_TRUE(SameFrom(out, toNone * kPiece + kFade, input.size() - toNone * kPiece - kFade,
                         input, toNone * kPiece + kFade));
}

INSTANTIATE_TEST_SUITE_P(WorkerOrInline, BlockVoiceSwitch, testing::Bool());

// A worker that falls behind (input faster than it can step) costs silence, never the voice's
// timing: once it has caught up, the output is where it would have been.
TEST(VoiceSwitcher, ALateWorkerKeepsItsPlace) {
    const std::vector<uint8_t> input = Voice(3.0);
    VoiceSwitcher voices;
    voices.RunBlocksOnWorker(true);
    ASSERT_TRUE(voices.Start(nullptr, 0, Mono16()));
    const size_t toM2f = 10, caughtUp = 70;  // less than a second: nothing is lost
    uint64_t delay = 0;
    const std::vector<uint8_t> out = Feed(voices, input, [&](size_t k) {
        if (k == toM2f)
            voices.Switch(std::make_unique<MaleToFemaleEffect>(), 1);
        if (k >= caughtUp) {
            delay = voices.AudioDelayBytes();
            while (!voices.AudioCaughtUp())
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        if (k == caughtUp) {
            // Let the worker finish what it owes before the next piece is due.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    MaleToFemaleEffect m2f;
    size_t lead = 0;
    const size_t since = toM2f * kPiece;
    const std::vector<uint8_t> settled = SettledVoice(m2f, input, since, lead);
    EffectStream alone;
    ASSERT_TRUE(alone.Prepare(m2f, Mono16()));
    const size_t margin = delay - alone.DelayBytes();
    const size_t from = (caughtUp + 1) * kPiece;
    EXPECT_GT(voices.AudioLateBytes(), 0u);
    EXPECT_TRUE(SameFrom(out, from, input.size() - from, settled, lead - margin + (from - since)));
}

}  // namespace
