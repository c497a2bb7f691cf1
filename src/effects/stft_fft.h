#pragma once

#include <cstdint>

#include "effects/fixed_array.h"

// In-place radix-2 complex FFT over N points held as 2N floats, (re, im) interleaved. The
// sign is -1 for the forward and +1 for the inverse transform; neither direction scales, so a
// round trip multiplies by N.
inline constexpr int kForwardFft = -1;
inline constexpr int kInverseFft = 1;

// The transform written plainly: bit reversal by testing each bit, then the stages with the
// twiddle factor advanced by a rotation recurrence (the real part rounded to float after each
// step). Slow; it is the reference the planned transform must match.
void FftReference(float* data, uint32_t frameLength, int sign);

// The same transform with everything that depends only on N worked out once: the bit-reversal
// swaps and, per stage, the twiddle factors exactly as the recurrence produces them, so the
// result equals FftReference bit for bit. Init allocates (call it from Prepare); Transform
// allocates nothing and is real-time safe.
class FftPlan {
  public:
    // False when N is not a power of two of at least 2 or the tables cannot be allocated.
    bool Init(uint32_t frameLength);
    void Free();
    bool Ready() const { return frameLength_ != 0; }
    uint32_t FrameLength() const { return frameLength_; }

    void Transform(float* data, int sign) const;

  private:
    uint32_t frameLength_ = 0;
    uint32_t swapCount_ = 0;
    FixedArray<uint32_t> swaps_;  // pairs of complex indexes to exchange
    // Twiddles of every stage, one after another: stage s (span 2^s) holds 2^(s-1) factors.
    FixedArray<double> twiddleRe_;
    FixedArray<double> twiddleIm_;
};
