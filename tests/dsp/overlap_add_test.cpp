#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <vector>

#include "dsp/arrays_internal.h"
#include "dsp/contour.h"
#include "dsp/overlap_add.h"
#include "dsp/sound.h"
#include "glottal_signals.h"
#include "test_signals.h"

using namespace qm;

namespace {

constexpr double kRate = 44100.0;

struct Result {
    int32_t code = 0;
    std::vector<int16_t> pcm;
};

Result Change(const std::vector<int16_t>& in, float duration, float pitch, int32_t bits = 16,
              int32_t byteCount = INT32_MIN) {
    int16_t* out = nullptr;
    Result r;
    r.code = ChangePitchDurationPcm16(
        in.data(), byteCount != INT32_MIN ? byteCount : static_cast<int32_t>(2 * in.size()), &out,
        static_cast<float>(kRate), duration, pitch, bits);
    if (r.code > 0) {
        EXPECT_NE(out, nullptr);
        r.pcm.assign(out, out + r.code / 2);
    } else {
        EXPECT_EQ(out, nullptr) << "a failure hands out no buffer";
    }
    delete[] out;
    return r;
}

std::vector<int16_t> Vowel(double f0, double seconds) {
    return test_signals::SteadyVowel(kRate, f0, seconds);
}

struct FactorCase {
    float duration;
    float pitch;
};
class PitchDurationChange : public testing::TestWithParam<FactorCase> {};

// The fundamental follows the pitch factor alone and the length follows the duration factor
// alone (up to the cap of twice the input). The pitch meter's own error on steady vowels is
// well under 1 %; 3 % leaves room for the joins of the resynthesis.
TEST_P(PitchDurationChange, MovesPitchAndLengthIndependently) {
    const FactorCase c = GetParam();
    const double f0 = 110.0;
    const std::vector<int16_t> in = Vowel(f0, 1.0);
    const Result r = Change(in, c.duration, c.pitch);
    ASSERT_GT(r.code, 0);
    const double expectedSamples = std::min(2.0, static_cast<double>(c.duration)) * in.size();
    EXPECT_NEAR(static_cast<double>(r.pcm.size()), expectedSamples, 1.0);
    const double seconds = r.pcm.size() / kRate;
    const double measured =
        glottal_signals::MedianPitchHz(r.pcm, kRate, 0.15 * seconds, 0.85 * seconds);
    EXPECT_NEAR(measured, f0 * c.pitch, 0.03 * f0 * c.pitch);
}
INSTANTIATE_TEST_SUITE_P(Factors, PitchDurationChange,
                         testing::Values(FactorCase{1.0f, 2.0f}, FactorCase{2.0f, 1.0f},
                                         FactorCase{1.26f, 1.5f}, FactorCase{0.5f, 1.0f},
                                         FactorCase{2.5f, 1.0f}, FactorCase{1.0f, 0.7f}));

// Without voicing the block is rebuilt from 10 ms bells every 10 ms whose rising and falling
// halves add up to one, so at duration 1 the signal comes back. The bisection places each bell
// within a sample of its source, so the interior may differ by one sample's change of the
// signal: a slow signal (30 Hz and 17 Hz, below the analysis floor, hence unvoiced) keeps that
// under 42, while a lost, doubled or misplaced bell costs thousands.
TEST(PitchDurationChange, UnvoicedBlockIsRebuiltFromBells) {
    std::vector<int16_t> in(22050);
    for (size_t i = 0; i < in.size(); ++i) {
        const double t = i / kRate;
        in[i] = static_cast<int16_t>(8000.0 * std::sin(2.0 * std::numbers::pi * 30.0 * t) +
                                     3000.0 * std::sin(2.0 * std::numbers::pi * 17.0 * t));
    }
    const Result r = Change(in, 1.0f, 1.0f);
    ASSERT_EQ(r.pcm.size(), in.size());
    for (size_t i = 882; i + 882 < in.size(); ++i)
        ASSERT_LE(std::abs(r.pcm[i] - in[i]), 45) << "sample " << i;
    // The first bell is centred 5 ms in: before it only its rising half, clipped to the sound,
    // fades the signal in over those 5 ms (220.5 samples).
    for (size_t i = 0; i < 200; ++i) {
        const double rise = 0.5 * (1.0 - std::cos(std::numbers::pi * (i + 0.5) / 220.0));
        ASSERT_NEAR(r.pcm[i], in[i] * rise, 45.0) << "sample " << i;
    }
}

constexpr int32_t kWholeInput = INT32_MIN;

struct RefusalCase {
    int32_t bits;
    float duration;
    float pitch;
    int32_t byteCount;  // kWholeInput: the whole 0.3 s vowel
    int32_t code;
};
class PitchDurationRefusal : public testing::TestWithParam<RefusalCase> {};

TEST_P(PitchDurationRefusal, ChecksInOrder) {
    const RefusalCase c = GetParam();
    const std::vector<int16_t> in = Vowel(120.0, 0.3);
    // A block too short for the floor also makes the analysis print its one message.
    testing::internal::CaptureStdout();
    EXPECT_EQ(Change(in, c.duration, c.pitch, c.bits, c.byteCount).code, c.code);
    testing::internal::GetCapturedStdout();
}
INSTANTIATE_TEST_SUITE_P(
    Cases, PitchDurationRefusal,
    testing::Values(RefusalCase{8, 9.0f, 1.0f, -100, kPitchDurationBadWidth},  // width first
                    RefusalCase{16, 2.51f, 1.0f, -100, kPitchDurationBadFactor},
                    RefusalCase{16, 0.09f, 1.0f, kWholeInput, kPitchDurationBadFactor},
                    RefusalCase{16, 1.0f, 1.0f, -100, kPitchDurationTooLong},
                    RefusalCase{16, 1.0f, 0.0f, -100, kPitchDurationTooLong},
                    RefusalCase{16, 1.0f, 0.0f, kWholeInput, kPitchDurationBadFactor},
                    RefusalCase{16, 1.0f, NAN, kWholeInput, kPitchDurationBadFactor},
                    // 0.05 s is too short for a 50 Hz floor (three periods): no analysis.
                    RefusalCase{16, 1.0f, 1.0f, 4410, kPitchDurationNoPitch}));

TEST(PitchDurationRefusal, AcceptsTheEndsOfTheDurationRange) {
    const std::vector<int16_t> in = Vowel(120.0, 0.3);
    EXPECT_GT(Change(in, 2.5f, 1.0f).code, 0);
    EXPECT_GT(Change(in, 0.1f, 1.0f).code, 0);
    int16_t* out = nullptr;
    EXPECT_EQ(ChangePitchDurationPcm16(in.data(), 50000001, &out, 44100.0f, 1.0f, 1.0f, 16),
              kPitchDurationTooLong);
}

// Walking an allocation failure through the call meets every step's code once, in the order
// of the steps, and then success.
TEST(PitchDurationRefusal, EveryStepReportsItsOwnMemoryFailure) {
    const std::vector<int16_t> in = Vowel(120.0, 0.3);
    std::vector<int32_t> codes;
    for (long successes = 0; successes < 100000; ++successes) {
        SetBlockAllocationFailureAfter(successes);
        const int32_t code = Change(in, 1.0f, 1.5f).code;
        SetBlockAllocationFailureAfter(-1);
        if (codes.empty() || codes.back() != code)
            codes.push_back(code);
        if (code > 0)
            break;
    }
    ASSERT_EQ(codes.size(), 7u);
    const int32_t expected[] = {kPitchDurationNoSound,    kPitchDurationNoPitch,
                                kPitchDurationNoPulses,   kPitchDurationNoPitchContour,
                                kPitchDurationNoDuration, kPitchDurationNoResult};
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(codes[i], expected[i]) << "step " << i;
    EXPECT_EQ(codes[6], static_cast<int32_t>(2 * in.size()));
}

TEST(OverlapAddResynthesis, EmptyDurationContourGivesNoSound) {
    const std::vector<int16_t> in(4410, 100);
    Sound source, target;
    ASSERT_EQ(Sound_fromPcm16(&source, in.data(), 2 * 4410, kRate), 1);
    TimeValueContour duration, pitch;
    ASSERT_EQ(TimeValueContour_init(&duration, 0.0, 0.1), 1);
    EXPECT_EQ(Sound_overlapAddResynthesis(&source, nullptr, nullptr, &duration, 0.03, &target), 0);
    // One point and no pitch contour: a silent target of the scaled length.
    ASSERT_EQ(TimeValueContour_addPoint(&duration, 0.05, 1.5), 1);
    ASSERT_EQ(Sound_overlapAddResynthesis(&source, nullptr, nullptr, &duration, 0.03, &target), 1);
    EXPECT_EQ(target.count, 6615);
    EXPECT_TRUE(std::all_of(target.data[1] + 1, target.data[1] + 1 + target.count,
                            [](float v) { return v == 0.0f; }));
    TimeValueContour_free(&duration);
    TimeValueContour_free(&pitch);
    Sound_freeSamples(&source);
    Sound_freeSamples(&target);
}

}  // namespace
