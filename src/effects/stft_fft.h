#pragma once

#include <cstdint>

#include "effects/fixed_array.h"

namespace qm {

// In-place radix-2 complex FFT over N points held as 2N floats, (re, im) interleaved. The
// sign is -1 for the forward and +1 for the inverse transform; neither direction scales, so a
// round trip multiplies by N.
inline constexpr int kForwardFft = -1;
inline constexpr int kInverseFft = 1;

// The engine's transform as its arithmetic is defined: bit reversal by testing each bit, then
// the stages with the twiddle factor advanced by a rotation recurrence (the real part rounded
// to float after each step). Slow; the fast path below must give its numbers.
void FftReference(float* data, uint32_t frameLength, int sign);

// The fast path the engine runs: transforms of N real samples through one N/2-point complex
// FFT on split (re, im) arrays with exact twiddles, about four times less work than the
// interleaved transform. It gives FftReference's numbers within 2e-8 * N + 4e-6 relative RMS
// (tests/effects/stft_fft_test.cpp) and is kept only while it is faster on the engine's frame
// lengths, 256 to 8192 (FftFastPath against FftRecipe in bench/bench_effects.cpp). Init
// allocates (call it from Prepare); the transforms allocate nothing and are real-time safe.
class RealFft {
  public:
    // False when N is not a power of two of at least 4 or the tables cannot be allocated.
    bool Init(uint32_t frameLength);
    void Free();
    bool Ready() const { return frameLength_ != 0; }

    // Bins 0..N/2 of the forward transform of window[t] * frame[t], into re and im (N/2 + 1
    // entries each; the imaginary parts of bins 0 and N/2 are 0).
    void ForwardWindowed(const float* window, const float* frame, float* re, float* im);

    // out[t] = Re sum over k = 0..N/2 of X[k] e^(+2 pi i k t / N): the real part of the
    // unscaled inverse transform of a spectrum that is zero above N/2. `out` (N entries) may
    // be `re`.
    void InverseRealPart(const float* re, const float* im, float* out);

    // The stages of half-span 4 and up: the widest the processor runs (same numbers).
    using StagesFunction = void (*)(float* re, float* im, uint32_t m, const float* stageRe,
                                    const float* stageIm, bool inverse);

  private:
    void Stages(float* re, float* im, bool inverse) const;

    uint32_t frameLength_ = 0;
    uint32_t half_ = 0;  // M = N/2 complex points
    StagesFunction wideStages_ = nullptr;
    FixedArray<uint32_t> reverse_;  // bit reversal of M points
    FixedArray<float> stageRe_;     // stage of half-span h at [h, 2h): e^(-i pi j / h)
    FixedArray<float> stageIm_;
    FixedArray<float> splitRe_;  // e^(-2 pi i k / N), k < M
    FixedArray<float> splitIm_;
    FixedArray<float> scratchRe_;
    FixedArray<float> scratchIm_;
};

}  // namespace qm
