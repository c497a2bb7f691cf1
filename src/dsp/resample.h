#pragma once

#include <cstdint>

#include "dsp/sound.h"

namespace qm {

// Value of the 1-based array y[1..n] at the fractional position x, by windowed-sinc
// interpolation over at most maxDepth samples on each side (cubic at depth 2, linear at 1).
// The depth shrinks near the ends of the array. Positions before 1 give y[1], positions at or
// beyond n give y[n] (the signal holds its end values), NaN gives 0; n < 1 or a null array
// gives 0. Never reads outside y[1..n].
double interpolateSinc(const double* y, long n, double x, long maxDepth);

// target becomes source at twice its sampling frequency (FFT interpolation). Returns 1, or 0
// when memory is exhausted or the source has no samples; the target then holds no samples.
int Sound_upsampleTwice(Sound* source, Sound* target);

// target becomes source resampled to samplingFrequency Hz: an exact factor of 2 uses FFT
// interpolation; a lower frequency first low-passes the source's own samples in place (through
// the scratch record `work`); then linear interpolation (precision <= 1; a higher precision
// leaves the target silent). Returns 1, or 0 when memory is exhausted, samplingFrequency is not
// a positive finite number or the new length does not fit in 32 bits; the target then holds no
// samples.
int Sound_resample(Sound* source, Sound* target, Sound* work, double samplingFrequency,
                   double precision);

// Resamples a block of 16-bit mono PCM to sampleRate / factor samples per second, to be played
// back at sampleRate: the pitch rises and the duration shrinks by `factor`. *output receives a
// new buffer (release with delete[]) of 16-bit samples clipped to +-32767. Returns its size in
// bytes, or 0 (with *output null) when the input or the rates are unusable, the result would
// be empty or memory is exhausted. Allocates; not for the streaming path's inner loop.
int32_t ChangeSpeedPcm16(const int16_t* samples, int32_t byteCount, int16_t** output,
                         float sampleRate, float factor);

// The same speed change written into the caller's buffer: the first min(count,
// capacitySamples) samples of the result go to output; returns the byte size of the whole
// result, or 0. Allocates only through the library allocator, so inside a DspScratchScope with
// enough scratch it allocates nothing.
int32_t ChangeSpeedPcm16Into(const int16_t* samples, int32_t byteCount, int16_t* output,
                             int32_t capacitySamples, float sampleRate, float factor);

}  // namespace qm
