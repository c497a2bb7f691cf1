#pragma once

#include "dsp/sound.h"

namespace qm {

// The correlation search pair by pair, as plainly as it is defined: the oracle that the faster
// Sound_findMaximumCorrelation must agree with position for position.
double Sound_findMaximumCorrelationReference(const Sound* sound, double t1, double windowLength,
                                             double tmin2, double tmax2, double* tout);

}  // namespace qm
