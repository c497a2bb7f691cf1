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

Lanes Load(const float* p) {
    Lanes v;
    std::memcpy(&v, p, sizeof(v));
    return v;
}

void Store(float* p, Lanes v) {
    std::memcpy(p, &v, sizeof(v));
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
    const Lanes sign = inverse ? Lanes{-1.0f, -1.0f, -1.0f, -1.0f} : Lanes{1.0f, 1.0f, 1.0f, 1.0f};
    for (uint32_t h = 4; h < m; h <<= 1) {
        const float* twr = stageRe_.Data() + h;
        const float* twi = stageIm_.Data() + h;
        for (uint32_t start = 0; start < m; start += 2 * h) {
            float* ar = re + start;
            float* ai = im + start;
            float* br = ar + h;
            float* bi = ai + h;
            for (uint32_t j = 0; j < h; j += 4) {
                const Lanes wr = Load(twr + j);
                const Lanes wi = Load(twi + j) * sign;
                const Lanes xr = Load(br + j), xi = Load(bi + j);
                const Lanes tr = xr * wr - xi * wi;
                const Lanes ti = xr * wi + xi * wr;
                const Lanes yr = Load(ar + j), yi = Load(ai + j);
                Store(br + j, yr - tr);
                Store(bi + j, yi - ti);
                Store(ar + j, yr + tr);
                Store(ai + j, yi + ti);
            }
        }
    }
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
