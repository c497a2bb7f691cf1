#include <cmath>
#include <cstdint>
#include <new>

#include "dsp/constants.h"
#include "dsp/fft.h"
#include "dsp/pitch_fft_kernels.h"
#include "dsp/pitch_internal.h"

namespace qm {

// The same transforms as fftComplex and fftReal, reorganised for many frames of one size:
// twiddles from tables instead of the trigonometric recurrence; the forward transform by
// decimation in frequency, which leaves the spectrum in bit-reversed order, and the inverse by
// decimation in time, which takes it in that order, so neither reorders the data; and the
// real-FFT split, the power spectrum and the inverse split fused into one pass over the
// spectrum. Only the rounding differs from the plain version.

bool PitchFftPlan::Prepare(long n) {
    tables_ = {};
    if (n < 4 || !IsPowerOfTwo(n))
        return false;
    const long nc = n / 2;  // complex points
    if (!reversed_.Allocate(nc) || !cos_.Allocate(nc) || !sin_.Allocate(nc) ||
        !unpackCos_.Allocate(n / 4 + 1) || !unpackSin_.Allocate(n / 4 + 1)) {
        return false;
    }

    int bits = 0;
    while ((1L << bits) < nc)
        ++bits;
    for (long c = 0; c < nc; ++c) {
        long rev = 0;
        for (int b = 0; b < bits; ++b)
            rev |= ((c >> b) & 1L) << (bits - 1 - b);
        reversed_[c] = rev;
    }
    // Stage with butterflies h complex points apart: twiddle k is exp(i k theta) with theta the
    // library's 2 PI over the group length (2h points), exactly what the recurrence approximates.
    for (long h = 1; h < nc; h *= 2) {
        const double theta = kDspTwoPi / static_cast<double>(2 * h);
        for (long k = 0; k < h; ++k) {
            cos_[h - 1 + k] = std::cos(k * theta);
            sin_[h - 1 + k] = std::sin(k * theta);
        }
    }
    const double theta = kDspPi / static_cast<double>(n / 2);
    for (long i = 2; i <= n / 4; ++i) {
        unpackCos_[i] = std::cos((i - 1) * theta);
        unpackSin_[i] = std::sin((i - 1) * theta);
    }
    tables_ = {n, reversed_.get(), cos_.get(), sin_.get(), unpackCos_.get(), unpackSin_.get()};
    return true;
}

void PitchFftPlan::PowerSpectrumRoundTrip(double* data) const {
    qm::PowerSpectrumRoundTrip(tables_, data);
}

void PitchFftPlan::PowerSpectrumRoundTrip(FramePair* data) const {
    qm::PowerSpectrumRoundTrip(tables_, data);
}

bool PitchFftPlan::WideLanesAvailable() {
#if defined(QUILLMAR_PITCH_FFT_AVX)
    static const bool available = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx") != 0;
    }();
    return available;
#else
    return false;
#endif
}

void PitchFftPlan::PowerSpectrumRoundTrip(FrameQuad* data) const {
#if defined(QUILLMAR_PITCH_FFT_AVX)
    if (WideLanesAvailable() && reinterpret_cast<uintptr_t>(data + 1) % kLaneGroupAlignment == 0) {
        PowerSpectrumRoundTripAvx(tables_, data);
        return;
    }
#endif
    qm::PowerSpectrumRoundTrip(tables_, data);
}

}  // namespace qm
