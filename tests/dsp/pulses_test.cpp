#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "dsp/pitch.h"
#include "dsp/pulses.h"
#include "dsp/sound.h"
#include "glottal_signals.h"
#include "oracles/pulses_reference.h"

using namespace qm;

namespace {

constexpr double kRate = 44100.0;

struct PulseFixture {
    PulseList list;
    explicit PulseFixture(std::initializer_list<double> times) {
        EXPECT_EQ(PulseList_init(&list, 0.0, 1.0, 1), 1);
        for (double t : times)
            EXPECT_EQ(PulseList_addPoint(&list, t), 1);
    }
    ~PulseFixture() { PulseList_free(&list); }
};

TEST(PulseList, KeepsMarksSortedWhenTheyArriveOutOfOrder) {
    PulseFixture p({0.5, 0.3, 0.7, 0.1, 0.3, 0.6});
    ASSERT_EQ(p.list.markCount, 6);
    const double expected[] = {0.1, 0.3, 0.3, 0.5, 0.6, 0.7};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(p.list.times[i + 1], expected[i]);
    EXPECT_GE(p.list.capacity, 6);
    PulseFixture two({0.25, 0.75});  // a tie between two marks goes to the later
    EXPECT_EQ(PulseList_nearestIndex(&two.list, 0.5), 2);
    EXPECT_EQ(PulseList_nearestIndex(&two.list, 0.49), 1);
    PulseFixture empty({});
    EXPECT_EQ(PulseList_nearestIndex(&empty.list, 0.5), 0);
    EXPECT_EQ(PulseList_lowIndex(&empty.list, 0.5), 0);
}

struct IndexCase {
    double time;
    int32_t low;
    int32_t nearest;
};
class PulseListIndex : public testing::TestWithParam<IndexCase> {};

// Marks at 0.125, 0.25, 0.5, 1 (binary fractions, so midpoints are exact ties).
TEST_P(PulseListIndex, LowAndNearest) {
    PulseFixture p({0.125, 0.25, 0.5, 1.0});
    EXPECT_EQ(PulseList_lowIndex(&p.list, GetParam().time), GetParam().low);
    EXPECT_EQ(PulseList_nearestIndex(&p.list, GetParam().time), GetParam().nearest);
}
INSTANTIATE_TEST_SUITE_P(Cases, PulseListIndex,
                         testing::Values(IndexCase{0.0, 0, 1}, IndexCase{0.125, 1, 1},
                                         IndexCase{0.18, 1, 1},
                                         IndexCase{0.1875, 1, 2},  // a tie goes to the later mark
                                         IndexCase{0.37, 2, 2}, IndexCase{0.375, 2, 3},
                                         IndexCase{0.7, 3, 3}, IndexCase{0.75, 3, 4},
                                         IndexCase{1.0, 4, 4}, IndexCase{2.0, 4, 4}));

struct ExtremumCase {
    std::vector<float> y;
    double index;
};
class FindExtremumIndex : public testing::TestWithParam<ExtremumCase> {};

TEST_P(FindExtremumIndex, Table) {
    std::vector<float> y = GetParam().y;
    y.insert(y.begin(), 0.0f);  // 1-based
    EXPECT_DOUBLE_EQ(findExtremumIndex(y.data(), static_cast<int32_t>(y.size() - 1)),
                     GetParam().index);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, FindExtremumIndex,
    testing::Values(ExtremumCase{{}, 0.0}, ExtremumCase{{5}, 1.0}, ExtremumCase{{-3, 2}, 1.0},
                    ExtremumCase{{2, -2}, 1.5}, ExtremumCase{{1, 4}, 2.0},
                    ExtremumCase{{0, 0, 0, 0}, 2.5},  // all zero: the middle
                    ExtremumCase{{9, 1, 1}, 1.0}, ExtremumCase{{1, 1, -9}, 3.0},
                    ExtremumCase{{0, 1, 2, 1, 0}, 3.0},  // symmetric peak
                    // Parabola through (2, 2), (3, 4), (4, 3): vertex at 3 + 0.5 * 1 / 3.
                    ExtremumCase{{0, 2, 4, 3, 0}, 3.0 + 0.5 / 3.0},
                    // The first of equal magnitudes wins; signed values shape the parabola.
                    ExtremumCase{{0, -4, 1, 4, 0}, 2.0 + 0.5 * 1.0 / (-8.0 - 0.0 - 1.0)}));

TEST(FindExtremum, SilentSpanGivesItsMiddle) {
    std::vector<int16_t> zeros(441, 0);
    Sound s;
    ASSERT_EQ(Sound_fromPcm16(&s, zeros.data(), 2 * 441, kRate), 1);
    // The middle sample of the span: within half a sample of its middle time.
    EXPECT_NEAR(Sound_findExtremum(&s, 0.002, 0.004), 0.003, 0.5 / kRate);
    EXPECT_DOUBLE_EQ(Sound_findExtremum(&s, 2.0, 3.0), 2.5);  // no samples in the span
    Sound_freeSamples(&s);
}

// The search that walks from pulse to pulse must choose exactly what the pair-by-pair
// definition chooses, on voice-like signals, on noise and with windows hanging over the ends.
TEST(FindMaximumCorrelation, AgreesWithThePairByPairDefinition) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto glide = glottal_signals::Pulses(kRate, 0.5, [](double t) { return 90 + 300 * t; });
    std::vector<int16_t> noise(22050);
    for (int16_t& v : noise)
        v = static_cast<int16_t>(20000.0 * (unit(rng) - 0.5));
    const std::vector<const std::vector<int16_t>*> signals = {&glide.pcm, &noise};
    for (const std::vector<int16_t>* pcm : signals) {
        Sound s;
        ASSERT_EQ(Sound_fromPcm16(&s, pcm->data(), static_cast<int32_t>(2 * pcm->size()), kRate),
                  1);
        for (int k = 0; k < 300; ++k) {
            const double period = 1.0 / (60.0 + 300.0 * unit(rng));
            const double t1 = -0.01 + 0.52 * unit(rng);
            const double sign = k % 2 == 0 ? 1.0 : -1.0;
            const double a = t1 + sign * 0.8 * period;
            const double b = t1 + sign * 1.2 * period;
            double fastT = -7.0, refT = -7.0;
            const double fast = Sound_findMaximumCorrelation(&s, t1, period, std::min(a, b),
                                                             std::max(a, b), &fastT);
            const double ref = Sound_findMaximumCorrelationReference(&s, t1, period, std::min(a, b),
                                                                     std::max(a, b), &refT);
            ASSERT_EQ(fast, ref) << "t1 " << t1 << " period " << period;
            ASSERT_EQ(fastT, refT) << "t1 " << t1 << " period " << period;
        }
        // A range of no positions finds nothing and leaves tout alone.
        double tout = 42.0;
        EXPECT_EQ(Sound_findMaximumCorrelation(&s, 0.1, 0.008, 0.2, 0.15, &tout), -1.0);
        EXPECT_EQ(tout, 42.0);
        Sound_freeSamples(&s);
    }
}

