#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

#include "dsp/fft.h"
#include "dsp/pitch_internal.h"

using namespace qm;

namespace {

// The transforms build their twiddles from the library's short circle constant (6.2831852),
// whose angles are off by at most 1.1e-7 radians; a bin's error is then bounded by about
// 1.1e-7 * log2(n) * sum |x|. The tolerance 2e-7 * log2(n) * sum |x| allows exactly that; any
// wrong index, sign or butterfly is off by the order of |x| itself.
double Tolerance(const std::vector<double>& x) {
    double sum = 0.0;
    for (double v : x)
        sum += std::fabs(v);
    return 2e-7 * std::log2(static_cast<double>(x.size()) + 1.0) * sum + 1e-12;
}

std::vector<std::complex<double>> NaiveDft(const std::vector<std::complex<double>>& x, int isign) {
    const size_t n = x.size();
    std::vector<std::complex<double>> out(n);
    for (size_t j = 0; j < n; ++j) {
        std::complex<double> sum = 0.0;
        for (size_t k = 0; k < n; ++k) {
            const double angle =
                isign * 2.0 * std::numbers::pi * static_cast<double>((j * k) % n) / n;
            sum += x[k] * std::complex<double>(std::cos(angle), std::sin(angle));
        }
        out[j] = sum;
    }
    return out;
}

std::vector<double> RandomValues(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> v(n);
    for (double& x : v)
        x = u(rng);
    return v;
}

class FftSize : public ::testing::TestWithParam<long> {};

TEST_P(FftSize, ComplexMatchesNaiveDftBothSignsAndRoundTrips) {
    const long nn = GetParam();
    const std::vector<double> raw = RandomValues(2 * nn, static_cast<unsigned>(nn));
    std::vector<std::complex<double>> x(nn);
    for (long k = 0; k < nn; ++k)
        x[k] = {raw[2 * k], raw[2 * k + 1]};
    const double tolerance = Tolerance(raw);
    for (int isign : {1, -1}) {
        std::vector<double> data = raw;
        ASSERT_EQ(fftComplex(data.data() - 1, nn, isign), 1);
        const auto expected = NaiveDft(x, isign);
        for (long j = 0; j < nn; ++j) {
            EXPECT_NEAR(data[2 * j], expected[j].real(), tolerance) << "bin " << j;
            EXPECT_NEAR(data[2 * j + 1], expected[j].imag(), tolerance) << "bin " << j;
        }
        ASSERT_EQ(fftComplex(data.data() - 1, nn, -isign), 1);
        for (long k = 0; k < 2 * nn; ++k)
            EXPECT_NEAR(data[k] / nn, raw[k], 1e-6) << k;  // short constant: ~1e-7 per pass
    }
}

TEST_P(FftSize, RealGivesThePackedSpectrumAndHalfNTimesOnTheWayBack) {
    const long n = 2 * GetParam();
    const std::vector<double> raw = RandomValues(n, static_cast<unsigned>(n) + 7);
    std::vector<std::complex<double>> x(raw.begin(), raw.end());
    const auto expected = NaiveDft(x, 1);
    std::vector<double> data = raw;
    ASSERT_EQ(fftReal(data.data() - 1, n, 1), 1);
    const double tolerance = Tolerance(raw);
    EXPECT_NEAR(data[0], expected[0].real(), tolerance);
    EXPECT_NEAR(data[1], expected[n / 2].real(), tolerance);
    for (long k = 1; k < n / 2; ++k) {
        EXPECT_NEAR(data[2 * k], expected[k].real(), tolerance) << "bin " << k;
        EXPECT_NEAR(data[2 * k + 1], expected[k].imag(), tolerance) << "bin " << k;
    }
    ASSERT_EQ(fftReal(data.data() - 1, n, -1), 1);
    for (long k = 0; k < n; ++k)
        EXPECT_NEAR(data[k], 0.5 * n * raw[k], 1e-6 * n) << k;
}

INSTANTIATE_TEST_SUITE_P(Sizes, FftSize, ::testing::Values(1L, 2L, 4L, 8L, 64L, 512L));

TEST(Fft, RefusesLengthsThatAreNotPowersOfTwo) {
    std::vector<double> data(24, 1.0);
    EXPECT_EQ(fftComplex(data.data() - 1, 12, 1), 0);
    EXPECT_EQ(fftComplex(data.data() - 1, 0, 1), 0);
    EXPECT_EQ(fftComplex(data.data() - 1, 8, 0), 0);
    EXPECT_EQ(fftReal(data.data() - 1, 12, 1), 0);
    EXPECT_EQ(fftReal(data.data() - 1, 1, 1), 0);
    EXPECT_EQ(fftReal(nullptr, 8, 1), 0);
    for (double v : data)
        EXPECT_EQ(v, 1.0);  // refused calls leave the data alone
}

// The per-analysis plan reorganises the transform for speed; the plain fftReal round trip is
// its oracle. Twiddles from tables differ from the recurrence only in the last bits, so the
// results agree to 1e-12 of the lag-0 value. Frames in the lanes of a pair or a quad (aligned
// for the AVX kernels, or not, which takes the plain ones) get the single frame's numbers
// exactly.
class PlanSize : public ::testing::TestWithParam<long> {};

TEST_P(PlanSize, PowerSpectrumRoundTripMatchesFftRealInEveryLane) {
    const long n = GetParam();
    PitchFftPlan plan;
    ASSERT_TRUE(plan.Prepare(n));
    std::vector<std::vector<double>> frames;
    for (unsigned seed = 11; seed < 15; ++seed)
        frames.push_back(RandomValues(n, seed));
    auto reference = [n](std::vector<double> v) {
        fftReal(v.data() - 1, n, 1);
        v[0] *= v[0];
        v[1] *= v[1];
        for (long i = 2; i < n - 1; i += 2) {
            v[i] = v[i] * v[i] + v[i + 1] * v[i + 1];
            v[i + 1] = 0.0;
        }
        fftReal(v.data() - 1, n, -1);
        return v;
    };
    std::vector<std::vector<double>> single = frames;
    for (size_t f = 0; f < frames.size(); ++f) {
        plan.PowerSpectrumRoundTrip(single[f].data() - 1);
        const std::vector<double> expected = reference(frames[f]);
        for (long i = 0; i < n; ++i)
            ASSERT_NEAR(single[f][i], expected[i], 1e-12 * expected[0]) << f << " " << i;
    }
    std::vector<FramePair> pair(n);
    for (long i = 0; i < n; ++i)
        pair[i] = FramePair{frames[0][i], frames[1][i]};
    plan.PowerSpectrumRoundTrip(pair.data() - 1);
    for (int offset : {0, 2}) {  // in doubles from a 32-byte boundary
        std::vector<double> storage(4 * n + 8);
        void* start = storage.data();
        size_t room = storage.size() * sizeof(double);
        auto* quad = reinterpret_cast<FrameQuad*>(
            static_cast<double*>(std::align(kLaneGroupAlignment, 8, start, room)) + offset);
        for (long i = 0; i < n; ++i)
            quad[i] = FrameQuad{frames[0][i], frames[1][i], frames[2][i], frames[3][i]};
        plan.PowerSpectrumRoundTrip(quad - 1);
        for (long i = 0; i < n; ++i) {
            ASSERT_EQ(pair[i][0], single[0][i]) << i;
            ASSERT_EQ(pair[i][1], single[1][i]) << i;
            for (int lane = 0; lane < 4; ++lane)
                ASSERT_EQ(quad[i][lane], single[lane][i]) << offset << " " << lane << " " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, PlanSize, ::testing::Values(4L, 8L, 16L, 32L, 1024L, 4096L));

TEST(PitchFftPlan, RefusesSizesItCannotTransform) {
    PitchFftPlan plan;
    EXPECT_FALSE(plan.Prepare(2));
    EXPECT_FALSE(plan.Prepare(48));
}

}  // namespace
