#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "effects/phase_vocoder_internal.h"

namespace {

using namespace vocoder;

struct LimitCase {
    uint32_t frameLength, rateHz, channels, limitHz, want;
};

class Limit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(Limit, TruncatesEachDivision) {
    const LimitCase& c = GetParam();
    EXPECT_EQ(LimitBin(c.frameLength, c.rateHz, c.channels, c.limitHz), c.want);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, Limit,
    ::testing::Values(LimitCase{1024, 44100, 1, 9000, 208},  // FemaletoMale, 44100 mono
                      LimitCase{2048, 44100, 2, 9000, 208},  // the same voice in stereo
                      LimitCase{512, 16000, 1, 9000, 288},   // above N/2: reads zero bins
                      LimitCase{256, 8000, 1, 11000, 352},   // Ghost at 8000 Hz: above N
                      LimitCase{1024, 44100, 1, 4000, 92},   // Elder
                      LimitCase{1024, 0, 1, 4000, 0}, LimitCase{1024, 44100, 0, 4000, 0}));

// Worked values of the mappings, quoted to seven significant digits: the stored floats must
// print as those digits (within half a unit of the last one).
TEST(BinMapping, FemaleToMaleGlidesFromItsFactorAtTheBottom) {
    const float m = PitchFactor(-10);
    EXPECT_NEAR(m, 0.561231, 5e-7);
    const float f = LimitedFactor(m, 208, 100);
    EXPECT_NEAR(f, 0.7721776, 5e-8);
    uint32_t idx = 0;
    ASSERT_TRUE(MapBin(100, f, 512, idx));
    EXPECT_EQ(idx, 77u);
    EXPECT_EQ(LimitedFactor(m, 208, 208), 1.0f);
    EXPECT_EQ(LimitedFactor(m, 208, 0), m);
}

TEST(BinMapping, BabyMovesBinsByItsFactorAndDropsWhatLandsAboveNyquist) {
    const float f = PitchFactor(16);
    EXPECT_NEAR(f, 2.519842, 5e-7);
    const uint32_t moves[][2] = {{1, 3}, {10, 25}, {100, 252}, {0, 0}, {203, 512}};
    for (const auto& move : moves) {
        uint32_t idx = 99;
        ASSERT_TRUE(MapBin(move[0], f, 512, idx));
        EXPECT_EQ(idx, move[1]);
    }
    uint32_t idx = 0;
    EXPECT_FALSE(MapBin(204, f, 512, idx));  // 514.5 lands above bin 512
}

// Only out-of-range parameters give these factors: infinite, NaN, negative, zero.
TEST(BinMapping, RefusesFactorsThatLandNowhere) {
    uint32_t idx = 0;
    EXPECT_FALSE(MapBin(3, std::numeric_limits<float>::infinity(), 512, idx));
    EXPECT_FALSE(MapBin(0, std::numeric_limits<float>::quiet_NaN(), 512, idx));
    EXPECT_FALSE(MapBin(3, -1.0f, 512, idx));
    ASSERT_TRUE(MapBin(7, PitchFactor(-1e9), 512, idx));  // factor 0: everything to DC
    EXPECT_EQ(idx, 0u);
}

struct WrapCase {
    double inPi, outPi;
};

class Wrap : public ::testing::TestWithParam<WrapCase> {};

// q = trunc(d/pi) moved to the even number away from zero, then d - q*pi; a deviation that is
// not finite stays as it is (NaN == NaN is false, so compare through isnan).
TEST_P(Wrap, FoldsToTheEvenMultipleOfPiAwayFromZero) {
    const WrapCase& c = GetParam();
    const double out = WrapDeviation(c.inPi * std::numbers::pi);
    if (std::isfinite(c.outPi))
        EXPECT_NEAR(out, c.outPi * std::numbers::pi, 1e-12);
    else
        EXPECT_TRUE(std::isnan(c.outPi) ? std::isnan(out) : out == c.outPi);
}

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(Deviations, Wrap,
                         ::testing::Values(WrapCase{0.5, 0.5}, WrapCase{-0.5, -0.5},
                                           WrapCase{1.5, -0.5}, WrapCase{-1.5, 0.5},
                                           WrapCase{2.5, 0.5}, WrapCase{-2.5, -0.5},
                                           WrapCase{3.25, -0.75}, WrapCase{-3.25, 0.75},
                                           WrapCase{101.0, -1.0}, WrapCase{1e300, 1e300},
                                           WrapCase{kInf, kInf}, WrapCase{kNan, kNan}));

TEST(Modulator, StepsVCyclesPerSecondOfTheInterleavedStream) {
    // Eight frames per 1024-sample block at 44100 Hz: 6 cycles a second is
    // 2*pi*6*128/44100 radians a frame, and the same in stereo with twice the frame.
    EXPECT_NEAR(ModulatorStep(6, 1024, 44100, 1), 2.0 * std::numbers::pi * 6 * 128 / 44100, 1e-7);
    EXPECT_NEAR(ModulatorStep(6, 2048, 44100, 2), ModulatorStep(6, 1024, 44100, 1), 1e-7);
    EXPECT_EQ(ModulatorStep(0, 1024, 44100, 1), 0.0f);
}

TEST(Modulator, GlideRisesOverASixthAndFallsOverTheRest) {
    EXPECT_NEAR(GlideShape(0.0f), 0.0, 1e-12);
    EXPECT_NEAR(GlideShape(static_cast<float>(std::numbers::pi / 6.0)), 1.0, 1e-6);
    EXPECT_NEAR(GlideShape(1.0471976f), 2.0, 1e-6);
    EXPECT_GT(GlideShape(1.2f), GlideShape(3.0f));
    EXPECT_NEAR(GlideShape(static_cast<float>(2.0 * std::numbers::pi)), 0.0, 1e-6);
}

}  // namespace