struct MarkingCase {
    const char* name;
    std::function<double(double)> f0;
    double noise = 0.0;  // RMS of added white noise, in PCM units
};
class PulseMarking : public testing::TestWithParam<MarkingCase> {};

// One mark per glottal period, each close to its pulse instant, and none in the silences.
TEST_P(PulseMarking, OneMarkPerPeriodAtThePulses) {
    auto train = glottal_signals::Pulses(kRate, 1.2, GetParam().f0);
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0.0, GetParam().noise);
    for (int16_t& v : train.pcm)
        v = static_cast<int16_t>(std::clamp(v + noise(rng), -32767.0, 32767.0));
    analysisSampleRate = static_cast<int32_t>(kRate);
    Sound s;
    Pitch pitch;
    PulseList pulses;
    ASSERT_EQ(
        Sound_fromPcm16(&s, train.pcm.data(), static_cast<int32_t>(2 * train.pcm.size()), kRate),
        1);
    ASSERT_NE(Sound_to_Pitch(&s, &pitch, 0.005, 50.0, 400.0), 0);
    ASSERT_EQ(Sound_Pitch_to_PulseList(&pulses, &s, &pitch), 1);
    ASSERT_GT(pulses.markCount, 0);
    for (int32_t i = 2; i <= pulses.markCount; ++i)
        ASSERT_LE(pulses.times[i - 1], pulses.times[i]);

    const double voicedFrom = train.instants.front();
    const double voicedTo = train.instants.back();
    for (int32_t i = 1; i <= pulses.markCount; ++i) {
        const double m = pulses.times[i];
        // The silence is 0.1 s on each side; the analysis window (60 ms) may carry voicing a
        // little past the last pulse, but a mark needs a pulse to correlate with.
        EXPECT_GT(m, voicedFrom - 0.02) << "mark in the leading silence";
        EXPECT_LT(m, voicedTo + 0.02) << "mark in the trailing silence";
    }
    // Every pulse instant away from the stretch's edges (where the pitch track starts late
    // and ends early) has exactly one mark within half a period, at most 5 % of a period off:
    // the pulse peak is sharp, and the correlation's parabola places it well inside a sample.
    int checked = 0;
    const auto& f0 = GetParam().f0;
    for (double tk : train.instants) {
        const double period = 1.0 / f0(tk);
        if (f0(tk - 3.0 * period) <= 0.0 || f0(tk + 3.0 * period) <= 0.0)
            continue;
        int near = 0;
        double offset = 1.0;
        for (int32_t i = 1; i <= pulses.markCount; ++i) {
            if (std::fabs(pulses.times[i] - tk) < 0.5 * period) {
                ++near;
                offset = std::fabs(pulses.times[i] - tk);
            }
        }
        EXPECT_EQ(near, 1) << "pulse at " << tk;
        EXPECT_LT(offset, 0.05 * period) << "pulse at " << tk;
        ++checked;
    }
    EXPECT_GT(checked, 50);
    PulseList_free(&pulses);
    Pitch_freeFrames(&pitch);
    Sound_freeSamples(&s);
}
INSTANTIATE_TEST_SUITE_P(
    Trains, PulseMarking,
    testing::Values(
        MarkingCase{"Steady110Hz", [](double t) { return t > 0.1 && t < 1.1 ? 110.0 : 0.0; }},
        // Noise that brings the period-to-period correlation down to about 0.7.
        MarkingCase{"Noisy130Hz", [](double t) { return t > 0.1 && t < 1.1 ? 130.0 : 0.0; },
                    3000.0},
        MarkingCase{"Glide90To220Hz",
                    [](double t) { return t > 0.1 && t < 1.1 ? 90.0 + 130.0 * (t - 0.1) : 0.0; }},
        MarkingCase{
            "TwoStretches",
            [](double t) { return (t > 0.1 && t < 0.5) || (t > 0.7 && t < 1.1) ? 150.0 : 0.0; }}),
    [](const testing::TestParamInfo<MarkingCase>& info) { return info.param.name; });

