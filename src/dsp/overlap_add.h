#pragma once

#include <cstdint>

#include "dsp/contour.h"
#include "dsp/pulses.h"
#include "dsp/sound.h"

namespace qm {

// Pitch-synchronous overlap-add: changes the pitch and the duration of speech independently.
// Voiced stretches are rebuilt from two-period raised-cosine pieces of the source centred on
// its glottal pulses and placed at the new pitch marks; unvoiced stretches from 10 ms pieces on
// a fixed 10 ms grid of the target.

// Result codes of ChangePitchDurationPcm16 (a result >= 0 is the output's byte count).
enum PitchDurationResult : int32_t {
    kPitchDurationTooLong = -8,         // byteCount negative or above 50000000
    kPitchDurationBadFactor = -7,       // duration outside 0.1..2.5, or an unusable pitch factor
    kPitchDurationBadWidth = -6,        // bitsPerSample is not 16
    kPitchDurationNoResult = -5,        // the resynthesis made no sound
    kPitchDurationNoDuration = -4,      // the duration contour could not be made
    kPitchDurationNoPitchContour = -3,  // the pitch contour could not be made
    kPitchDurationNoPulses = -2,        // pulse marking failed
    kPitchDurationNoPitch = -1,         // pitch analysis failed (also: too short for 50 Hz)
    kPitchDurationNoSound = 0,          // the source could not be made (memory)
};

// Lowest and highest pitch factor the resynthesis takes: beyond them a period leaves the
// sample grid or spans the whole block.
inline constexpr float kMinPitchFactor = 0.01f;
inline constexpr float kMaxPitchFactor = 100.0f;

// Changes the pitch of a 16-bit mono block by pitchFactor and its duration by durationFactor
// (0.1..2.5; target length / source length, at most twice the source). *output receives a new
// buffer (release with delete[]) of 16-bit samples clipped to +-32767; the result is its size in
// bytes, or a PitchDurationResult code (nothing written to *output). Checks run in this order:
// bits, duration factor, byte count, pitch factor. Once they pass and the rate is usable it
// also stores the rate as the library's analysisSampleRate. Allocates.
int32_t ChangePitchDurationPcm16(const int16_t* samples, int32_t byteCount, int16_t** output,
                                 float sampleRate, float durationFactor, float pitchFactor,
                                 int32_t bitsPerSample);

// The same change written into the caller's buffer: the first min(count, capacitySamples)
// samples of the result go to output; the result is the byte size of the whole change, or its
// failure code. Allocates only through the library allocator, so inside a DspScratchScope
// with enough scratch it allocates nothing. Touches no state of the library outside the call:
// calls on different threads run side by side.
int32_t ChangePitchDurationPcm16Into(const int16_t* samples, int32_t byteCount, int16_t* output,
                                     int32_t capacitySamples, float sampleRate,
                                     float durationFactor, float pitchFactor,
                                     int32_t bitsPerSample);

// Rebuilds `source` into `target` (whose previous samples are released) along the pulses, with
// the pitch contour read by value and the duration contour by area; pulses further apart than
// maxT seconds end a voiced stretch. The target holds at most twice the source's samples.
// Returns 1, or 0 when the duration contour has no points or memory is exhausted (the target
// then holds no samples). Without a pitch contour the target stays silent. Allocates.
int Sound_overlapAddResynthesis(const Sound* source, const PulseList* pulses,
                                const TimeValueContour* pitch, const TimeValueContour* duration,
                                double maxT, Sound* target);

// Overlap-adds the two-period piece of the source around pulse pulseIndex, centred at
// targetTime; each side is narrowed to the distance to the neighbouring pulse when that pulse
// belongs to the same voiced stretch.
void copyPeriodPiece(const Sound* source, const PulseList* pulses, int32_t pulseIndex,
                     double leftWidth, double rightWidth, Sound* target, double targetTime,
                     double maxT);

// Adds source [tmin, tmax] faded in by a rising half raised-cosine, so that it ends at te.
void copyRise(const Sound* source, double tmin, double tmax, Sound* target, double te);
// Adds source [tmin, tmax] faded out by a falling half raised-cosine, starting at ts.
void copyFall(const Sound* source, double tmin, double tmax, Sound* target, double ts);
// A rise over [tmid - wl, tmid] and a fall over [tmid, tmid + wr], centred on tt.
void copyBell(const Sound* source, double tmid, double wl, double wr, Sound* target, double tt);

}  // namespace qm
