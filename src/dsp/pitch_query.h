#pragma once

#include <cstdint>

#include "dsp/pitch.h"

namespace qm {

// Reading a pitch track after the best-path search. A frame is voiced when its chosen
// frequency lies strictly between 0 and the record's ceiling. None of these allocate.

// 1 when frame i (1-based) is voiced; 0 for an unvoiced frame or an index outside 1..count.
int Pitch_isVoicedFrame(const Pitch* pitch, int32_t frame);

// Pitch in Hz at time t, linearly interpolated towards the voiced neighbour on t's side of
// the nearest frame; 0 when that frame is unvoiced or t lies outside the frames.
double Pitch_valueAtTime(const Pitch* pitch, double t);

// The next voiced stretch whose first frame is centred at or after t: its frames widened by
// half a step on each side. Returns 1 and sets both outputs, or 0 (outputs untouched).
int Pitch_nextVoicedInterval(const Pitch* pitch, double t, double* stretchStart,
                             double* stretchEnd);

}  // namespace qm
