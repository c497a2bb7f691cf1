#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <vector>

#include "dsp/arrays_internal.h"
#include "dsp/resample.h"
#include "dsp/sound.h"

using namespace qm;

namespace {

// y as the library's 1-based array.
const double* OneBased(const std::vector<double>& y) {
    return y.data() - 1;
}

TEST(InterpolateSinc, IntegerPositionsAndEndsAreExact) {
    const std::vector<double> y = {3.0, -1.0, 4.0, 1.0, -5.0, 9.0, 2.0, 6.0};
    const long n = static_cast<long>(y.size());
    for (long i = 1; i <= n; ++i)
        EXPECT_EQ(interpolateSinc(OneBased(y), n, static_cast<double>(i), 30), y[i - 1]);
    EXPECT_EQ(interpolateSinc(OneBased(y), n, 0.3, 30), 3.0);  // before the array: y[1]
    EXPECT_EQ(interpolateSinc(OneBased(y), n, 8.4, 30), 6.0);  // beyond it: y[n]
    EXPECT_EQ(interpolateSinc(OneBased(y), n, 1e300, 30), 6.0);
    EXPECT_EQ(interpolateSinc(OneBased(y), n, std::nan(""), 30), 0.0);
    EXPECT_EQ(interpolateSinc(OneBased(y), 0, 1.5, 30), 0.0);
}

struct SincCase {
    const char* name;
    double x;
    long maxDepth;
    double expected;
};

class InterpolateSincHand : public ::testing::TestWithParam<SincCase> {};

// y = 1, 4, 9, 16, 25, 36 (squares). Hand values:
//  depth 0 (maxDepth 0): nearest sample; 2.5 rounds up to y[3] = 9.
//  depth 1: linear, 2.25 -> 4 + 0.25 * 5 = 5.25.
//  depth 2 (cubic, at 3.5: ix = 3, both neighbours exist): yl = 9, yr = 16, dyl = 6, dyr = 8,
//    fil = fir = 0.5: 12.5 - 0.25 * (0.5 * 2 + 0) = 12.25, exactly the square of 3.5.
//  near the end the depth shrinks to the distance from it, even with maxDepth 30: at 4.5
//    (n - ix = 2) the cubic gives 20.25; at 5.5 (n - ix = 1) the linear gives 30.5.
INSTANTIATE_TEST_SUITE_P(Cases, InterpolateSincHand,
                         ::testing::Values(SincCase{"nearest", 2.5, 0, 9.0},
                                           SincCase{"linear", 2.25, 1, 5.25},
                                           SincCase{"cubic", 3.5, 2, 12.25},
                                           SincCase{"cubicNearEnd", 4.5, 30, 20.25},
                                           SincCase{"linearAtEnd", 5.5, 30, 30.5}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(InterpolateSincHand, MatchesHandValue) {
    const std::vector<double> y = {1, 4, 9, 16, 25, 36};
    const SincCase& c = GetParam();
    EXPECT_NEAR(interpolateSinc(OneBased(y), 6, c.x, c.maxDepth), c.expected, 1e-12);
}

TEST(InterpolateSinc, DeepSincReconstructsABandLimitedSine) {
    // A sine well below Nyquist, sampled 400 times: at depth 30 in the middle the windowed
    // sinc is accurate to about 1e-3 of the amplitude; near the ends the depth shrinks to the
    // distance from the nearer end and the error may grow, so only the middle is held tight.
    std::vector<double> y(400);
    for (size_t i = 0; i < y.size(); ++i)
        y[i] = std::sin(0.2 * static_cast<double>(i + 1));
    for (double x = 100.1; x < 300.0; x += 7.3)
        EXPECT_NEAR(interpolateSinc(OneBased(y), 400, x, 30), std::sin(0.2 * x), 2e-3) << x;
}

std::vector<int16_t> Sine(double hz, double rate, double seconds, double amplitude) {
    std::vector<int16_t> pcm(static_cast<size_t>(rate * seconds));
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<int16_t>(
            std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * i / rate)));
    return pcm;
}

// Frequency of a sampled sinusoid from its zero crossings over the middle of the signal.
double ZeroCrossingHz(const std::vector<int16_t>& x, double rate) {
    long first = -1, last = -1, crossings = 0;
    for (size_t i = x.size() / 8; i + 1 < x.size() * 7 / 8; ++i) {
        if (x[i] <= 0 && x[i + 1] > 0) {
            if (first < 0)
                first = static_cast<long>(i);
            last = static_cast<long>(i);
            ++crossings;
        }
    }
    return crossings > 1 ? (crossings - 1) * rate / (last - first) : 0.0;
}

struct SpeedCase {
    float factor;
    double expectedRatio;  // output samples / input samples
};

class ChangeSpeed : public ::testing::TestWithParam<SpeedCase> {};

// Played back at the input rate, the output's tone is factor times higher. Zero crossings over
// thousands of samples give the frequency to well under 0.5 %.
TEST_P(ChangeSpeed, KeepsTheToneAtTheNewRate) {
    const double rate = 16000.0;
    const std::vector<int16_t> in = Sine(440.0, rate, 0.25, 10000.0);
    int16_t* out = nullptr;
    const SpeedCase& c = GetParam();
    const int32_t bytes =
        ChangeSpeedPcm16(in.data(), static_cast<int32_t>(2 * in.size()), &out, 16000.0f, c.factor);
    ASSERT_NE(out, nullptr);
    const std::vector<int16_t> result(out, out + bytes / 2);
    delete[] out;
    EXPECT_NEAR(result.size(), in.size() * c.expectedRatio, 1.0);
    EXPECT_NEAR(ZeroCrossingHz(result, rate), 440.0 * c.factor, 440.0 * c.factor * 0.005);
}

INSTANTIATE_TEST_SUITE_P(Factors, ChangeSpeed,
                         ::testing::Values(SpeedCase{0.5f, 2.0},  // FFT doubling path
                                           SpeedCase{2.0f, 0.5},  // anti-aliasing path
                                           SpeedCase{1.2599f, 1 / 1.2599}, SpeedCase{0.8f, 1.25}));

TEST(ChangeSpeedPcm16, FactorOneReproducesTheSamples) {
    const std::vector<int16_t> in = {0, 100, -200, 300, 32767, -32768, 5, 7};
    int16_t* out = nullptr;
    const int32_t bytes =
        ChangeSpeedPcm16(in.data(), static_cast<int32_t>(2 * in.size()), &out, 44100.0f, 1.0f);
    ASSERT_EQ(bytes, static_cast<int32_t>(2 * in.size()));
    // Linear interpolation gives 0 at and after the last source sample; before that it lands on
    // the samples, and -32768 comes out clipped to -32767.
    const std::vector<int16_t> expected = {0, 100, -200, 300, 32767, -32767, 5, 0};
    EXPECT_EQ(std::vector<int16_t>(out, out + bytes / 2), expected);
    delete[] out;
}

// A block short enough that the speed change leaves a single sample still hands that sample
// out, through both entry points: the streaming path joins such tails into its output. A
// steady input stays near its level (the anti-aliasing low-pass over so few samples rings, by
// up to a fifth here; an undelivered sample would read 0 or the guard).
TEST(ChangeSpeedPcm16, ASingleSampleResultIsStillDelivered) {
    for (const auto& [length, factor] : {std::pair{2, 2.0f}, std::pair{3, 2.5f}}) {
        const std::vector<int16_t> in(static_cast<size_t>(length), 1000);
        const int32_t inBytes = static_cast<int32_t>(2 * in.size());
        int16_t* out = nullptr;
        ASSERT_EQ(ChangeSpeedPcm16(in.data(), inBytes, &out, 8000.0f, factor), 2) << length;
        ASSERT_NE(out, nullptr);
        EXPECT_NEAR(out[0], 1000, 250) << length;
        int16_t into[2] = {-1, -1};
        EXPECT_EQ(ChangeSpeedPcm16Into(in.data(), inBytes, into, 2, 8000.0f, factor), 2);
        EXPECT_EQ(into[0], out[0]) << length;
        EXPECT_EQ(into[1], -1) << "written past the result";
        delete[] out;
    }
}

// Into the caller's buffer the speed change writes every sample of its result, the last one
// too, and nothing after it: a buffer filled with a guard value shows any sample left out.
TEST(ChangeSpeedPcm16, IntoTheCallersBufferWritesTheWholeResult) {
    const std::vector<int16_t> in = Sine(300.0, 8000.0, 0.05, 5000.0);
    const int32_t inBytes = static_cast<int32_t>(2 * in.size());
    constexpr int16_t kGuard = 0x5A5A;
    for (float factor : {0.5f, 1.0f, 1.3f, 2.0f}) {
        int16_t* expected = nullptr;
        const int32_t bytes = ChangeSpeedPcm16(in.data(), inBytes, &expected, 8000.0f, factor);
        ASSERT_GT(bytes, 0) << factor;
        std::vector<int16_t> into(bytes / 2 + 4, kGuard);
        EXPECT_EQ(ChangeSpeedPcm16Into(in.data(), inBytes, into.data(),
                                       static_cast<int32_t>(into.size()), 8000.0f, factor),
                  bytes);
        EXPECT_EQ(std::vector<int16_t>(into.begin(), into.begin() + bytes / 2),
                  std::vector<int16_t>(expected, expected + bytes / 2))
            << factor;
        EXPECT_EQ(std::vector<int16_t>(into.begin() + bytes / 2, into.end()),
                  std::vector<int16_t>(4, kGuard))
            << factor;
        delete[] expected;
    }
}

TEST(ChangeSpeedPcm16, ClipsAtPlusMinus32767) {
    // A full-scale square wave low-passed for decimation overshoots (Gibbs): the 16-bit output
    // must clip, never wrap, and never reach -32768.
    std::vector<int16_t> in(4000);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = (i / 50) % 2 ? -32768 : 32767;
    int16_t* out = nullptr;
    const int32_t bytes =
        ChangeSpeedPcm16(in.data(), static_cast<int32_t>(2 * in.size()), &out, 8000.0f, 1.5f);
    ASSERT_GT(bytes, 0);
    int hitsTop = 0, hitsBottom = 0;
    for (int32_t i = 0; i < bytes / 2; ++i) {
        EXPECT_NE(out[i], -32768);
        hitsTop += out[i] == 32767;
        hitsBottom += out[i] == -32767;
    }
    EXPECT_GT(hitsTop, 0);
    EXPECT_GT(hitsBottom, 0);
    delete[] out;
}

TEST(ChangeSpeedPcm16, RefusesUnusableArguments) {
    const std::vector<int16_t> in(100, 5);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (auto [rate, factor] : {std::pair{0.0f, 1.0f},
                                {-8000.0f, 1.0f},
                                {nan, 1.0f},
                                {inf, 1.0f},
                                {8000.0f, 0.0f},
                                {8000.0f, nan},
                                {8000.0f, inf},
                                {8000.0f, 1e-30f}}) {
        int16_t stale = 0;
        int16_t* out = &stale;  // must be cleared
        EXPECT_EQ(ChangeSpeedPcm16(in.data(), 200, &out, rate, factor), 0) << rate << " " << factor;
        EXPECT_EQ(out, nullptr);
    }
    int16_t* out = nullptr;
    EXPECT_EQ(ChangeSpeedPcm16(in.data(), -2, &out, 8000.0f, 1.0f), 0);
    EXPECT_EQ(ChangeSpeedPcm16(in.data(), 200, nullptr, 8000.0f, 1.0f), 0);
}

TEST(ChangeSpeedPcm16, EveryAllocationFailureIsReportedAndReleasesTheRest) {
    const std::vector<int16_t> in = Sine(300.0, 8000.0, 0.1, 5000.0);
    for (float factor : {0.5f, 2.0f, 1.3f}) {
        for (long successes = 0; successes < 12; ++successes) {
            SetBlockAllocationFailureAfter(successes);
            int16_t* out = nullptr;
            const int32_t bytes = ChangeSpeedPcm16(in.data(), static_cast<int32_t>(2 * in.size()),
                                                   &out, 8000.0f, factor);
            SetBlockAllocationFailureAfter(-1);
            EXPECT_EQ(bytes == 0, out == nullptr) << factor << " " << successes;
            delete[] out;
        }
    }
}

TEST(SoundResample, PathsAndAxes) {
    const std::vector<int16_t> in = Sine(200.0, 8000.0, 0.1, 1000.0);
    Sound source, target, work;
    ASSERT_EQ(Sound_fromPcm16(&source, in.data(), 2 * 800, 8000.0), 1);
    // Exactly twice the rate: doubling, same first time, half the spacing.
    ASSERT_EQ(Sound_resample(&source, &target, &work, 16000.0, 0.5), 1);
    EXPECT_EQ(target.count, 1600);
    EXPECT_DOUBLE_EQ(target.step, 0.5 / 8000.0);
    EXPECT_DOUBLE_EQ(target.firstTime, source.firstTime);
    // The doubled signal holds the source samples at every other position, up to the FFT's
    // taper of the top 5 % of the band (nothing there for a 200 Hz tone): 1e-3 of amplitude.
    for (int i = 1; i <= 800; i += 37)
        EXPECT_NEAR(target.data[1][2 * i - 1], source.data[1][i], 1.0) << i;
    // Half the rate: the source itself is low-passed (a 200 Hz tone passes), the target is
    // centred on the same domain.
    ASSERT_EQ(Sound_resample(&source, &target, &work, 4000.0, 0.5), 1);
    EXPECT_EQ(target.count, 400);
    EXPECT_DOUBLE_EQ(target.firstTime, 0.5 * (0.1 - 399.0 / 4000.0));
    EXPECT_EQ(work.data, nullptr);  // the scratch samples are released again
    // A precision above 1 leaves the target silent.
    ASSERT_EQ(Sound_resample(&source, &target, &work, 6000.0, 3.0), 1);
    for (int i = 1; i <= target.count; ++i)
        ASSERT_EQ(target.data[1][i], 0.0f);
    EXPECT_EQ(Sound_resample(&source, &target, &work, -1.0, 0.5), 0);
    EXPECT_EQ(Sound_resample(&source, &target, &work, 1e300, 0.5), 0);
    // A target rate so low that the cut falls below bin 1: everything is removed, no write
    // before the buffer.
    ASSERT_EQ(Sound_resample(&source, &target, &work, 1.0, 0.5), 1);
    Sound_freeSamples(&source);
    Sound_freeSamples(&target);
}

}  // namespace
