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

// The real transforms against the naive DFT of real data: the forward one gives bins 0..N/2,
// the inverse one the real part of the inverse DFT of bins 0..N/2 (the rest zero). Exact
// twiddles keep their error near log2(N) float roundings, well inside the same tolerance.
TEST_P(FftSizes, RealTransformsMatchANaiveDft) {
    const uint32_t n = GetParam();
    if (n < 4)
        return;
    RealFft fft;
    ASSERT_TRUE(fft.Init(n));
    std::vector<float> x = RandomInterleaved(n, 5 * n);
    std::vector<float> samples(n), window(n, 1.0f);
    for (uint32_t t = 0; t < n; ++t) {
        samples[t] = x[2 * t];
        x[2 * t + 1] = 0.0f;
    }
    std::vector<float> re(n), im(n);
    fft.ForwardWindowed(window.data(), samples.data(), re.data(), im.data());
    const auto want = NaiveDft(x, kForwardFft);
    std::vector<float> got(2 * n, 0.0f);
    std::vector<std::complex<double>> wantHalf(want.begin(), want.begin() + n / 2 + 1);
    for (uint32_t k = 0; k <= n / 2; ++k) {
        got[2 * k] = re[k];
        got[2 * k + 1] = im[k];
    }
    got.resize(n + 2);
    EXPECT_LT(RelativeError(got, wantHalf), Tolerance(n));

    // Inverse: a random one-sided spectrum.
    std::vector<float> spectrum = RandomInterleaved(n, 9 * n);
    for (uint32_t k = n / 2 + 1; k < n; ++k)
        spectrum[2 * k] = spectrum[2 * k + 1] = 0.0f;
    for (uint32_t k = 0; k <= n / 2; ++k) {
        re[k] = spectrum[2 * k];
        im[k] = spectrum[2 * k + 1];
    }
    const auto inverse = NaiveDft(spectrum, kInverseFft);
    std::vector<float> out(n);
    fft.InverseRealPart(re.data(), im.data(), out.data());
    double err = 0.0, ref = 0.0;
    for (uint32_t t = 0; t < n; ++t) {
        err += (out[t] - inverse[t].real()) * (out[t] - inverse[t].real());
        ref += inverse[t].real() * inverse[t].real();
    }
    EXPECT_LT(std::sqrt(err / ref), Tolerance(n));
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

TEST(RealFft, RefusesLengthsThatAreNotPowersOfTwo) {
    RealFft fft;
    EXPECT_FALSE(fft.Init(0));
    EXPECT_FALSE(fft.Init(2));
    EXPECT_FALSE(fft.Init(96));
    EXPECT_FALSE(fft.Ready());
    EXPECT_TRUE(fft.Init(8));
}

}  // namespace
