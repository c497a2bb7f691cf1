#include "effects/stft_fft.h"

#include <cmath>
#include <numbers>
#include <utility>

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

bool FftPlan::Init(uint32_t frameLength) {
    Free();
    if (frameLength < 2 || (frameLength & (frameLength - 1)) != 0)
        return false;
    const uint32_t bits = StageCount(frameLength);
    swapCount_ = 0;
    for (uint32_t i = 1; i < frameLength; ++i) {
        uint32_t j = 0;
        for (uint32_t b = 0; b < bits; ++b)
            j |= ((i >> b) & 1u) << (bits - 1 - b);
        if (i < j)
            ++swapCount_;
    }
    if (!twiddleRe_.Allocate(frameLength) || !twiddleIm_.Allocate(frameLength) ||
        (swapCount_ > 0 && !swaps_.Allocate(2 * swapCount_))) {
        Free();
        return false;
    }
    uint32_t s = 0;
    for (uint32_t i = 1; i < frameLength; ++i) {
        uint32_t j = 0;
        for (uint32_t b = 0; b < bits; ++b)
            j |= ((i >> b) & 1u) << (bits - 1 - b);
        if (i < j) {
            swaps_[s++] = i;
            swaps_[s++] = j;
        }
    }
    // The forward recurrence; the inverse one produces the conjugates exactly, since negating
    // the rotation's imaginary part negates every imaginary product and nothing else.
    size_t t = 0;
    for (uint32_t half = 1; half < frameLength; half <<= 1) {
        float wr = 0.0f;
        float wi = 0.0f;
        StageRotation(half, kForwardFft, wr, wi);
        double ur = 1.0;
        double ui = 0.0;
        for (uint32_t j = 0; j < half; ++j) {
            twiddleRe_[t] = ur;
            twiddleIm_[t] = ui;
            ++t;
            Rotate(ur, ui, wr, wi);
        }
    }
    frameLength_ = frameLength;
    return true;
}

void FftPlan::Free() {
    frameLength_ = 0;
    swapCount_ = 0;
    swaps_.Free();
    twiddleRe_.Free();
    twiddleIm_.Free();
}

void FftPlan::Transform(float* data, int sign) const {
    const uint32_t* swap = swaps_.Data();
    for (uint32_t s = 0; s < swapCount_; ++s, swap += 2) {
        float* a = data + 2 * swap[0];
        float* b = data + 2 * swap[1];
        std::swap(a[0], b[0]);
        std::swap(a[1], b[1]);
    }
    const double im = sign == kForwardFft ? 1.0 : -1.0;
    const double* twRe = twiddleRe_.Data();
    const double* twIm = twiddleIm_.Data();
    for (uint32_t half = 1; half < frameLength_; half <<= 1) {
        const uint32_t span = 2 * half;
        for (uint32_t start = 0; start < frameLength_; start += span) {
            float* a = data + 2 * start;
            float* b = a + 2 * half;
            for (uint32_t j = 0; j < half; ++j)
                Butterfly(a + 2 * j, b + 2 * j, twRe[j], im * twIm[j]);
        }
        twRe += half;
        twIm += half;
    }
}
