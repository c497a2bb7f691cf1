#pragma once

#include <cstdint>

#include "dsp/pitch.h"
#include "dsp/sound.h"

namespace qm {

// One time mark per glottal period of the voiced stretches of a sound. The owner releases the
// times with PulseList_free before destroying the record.
struct PulseList {
    virtual ~PulseList() = default;

    double startTime = 0.0;  // seconds
    double endTime = 0.0;    // seconds
    int32_t capacity = 0;    // allocated length of times
    int32_t markCount = 0;
    double* times = nullptr;  // 1-based, 1..capacity; marks in non-decreasing order
};

// capacity = max(1, initialCapacity), no marks (any times held are released first).
// Returns 1, or 0 when memory is exhausted. Allocates.
int PulseList_init(PulseList* list, double startTime, double endTime, int32_t initialCapacity);
void PulseList_free(PulseList* list);
// Inserts in order; an equal time is stored again after the marks that equal it. Returns 1, or
// 0 when memory is exhausted (the list is unchanged). Allocates when the list is full.
int PulseList_addPoint(PulseList* list, double time);
// The last mark at or before time (0 when none).
int32_t PulseList_lowIndex(const PulseList* list, double time);
// The mark nearest to time; a tie between two marks goes to the later one (0 when empty).
int32_t PulseList_nearestIndex(const PulseList* list, double time);

// Fractional index of the largest |y[i]| of y[1..n], refined by a parabola through its
// neighbours; (n + 1) / 2 for an all-zero array, 0 for n <= 0.
double findExtremumIndex(const float* y, int32_t n);
// Time of the largest absolute sample in [tmin, tmax]; the middle of the span when the span
// holds no samples or only zeros.
double Sound_findExtremum(const Sound* sound, double tmin, double tmax);
// Best normalised cross-correlation between the window of windowLength seconds centred on t1
// and the windows of the same length whose left ends lie in [tmin2, tmax2]: the local maximum,
// refined by a parabola, with the highest value. Returns it and sets *tout to the matching
// centre, or returns -1 (tout untouched) when the range holds no local maximum.
// Allocates nothing.
double Sound_findMaximumCorrelation(const Sound* sound, double t1, double windowLength,
                                    double tmin2, double tmax2, double* tout);
// Marks every voiced stretch of the pitch track: from the strongest sample near its middle,
// period by period towards both ends. Returns 1, or 0 when adding a mark failed (the marks
// added so far stay). Allocates.
int Sound_Pitch_to_PulseList(PulseList* list, const Sound* sound, const Pitch* pitch);

}  // namespace qm
