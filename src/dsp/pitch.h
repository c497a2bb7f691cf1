#pragma once

#include <cstdint>

#include "dsp/sound.h"

namespace qm {

// The library's default sampling rate, in Hz, of the sound being analysed: every sample count
// and lag-to-frequency conversion of an analysis whose settings name no rate uses it, not the
// sound's own spacing. Callers that rely on it set it before they analyse; the library's own
// entry points pass their rate in the settings instead, so analyses on different threads at
// different rates never meet here.
extern int32_t analysisSampleRate;

struct PitchCandidate {
    double strength;   // normalised autocorrelation at the candidate's lag, 0..1 (0: unvoiced)
    double frequency;  // Hz; 0 marks the unvoiced candidate
};

struct PitchFrame {
    double intensity;            // local peak relative to the sound's global peak, 0..1
    int32_t candidateCount;      // valid candidates, 1..maxCandidates
    PitchCandidate* candidates;  // 1-based; candidate 1 is the chosen one after the path search
};

// The pitch track. The caller owns the record; a new one is empty. After the analysis the
// caller releases it with Pitch_freeFrames (also after a failed analysis).
// Frame i is centred at firstTime + (i - 1) * step.
struct Pitch {
    PitchFrame* frames = nullptr;  // 1-based, 1..count
    double step = 0.0;
    double startTime = 0.0;
    double endTime = 0.0;
    double firstTime = 0.0;
    int32_t count = 0;
    double ceiling = 0.0;  // Hz; a chosen frequency of 0 or at/above it means unvoiced
    int32_t maxCandidates = 0;
};

// Every setting of the analysis, by name. The defaults are those of the library's own caller
// (5 ms frames, 50 to 400 Hz) with the short form's fixed values.
struct PitchSettings {
    double timeStep = 0.005;     // s between frame centres; <= 0 means one period of the floor
    double minimumPitch = 50.0;  // Hz, the floor: the window spans periodsPerWindow of its periods
    double periodsPerWindow = 3.0;
    int32_t maxCandidates = 15;  // per frame, the unvoiced candidate included
    int32_t method = 0;  // 0: autocorrelation, Hanning window; 1: Gaussian window, twice as long
    double silenceThreshold = 0.03;    // frame peak relative to the sound's peak: below it, silence
    double voicingThreshold = 0.45;    // autocorrelation strength a voiced frame must beat
    double octaveCost = 0.01;          // per octave: favours the higher of two equal candidates
    double octaveJumpCost = 0.35;      // per octave of pitch change between frames
    double voicedUnvoicedCost = 0.14;  // per switch between voiced and unvoiced
    double ceiling = 400.0;            // Hz; lowered to half the analysis rate when above it
    int32_t analysisRateHz = 0;        // the sound's rate; 0: the library's analysisSampleRate
};

// The short form: time step, floor and ceiling; the other settings as PitchSettings' defaults
// (3 periods per window, 15 candidates, autocorrelation with a Hanning window, silence
// threshold 0.03, voicing threshold 0.45, octave cost 0.01, octave-jump cost 0.35,
// voiced/unvoiced cost 0.14). Returns nonzero when the record has been filled, 0 on failure.
int Sound_to_Pitch(Sound* sound, Pitch* pitch, double timeStep, double minimumPitch,
                   double maximumPitch);

// The analysis with every setting. Other methods than 0 and 1 are refused. Refuses (returns 0)
// non-finite or non-positive sizes, non-finite costs, maxCandidates < 1, a sound without
// samples, an analysis rate <= 0 and a window longer than the sound. A floor too low for the
// sound's length also prints one message on standard output (the library's only message).
// After a failure frames already made stay with the record.
int Sound_to_PitchWith(Sound* sound, Pitch* pitch, const PitchSettings& settings);

// The same with the settings in PitchSettings' order, as positional arguments.
int Sound_to_Pitch_detailed(Sound* sound, Pitch* pitch, double timeStep, double minimumPitch,
                            double periodsPerWindow, int32_t maxCandidates, int32_t method,
                            double silenceThreshold, double voicingThreshold, double octaveCost,
                            double octaveJumpCost, double voicedUnvoicedCost, double ceiling);

// Frames of timeStep, centred on the sound, that fit windowDuration. Returns 1, or 0 when the
// window is longer than the sound or the sizes give no usable frame count.
int Sound_frameLayout(const Sound* sound, double windowDuration, double timeStep,
                      int32_t* frameCount, double* firstFrameTime);

// Stores the fields and allocates count zeroed frames (releasing any frames the record held).
// Returns 1, or 0 when memory is exhausted or count is negative; the record then has no frames.
int Pitch_init(Pitch* pitch, double startTime, double endTime, int32_t count, double step,
               double firstTime, double ceiling, int32_t maxCandidates);
int PitchFrame_init(PitchFrame* frame, int32_t n);
void PitchFrame_free(PitchFrame* frame);
void Pitch_freeFrames(Pitch* pitch);
int32_t Pitch_maxCandidates(const Pitch* pitch);

// Chooses one candidate per frame (moved to slot 1) by a best-path search that rewards
// strength and penalises octave jumps and voiced/unvoiced switches. Leaves the order as it is
// when memory for the score matrices is exhausted.
void Pitch_chooseBestPath(Pitch* pitch, double silenceThreshold, double voicingThreshold,
                          double octaveCost, double octaveJumpCost, double voicedUnvoicedCost,
                          double ceiling, int32_t doubleCeiling);

}  // namespace qm
