#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "effects/phase_vocoder_internal.h"
#include "effects/vector_math.h"

using namespace qm;

namespace {

using namespace vocoder;

// The vocoder's four-bin trigonometry against the standard library in double precision: phases
// of every quadrant, small and accumulated ones (a phase grows by up to pi per bin and hop), and
// counts that leave a partial group of four. The promise is a couple of 1e-7; 1e-6 leaves room
// for float rounding of the result and still sees a wrong polynomial term (1e-3 and more).
TEST(VectorMath, CosSinAndPhaseAgreeWithTheLibrary) {
    std::mt19937 rng(7);
    for (const double range : {4.0, 100.0, 30000.0}) {
        std::uniform_real_distribution<float> phaseOf(static_cast<float>(-range),
                                                      static_cast<float>(range));
        const uint32_t count = 1003;
        std::vector<float> phase(count), c(count), s(count), back(count);
        for (float& v : phase)
            v = phaseOf(rng);
        CosSinOfPhases(phase.data(), c.data(), s.data(), count);
        PhaseOfBins(s.data(), c.data(), back.data(), count);
        for (uint32_t k = 0; k < count; ++k) {
            const double x = phase[k];
            ASSERT_NEAR(c[k], std::cos(x), 1e-6) << "phase " << x;
            ASSERT_NEAR(s[k], std::sin(x), 1e-6) << "phase " << x;
            ASSERT_NEAR(back[k], std::atan2(static_cast<double>(s[k]), c[k]), 1e-6)
                << "phase " << x;
        }
    }
}

// L = 208 for FemaletoMale's 9 kHz at 44100 Hz, mono or stereo (the stereo frame is twice as
// long). Other rates and limits are compared bin by bin in the engine's oracle test; a format
// without a rate or channels gives no band rather than a division by zero.
TEST(BinMapping, LimitBinOfNineKilohertzAt44100Hz) {
    EXPECT_EQ(LimitBin(1024, 44100, 1, 9000), 208u);
    EXPECT_EQ(LimitBin(2048, 44100, 2, 9000), 208u);
    EXPECT_EQ(LimitBin(1024, 0, 1, 4000), 0u);
    EXPECT_EQ(LimitBin(1024, 44100, 0, 4000), 0u);
}

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

// The fold moves odd quotients away from zero: deviations in [pi, 3 pi) lose 2 pi, those in
// (-3 pi, -pi] gain it, exactly at the odd multiples too. The engine's branch-free fold must
// agree everywhere it is used. What neither can reach is a deviation too large for the integer
// quotient or not finite (only a broken spectrum gives one), which must come back as it went
// in rather than through an undefined conversion.
TEST(WrapDeviation, FoldsOddQuotientsAwayFromZeroAndLeavesHugeOnesAlone) {
    constexpr double pi = std::numbers::pi;
    struct Row {
        double d, folded;  // in units of pi
    };
    for (const Row row :
         {Row{0.5, 0.5}, Row{1.0, -1.0}, Row{2.999, 0.999}, Row{3.0, -1.0}, Row{3.25, -0.75},
          Row{1e6 + 0.5, 0.5}, Row{-0.5, -0.5}, Row{-1.0, 1.0}, Row{-3.0, 1.0}, Row{-5.5, 0.5}}) {
        EXPECT_NEAR(WrapDeviation(row.d * pi), row.folded * pi, 1e-9) << row.d;
        EXPECT_EQ(WrapSmallDeviation(row.d * pi), WrapDeviation(row.d * pi)) << row.d;
    }
    EXPECT_EQ(WrapDeviation(1e300), 1e300);
    EXPECT_TRUE(std::isinf(WrapDeviation(std::numeric_limits<double>::infinity())));
    EXPECT_TRUE(std::isnan(WrapDeviation(std::numeric_limits<double>::quiet_NaN())));
}

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
