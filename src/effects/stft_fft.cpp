#include "effects/stft_fft.h"

#include <cmath>
#include <cstring>
#include <numbers>
#include <utility>

namespace qm {

namespace {

uint32_t StageCount(uint32_t frameLength) {
    return static_cast<uint32_t>(std::log2(static_cast<double>(frameLength)) + 0.5);
}

// Twiddle rotation of one stage: half-span `halfSpan` complex points.
void StageRotation(uint32_t halfSpan, int sign, float& wr, float& wi) {
    const double arg = std::numbers::pi / halfSpan;
    wr = static_cast<float>(std::cos(arg));
    wi = static_cast<float>(sign * std::sin(arg));
}

// One recurrence step; the real part is kept at float precision as the transform requires.
void Rotate(double& ur, double& ui, float wr, float wi) {
    const float nextRe = static_cast<float>(ur * wr - ui * wi);
    ui = ur * wi + ui * wr;
    ur = nextRe;
}

void Butterfly(float* a, float* b, double ur, double ui) {
    const float tr = static_cast<float>(b[0] * ur - b[1] * ui);
    const float ti = static_cast<float>(b[0] * ui + b[1] * ur);
    b[0] = a[0] - tr;
    b[1] = a[1] - ti;
    a[0] += tr;
    a[1] += ti;
}

}  // namespace

void FftReference(float* data, uint32_t frameLength, int sign) {
    const uint32_t floats = 2 * frameLength;
    for (uint32_t i = 2; i + 2 < floats; i += 2) {
        uint32_t j = 0;
        for (uint32_t bit = 2; bit < floats; bit <<= 1) {
            if (i & bit)
                ++j;
            j <<= 1;
        }
        if (i < j) {
            std::swap(data[i], data[j]);
            std::swap(data[i + 1], data[j + 1]);
        }
    }
    const uint32_t stages = StageCount(frameLength);
    uint32_t span = 2;
    for (uint32_t stage = 0; stage < stages; ++stage) {
        span <<= 1;
        const uint32_t half = span >> 1;
        float wr = 0.0f;
        float wi = 0.0f;
        StageRotation(half >> 1, sign, wr, wi);
        double ur = 1.0;
        double ui = 0.0;
        for (uint32_t j = 0; j < half; j += 2) {
            for (uint32_t i = j; i < floats; i += span)
                Butterfly(data + i, data + i + half, ur, ui);
            Rotate(ur, ui, wr, wi);
        }
    }
}

namespace {

// Four lanes of float arithmetic; GCC and Clang map it to SSE on x86-64 and to NEON on ARM.
typedef float Lanes __attribute__((vector_size(16)));

// One stage of half-span h, `Width` points at a time (h a multiple of Width).
template <typename V, uint32_t Width>
__attribute__((always_inline)) inline void SpanStage(float* re, float* im, uint32_t m, uint32_t h,
                                                     const float* twr, const float* twi,
                                                     float sign) {
    V sv;
    for (uint32_t i = 0; i < Width; ++i)
        sv[i] = sign;
    for (uint32_t start = 0; start < m; start += 2 * h) {
        float* ar = re + start;
        float* ai = im + start;
        float* br = ar + h;
        float* bi = ai + h;
        for (uint32_t j = 0; j < h; j += Width) {
            V wr, wi, xr, xi, yr, yi;
            std::memcpy(&wr, twr + j, sizeof(V));
            std::memcpy(&wi, twi + j, sizeof(V));
            std::memcpy(&xr, br + j, sizeof(V));
            std::memcpy(&xi, bi + j, sizeof(V));
            std::memcpy(&yr, ar + j, sizeof(V));
            std::memcpy(&yi, ai + j, sizeof(V));
            wi *= sv;
            const V tr = xr * wr - xi * wi;
            const V ti = xr * wi + xi * wr;
            const V br2 = yr - tr, bi2 = yi - ti, ar2 = yr + tr, ai2 = yi + ti;
            std::memcpy(br + j, &br2, sizeof(V));
            std::memcpy(bi + j, &bi2, sizeof(V));
            std::memcpy(ar + j, &ar2, sizeof(V));
            std::memcpy(ai + j, &ai2, sizeof(V));
        }
    }
}

// The stages of half-span 4 and up, four points at a time.
void WideStages4(float* re, float* im, uint32_t m, const float* stageRe, const float* stageIm,
                 bool inverse) {
    const float s = inverse ? -1.0f : 1.0f;
    for (uint32_t h = 4; h < m; h <<= 1)
        SpanStage<Lanes, 4>(re, im, m, h, stageRe + h, stageIm + h, s);
}

#if defined(__x86_64__) && !defined(_WIN32)
// The same stages eight points at a time where the processor has AVX2. Every point gets the
// same multiplications and additions in the same order (no fused multiply-add is enabled), so
// the numbers are the same; only the width differs. Not on Windows, where GCC does not align
// the stack for 32-byte registers.
typedef float Lanes8 __attribute__((vector_size(32)));

__attribute__((target("avx2"))) void WideStages8(float* re, float* im, uint32_t m,
                                                 const float* stageRe, const float* stageIm,
                                                 bool inverse) {
    const float s = inverse ? -1.0f : 1.0f;
    if (4 < m)
        SpanStage<Lanes, 4>(re, im, m, 4, stageRe + 4, stageIm + 4, s);
    for (uint32_t h = 8; h < m; h <<= 1) {
        SpanStage<Lanes8, 8>(re, im, m, h, stageRe + h, stageIm + h, s);
    }
}
#endif

RealFft::StagesFunction ChooseStages() {
#if defined(__x86_64__) && !defined(_WIN32)
    if (__builtin_cpu_supports("avx2"))
        return WideStages8;
#endif
    return WideStages4;
}

}  // namespace

bool RealFft::Init(uint32_t frameLength) {
    Free();
    if (frameLength < 4 || (frameLength & (frameLength - 1)) != 0)
        return false;
    const uint32_t m = frameLength / 2;
    if (!reverse_.Allocate(m) || !stageRe_.Allocate(m) || !stageIm_.Allocate(m) ||
        !splitRe_.Allocate(m) || !splitIm_.Allocate(m) || !scratchRe_.Allocate(m) ||
        !scratchIm_.Allocate(m)) {
        Free();
        return false;
    }
    const uint32_t bits = StageCount(m);
    for (uint32_t i = 0; i < m; ++i) {
        uint32_t j = 0;
        for (uint32_t b = 0; b < bits; ++b)
            j |= ((i >> b) & 1u) << (bits - 1 - b);
        reverse_[i] = j;
    }
    for (uint32_t h = 1; h < m; h <<= 1) {
        for (uint32_t j = 0; j < h; ++j) {
            const double a = std::numbers::pi * j / h;
            stageRe_[h + j] = static_cast<float>(std::cos(a));
            stageIm_[h + j] = static_cast<float>(-std::sin(a));
        }
    }
    for (uint32_t k = 0; k < m; ++k) {
        const double a = 2.0 * std::numbers::pi * k / frameLength;
        splitRe_[k] = static_cast<float>(std::cos(a));
        splitIm_[k] = static_cast<float>(-std::sin(a));
    }
    frameLength_ = frameLength;
    half_ = m;
    wideStages_ = ChooseStages();
    return true;
}

void RealFft::Free() {
    frameLength_ = 0;
    half_ = 0;
    reverse_.Free();
    stageRe_.Free();
    stageIm_.Free();
    splitRe_.Free();
    splitIm_.Free();
    scratchRe_.Free();
    scratchIm_.Free();
}

void RealFft::Stages(float* re, float* im, bool inverse) const {
    const uint32_t m = half_;
    // Spans of 2 and 4 points have trivial twiddles (1 and -+i).
    for (uint32_t i = 0; i + 1 < m; i += 2) {
        const float tr = re[i + 1], ti = im[i + 1];
        re[i + 1] = re[i] - tr;
        im[i + 1] = im[i] - ti;
        re[i] += tr;
        im[i] += ti;
    }
    for (uint32_t i = 0; i + 3 < m; i += 4) {
        float tr = re[i + 2], ti = im[i + 2];
        re[i + 2] = re[i] - tr;
        im[i + 2] = im[i] - ti;
        re[i] += tr;
        im[i] += ti;
        // (re, im) times -i forward, +i inverse.
        tr = inverse ? -im[i + 3] : im[i + 3];
        ti = inverse ? re[i + 3] : -re[i + 3];
        re[i + 3] = re[i + 1] - tr;
        im[i + 3] = im[i + 1] - ti;
        re[i + 1] += tr;
        im[i + 1] += ti;
    }
    wideStages_(re, im, m, stageRe_.Data(), stageIm_.Data(), inverse);
}

void RealFft::ForwardWindowed(const float* window, const float* frame, float* re, float* im) {
    const uint32_t m = half_;
    float* zr = scratchRe_.Data();
    float* zi = scratchIm_.Data();
    // Even samples as real parts, odd ones as imaginary parts, loaded in bit-reversed order.
    for (uint32_t n = 0; n < m; ++n) {
        const uint32_t r = reverse_[n];
        zr[r] = window[2 * n] * frame[2 * n];
        zi[r] = window[2 * n + 1] * frame[2 * n + 1];
    }
    Stages(zr, zi, false);
    // Separate the two interleaved half-length spectra and join them into bins 0..N/2.
    re[0] = zr[0] + zi[0];
    im[0] = 0.0f;
    re[m] = zr[0] - zi[0];
    im[m] = 0.0f;
    for (uint32_t k = 1; k < m; ++k) {
        const float ar = zr[k], ai = zi[k];
        const float br = zr[m - k], bi = -zi[m - k];
        const float er = 0.5f * (ar + br), ei = 0.5f * (ai + bi);
        const float orr = 0.5f * (ai - bi), oi = -0.5f * (ar - br);
        const float c = splitRe_[k], s = splitIm_[k];
        re[k] = er + (c * orr - s * oi);
        im[k] = ei + (c * oi + s * orr);
    }
}

void RealFft::InverseRealPart(const float* re, const float* im, float* out) {
    const uint32_t m = half_;
    float* zr = scratchRe_.Data();
    float* zi = scratchIm_.Data();
    zr[0] = re[0] + re[m];
    zi[0] = re[0] - re[m];
    for (uint32_t k = 1; k < m; ++k) {
        const float ar = re[k], ai = im[k];
        const float br = re[m - k], bi = -im[m - k];
        const float er = 0.5f * (ar + br), ei = 0.5f * (ai + bi);
        const float dr = 0.5f * (ar - br), di = 0.5f * (ai - bi);
        // e^(+2 pi i k / N) is the conjugate of the forward split twiddle.
        const float c = splitRe_[k], s = -splitIm_[k];
        const float tr = c * dr - s * di, ti = c * di + s * dr;
        const uint32_t r = reverse_[k];
        zr[r] = er - ti;
        zi[r] = ei + tr;
    }
    // Bin 0 goes to position 0 of the bit-reversed order.
    Stages(zr, zi, true);
    for (uint32_t n = 0; n < m; ++n) {
        out[2 * n] = zr[n];
        out[2 * n + 1] = zi[n];
    }
}

}  // namespace qm