struct EdgeCase {
    const char* name;
    bool periodicOutside;  // the pulse train goes on beyond the stretch, else noise there
    int marksPastEachEnd;
};
class PulseMarkingAtStretchEdges : public testing::TestWithParam<EdgeCase> {};

// The walk from a stretch's anchor steps one period past each end of the stretch. There a mark
// belongs only where the sound still repeats the period: a pitch track that ends a little early
// must not cost the last pulse, and a stretch that ends in breath must not gain a false one.
TEST_P(PulseMarkingAtStretchEdges, KeepsAMarkPastTheEndOnlyWhereTheSoundRepeats) {
    const EdgeCase c = GetParam();
    constexpr double kF0 = 120.0;
    constexpr double kStep = 0.005;
    auto train = glottal_signals::Pulses(kRate, 1.0, [](double) { return kF0; });
    // The stretch runs over whole frames, from 0.3975 to 0.6025 s.
    const double stretchStart = 0.4 - 0.5 * kStep;
    const double stretchEnd = 0.6 + 0.5 * kStep;
    if (!c.periodicOutside) {
        // Noise from half a period inside each end on, so the window one period beyond the
        // stretch holds nothing of the pulses.
        std::mt19937 rng(11);
        std::normal_distribution<double> noise(0.0, 4000.0);
        for (size_t j = 0; j < train.pcm.size(); ++j) {
            const double t = (j + 0.5) / kRate;
            if (t < stretchStart + 0.5 / kF0 || t > stretchEnd - 0.5 / kF0)
                train.pcm[j] = static_cast<int16_t>(std::clamp(noise(rng), -32767.0, 32767.0));
        }
    }
    Sound s;
    ASSERT_EQ(
        Sound_fromPcm16(&s, train.pcm.data(), static_cast<int32_t>(2 * train.pcm.size()), kRate),
        1);
    // A track voiced at kF0 over frames 81..121 (0.4 to 0.6 s) only.
    Pitch pitch;
    ASSERT_EQ(Pitch_init(&pitch, 0.0, 1.0, 200, kStep, 0.0, 400.0, 1), 1);
    for (int32_t i = 1; i <= pitch.count; ++i) {
        ASSERT_EQ(PitchFrame_init(&pitch.frames[i], 1), 1);
        pitch.frames[i].candidateCount = 1;
        pitch.frames[i].candidates[1] = {0.9, i >= 81 && i <= 121 ? kF0 : 0.0};
    }
    PulseList pulses;
    ASSERT_EQ(Sound_Pitch_to_PulseList(&pulses, &s, &pitch), 1);
    int before = 0, after = 0;
    for (int32_t i = 1; i <= pulses.markCount; ++i) {
        before += pulses.times[i] < stretchStart ? 1 : 0;
        after += pulses.times[i] > stretchEnd ? 1 : 0;
    }
    EXPECT_EQ(before, c.marksPastEachEnd);
    EXPECT_EQ(after, c.marksPastEachEnd);
    // Inside, the stretch's 24 or 25 pulses (noise may take the two at its ends).
    EXPECT_GE(pulses.markCount - before - after, 23);
    EXPECT_LE(pulses.markCount - before - after, 25);
    PulseList_free(&pulses);
    Pitch_freeFrames(&pitch);
    Sound_freeSamples(&s);
}
INSTANTIATE_TEST_SUITE_P(Outside, PulseMarkingAtStretchEdges,
                         testing::Values(EdgeCase{"VoicingGoesOn", true, 1},
                                         EdgeCase{"Noise", false, 0}),
                         [](const testing::TestParamInfo<EdgeCase>& info) {
                             return info.param.name;
                         });

}  // namespace
