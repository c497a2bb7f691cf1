#pragma once

#include <cstddef>
#include <cstdint>

#include "dsp/arrays.h"
#include "dsp/pitch.h"

namespace qm {

// Stages of the pitch analysis that only tests and benchmarks need.

// Two analysis frames side by side, one per lane: every transform step is the same arithmetic
// on both, so the pair costs about as much as one frame.
typedef double FramePair __attribute__((vector_size(16)));
// Four frames side by side, for processors with 256-bit vectors (AVX). Where the compiler
// generates no AVX code it aligns the type to 16 bytes only, so the AVX kernels run only on
// data aligned to kLaneGroupAlignment (allocators of such groups must see to it).
typedef double FrameQuad __attribute__((vector_size(32)));
inline constexpr size_t kLaneGroupAlignment = 32;

// The tables of one transform size, as the kernels read them.
struct PitchFftTables {
    long n = 0;
    const long* reversed = nullptr;  // bit-reversed position of each complex bin
    // Complex-FFT twiddles of every stage (stage of half-size h at offset h - 1), forward sign;
    // the inverse uses the negated sines.
    const double* cos = nullptr;
    const double* sin = nullptr;
    // Twiddles that split the half-length complex transform into the real one.
    const double* unpackCos = nullptr;
    const double* unpackSin = nullptr;
};

// Per-call transform tables for the frame autocorrelation: the forward real FFT, the power
// spectrum and the inverse, with the twiddle factors and the bit-reversed bin positions
// computed once per analysis instead of once per frame. The results equal fftReal's up to float
// rounding.
class PitchFftPlan {
  public:
    // Returns false when memory is exhausted or n is not a power of two >= 4.
    bool Prepare(long n);
    // data[1..n] real -> n / 2 times its circular autocorrelation (as fftReal would leave it).
    void PowerSpectrumRoundTrip(double* data) const;
    // The same for two or four frames at once, one in each lane of data[1..n]: every lane
    // gets exactly the single frame's numbers. Four lanes take the AVX kernels when they are
    // available and &data[1] is aligned to kLaneGroupAlignment, else slower plain ones.
    void PowerSpectrumRoundTrip(FramePair* data) const;
    void PowerSpectrumRoundTrip(FrameQuad* data) const;
    // Whether the four-lane transform has its AVX kernels on this build and processor; without
    // them it still works, but slower than two pairs.
    static bool WideLanesAvailable();

  private:
    PitchFftTables tables_;
    LibraryArray<long> reversed_;
    LibraryArray<double> cos_;
    LibraryArray<double> sin_;
    LibraryArray<double> unpackCos_;
    LibraryArray<double> unpackSin_;
};

// The frame autocorrelation: through the plan when there is one, else through fftReal.
void AutocorrelateInPlace(double* data, long fftSize, PitchFftPlan* plan);

// The analysis's sample counts at rate R (see Sound_to_Pitch_detailed). Returns 0 when the
// window is shorter than 2 half-window samples, the period is under one sample or the window is
// wider than the sound's soundSamples.
struct PitchAnalysisSizes {
    long periodSamples = 0;
    long halfPeriodSamples = 0;
    long halfWindowSamples = 0;
    long windowSamples = 0;
    long lagLimit = 0;  // candidate lags run 2 .. lagLimit - 1
    long fftSize = 0;
    long rSpan = 0;  // autocorrelation lags kept on each side
};
int ComputePitchAnalysisSizes(double R, double minimumPitch, double periodsPerWindow, double depth,
                              long soundSamples, PitchAnalysisSizes& sizes);

}  // namespace qm
