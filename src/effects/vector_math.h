#pragma once

#include <cstdint>

namespace qm {

// Per-bin trigonometry of the vocoder, four bins at a time. Accurate to a few float roundings
// (a couple of 1e-7 radians or relative), which is the precision the frames are stored at.
// Real-time safe: no allocation, no branches on the data except the rare fallback for phases
// too large to reduce quickly.

// out[k] = atan2(y[k], x[k]) for k < count, in -pi..pi.
void PhaseOfBins(const float* y, const float* x, float* out, uint32_t count);

// cosOut[k] = cos(phase[k]), sinOut[k] = sin(phase[k]) for k < count, with the argument
// reduced in double precision so large accumulated phases keep their accuracy.
void CosSinOfPhases(const float* phase, float* cosOut, float* sinOut, uint32_t count);

}  // namespace qm
