#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "effects/stft_fft.h"

using namespace qm;

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
template <typename T>
double RelativeError(const std::vector<float>& got, const std::vector<T>& want) {
    double err = 0.0, ref = 0.0;
    for (size_t i = 0; i < want.size(); ++i) {
        err += (got[i] - want[i]) * static_cast<double>(got[i] - want[i]);
        ref += static_cast<double>(want[i]) * want[i];
    }
    return std::sqrt(err / ref);
}

// Float butterflies lose about one rounding per stage, and the reference's twiddle recurrence
// adds about one more per step along a stage, so its error grows with N: about 3e-9 * N
// relative in practice, bounded here by 1e-8 * N + 2e-6. A wrong twiddle or swap gives errors
// near 1.
double Tolerance(uint32_t n) {
    return 1e-8 * n + 2e-6;
}

class FftSizes : public ::testing::TestWithParam<uint32_t> {};

// The reference, in both directions, against the naive DFT, and a round trip that must scale
// by N.
TEST_P(FftSizes, ReferenceMatchesANaiveDftAndRoundTripsTimesN) {
    const uint32_t n = GetParam();
    const std::vector<float> x = RandomInterleaved(n, n + 7);
    std::vector<float> y = x;
    for (int sign : {kForwardFft, kInverseFft}) {
        const std::vector<double> want = NaiveDft(y, sign);
        FftReference(y.data(), n, sign);
        EXPECT_LT(RelativeError(y, want), Tolerance(n)) << "sign " << sign;
    }
    for (float& v : y)
        v /= static_cast<float>(n);
    EXPECT_LT(RelativeError(y, x), 2.0 * Tolerance(n));
}

// The engine's real-input transforms give the reference's numbers: the forward one bins 0..N/2
// of a windowed real frame, the inverse one the real parts of the inverse of a spectrum that is
// zero above N/2. Both sit within Tolerance(N) of the exact DFT (the fast path's exact twiddles
// keep it near log2(N) roundings), so they agree with each other within twice that: at most
// 4e-6 relative RMS at N = 4096, where a real fault is off by order 1.
TEST_P(FftSizes, RealTransformsGiveTheReferencesNumbers) {
    const uint32_t n = GetParam();
    RealFft fft;
    ASSERT_EQ(fft.Init(n), n >= 4);
    if (n < 4)
        return;
    std::vector<float> x = RandomInterleaved(n, 5 * n);
    std::vector<float> frame(n), window(n), re(n), im(n), got(n + 2);
    for (uint32_t t = 0; t < n; ++t) {
        frame[t] = x[2 * t];
        window[t] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * t / n));
        x[2 * t] *= window[t];
        x[2 * t + 1] = 0.0f;
    }
    fft.ForwardWindowed(window.data(), frame.data(), re.data(), im.data());
    for (uint32_t k = 0; k <= n / 2; ++k) {
        got[2 * k] = re[k];
        got[2 * k + 1] = im[k];
    }
    FftReference(x.data(), n, kForwardFft);
    x.resize(n + 2);
    EXPECT_LT(RelativeError(got, x), 2.0 * Tolerance(n));

    std::vector<float> spectrum = RandomInterleaved(n, 9 * n);
    std::fill(spectrum.begin() + n + 2, spectrum.end(), 0.0f);
    for (uint32_t k = 0; k <= n / 2; ++k) {
        re[k] = spectrum[2 * k];
        im[k] = spectrum[2 * k + 1];
    }
    std::vector<float> out(n), realParts(n);
    fft.InverseRealPart(re.data(), im.data(), out.data());
    FftReference(spectrum.data(), n, kInverseFft);
    for (uint32_t t = 0; t < n; ++t)
        realParts[t] = spectrum[2 * t];
    EXPECT_LT(RelativeError(out, realParts), 2.0 * Tolerance(n));
}

// 2 is too short for the real transforms, which must refuse it.
INSTANTIATE_TEST_SUITE_P(PowersOfTwo, FftSizes, ::testing::Values(2u, 4u, 8u, 64u, 1024u, 4096u));

}  // namespace
