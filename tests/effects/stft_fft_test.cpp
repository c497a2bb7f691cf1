#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

#include "effects/stft_fft.h"

namespace {

std::vector<float> RandomInterleaved(uint32_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> v(2 * n);
    for (float& x : v)
        x = dist(gen);
    return v;
}

std::vector<std::complex<double>> NaiveDft(const std::vector<float>& x, int sign) {
    const size_t n = x.size() / 2;
    std::vector<std::complex<double>> out(n);
    for (size_t k = 0; k < n; ++k) {
        std::complex<double> sum = 0.0;
        for (size_t t = 0; t < n; ++t) {
            const double a = sign * 2.0 * std::numbers::pi * static_cast<double>((k * t) % n) / n;
            sum += std::complex<double>(x[2 * t], x[2 * t + 1]) *
                   std::complex<double>(std::cos(a), std::sin(a));
        }
        out[k] = sum;
    }
    return out;
}

// Root-mean-square error of `got` against `want`, relative to the RMS of `want`.
double RelativeError(const std::vector<float>& got, const std::vector<std::complex<double>>& want) {
    double err = 0.0;
    double ref = 0.0;
    for (size_t k = 0; k < want.size(); ++k) {
        err += std::norm(std::complex<double>(got[2 * k], got[2 * k + 1]) - want[k]);
        ref += std::norm(want[k]);
    }
    return std::sqrt(err / ref);
}

class FftSizes : public ::testing::TestWithParam<uint32_t> {};

// Float butterflies lose about one rounding per stage, and the twiddle recurrence adds about
// one more per step along a stage, so the error grows with N: about 3e-9 * N relative in
// practice, bounded here by 1e-8 * N + 2e-6. A wrong twiddle or swap gives errors near 1.
double Tolerance(uint32_t n) {
    return 1e-8 * n + 2e-6;
}

TEST_P(FftSizes, ReferenceMatchesANaiveDftBothWays) {
    const uint32_t n = GetParam();
    for (int sign : {kForwardFft, kInverseFft}) {
        std::vector<float> x = RandomInterleaved(n, n + 7);
        const auto want = NaiveDft(x, sign);
        FftReference(x.data(), n, sign);
        EXPECT_LT(RelativeError(x, want), Tolerance(n)) << "sign " << sign;
    }
}

TEST_P(FftSizes, PlanEqualsTheReferenceBitForBit) {
    const uint32_t n = GetParam();
    FftPlan plan;
    ASSERT_TRUE(plan.Init(n));
    for (int sign : {kForwardFft, kInverseFft}) {
        std::vector<float> a = RandomInterleaved(n, 3 * n);
        std::vector<float> b = a;
        FftReference(a.data(), n, sign);
        plan.Transform(b.data(), sign);
        EXPECT_EQ(a, b) << "sign " << sign;
    }
}

TEST_P(FftSizes, RoundTripScalesByN) {
    const uint32_t n = GetParam();
    const std::vector<float> x = RandomInterleaved(n, 11 * n);
    std::vector<float> y = x;
    FftReference(y.data(), n, kForwardFft);
    FftReference(y.data(), n, kInverseFft);
    double worst = 0.0;
    for (size_t i = 0; i < x.size(); ++i)
        worst = std::max(worst, std::fabs(y[i] / static_cast<double>(n) - x[i]));
    EXPECT_LT(worst, 2.0 * Tolerance(n));
}

INSTANTIATE_TEST_SUITE_P(PowersOfTwo, FftSizes, ::testing::Values(2u, 4u, 8u, 64u, 1024u, 4096u));

TEST(FftPlan, RefusesLengthsThatAreNotPowersOfTwo) {
    FftPlan plan;
    EXPECT_FALSE(plan.Init(0));
    EXPECT_FALSE(plan.Init(1));
    EXPECT_FALSE(plan.Init(96));
    EXPECT_FALSE(plan.Ready());
}

}  // namespace
