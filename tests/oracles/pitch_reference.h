#pragma once

#include "dsp/pitch.h"

namespace qm {

// Sound_to_PitchWith done plainly, the oracle of the library's fast analysis: fftReal per frame,
// every frame's sums and maxima taken afresh sample by sample, and every lag of the
// autocorrelation made. Refuses what Sound_to_PitchWith refuses.
int Sound_to_PitchReference(Sound* sound, Pitch* pitch, const PitchSettings& settings);

}  // namespace qm
