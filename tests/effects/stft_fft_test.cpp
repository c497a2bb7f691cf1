#include <gtest/gtest.h>

#include <cmath>
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

// The DFT of N complex points held (re, im) interleaved, in double precision.
std::vector<double> NaiveDft(const std::vector<float>& x, int sign) {
    const size_t n = x.size() / 2;
    std::vector<double> out(2 * n);
    for (size_t k = 0; k < n; ++k) {
        for (size_t t = 0; t < n; ++t) {
            const double a = sign * 2.0 * std::numbers::pi * static_cast<double>((k * t) % n) / n;
            out[2 * k] += x[2 * t] * std::cos(a) - x[2 * t + 1] * std::sin(a);
            out[2 * k + 1] += x[2 * t] * std::sin(a) + x[2 * t + 1] * std::cos(a);
        }
    }
    return out;
}

// Root-mean-square error of got[0 .. want.size()) relative to the RMS of `want`.
double RelativeError(const std::vector<float>& got, const std::vector<double>& want) {
    double err = 0.0, ref = 0.0;
    for (size_t i = 0; i < want.size(); ++i) {
        err += (got[i] - want[i]) * (got[i] - want[i]);
        ref += want[i] * want[i];
    }
    return std::sqrt(err / ref);
}

// Float butterflies lose about one rounding per stage, and the twiddle recurrence adds about
// one more per step along a stage, so the error grows with N: about 3e-9 * N relative in
// practice, bounded here by 1e-8 * N + 2e-6. A wrong twiddle or swap gives errors near 1.
double Tolerance(uint32_t n) {
    return 1e-8 * n + 2e-6;
}

class FftSizes : public ::testing::TestWithParam<uint32_t> {};

// Both directions against the naive DFT, and a round trip that must scale by N.
TEST_P(FftSizes, ReferenceMatchesANaiveDftAndRoundTripsTimesN) {
    const uint32_t n = GetParam();
    const std::vector<float> x = RandomInterleaved(n, n + 7);
    std::vector<float> y = x;
    for (int sign : {kForwardFft, kInverseFft}) {
        const std::vector<double> want = NaiveDft(y, sign);
        FftReference(y.data(), n, sign);
        EXPECT_LT(RelativeError(y, want), Tolerance(n)) << "sign " << sign;
    }
    const std::vector<double> scaled(x.begin(), x.end());
    for (float& v : y)
        v /= static_cast<float>(n);
    EXPECT_LT(RelativeError(y, scaled), 2.0 * Tolerance(n));
}

// The real transforms against the naive DFT of real data: the forward one gives bins 0..N/2,
// the inverse one the real part of the inverse DFT of bins 0..N/2 (the rest zero). Exact
// twiddles keep their error near log2(N) float roundings, well inside the same tolerance.
TEST_P(FftSizes, RealTransformsMatchANaiveDft) {
    const uint32_t n = GetParam();
    RealFft fft;
    ASSERT_EQ(fft.Init(n), n >= 4);
    if (n < 4)
        return;
    std::vector<float> x = RandomInterleaved(n, 5 * n);
    std::vector<float> samples(n), window(n, 1.0f), re(n), im(n), got(n + 2);
    for (uint32_t t = 0; t < n; ++t) {
        samples[t] = x[2 * t];
        x[2 * t + 1] = 0.0f;
    }
    fft.ForwardWindowed(window.data(), samples.data(), re.data(), im.data());
    for (uint32_t k = 0; k <= n / 2; ++k) {
        got[2 * k] = re[k];
        got[2 * k + 1] = im[k];
    }
    std::vector<double> want = NaiveDft(x, kForwardFft);
    want.resize(n + 2);
    EXPECT_LT(RelativeError(got, want), Tolerance(n));

    // Inverse: a random one-sided spectrum; only the real parts of the result are wanted.
    std::vector<float> spectrum = RandomInterleaved(n, 9 * n);
    std::fill(spectrum.begin() + n + 2, spectrum.end(), 0.0f);
    for (uint32_t k = 0; k <= n / 2; ++k) {
        re[k] = spectrum[2 * k];
        im[k] = spectrum[2 * k + 1];
    }
    std::vector<float> out(n);
    fft.InverseRealPart(re.data(), im.data(), out.data());
    const std::vector<double> inverse = NaiveDft(spectrum, kInverseFft);
    std::vector<double> realParts(n);
    for (uint32_t t = 0; t < n; ++t)
        realParts[t] = inverse[2 * t];
    EXPECT_LT(RelativeError(out, realParts), Tolerance(n));
}

INSTANTIATE_TEST_SUITE_P(PowersOfTwo, FftSizes, ::testing::Values(2u, 4u, 8u, 64u, 1024u, 4096u));

TEST(RealFft, RefusesLengthsThatAreNotPowersOfTwo) {
    RealFft fft;
    EXPECT_FALSE(fft.Init(0));
    EXPECT_FALSE(fft.Init(96));
    EXPECT_FALSE(fft.Ready());
}

}  // namespace
