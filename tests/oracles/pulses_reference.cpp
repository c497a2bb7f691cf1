#include "oracles/pulses_reference.h"

#include "dsp/pulses_internal.h"

namespace qm {

double Sound_findMaximumCorrelationReference(const Sound* sound, double t1, double windowLength,
                                             double tmin2, double tmax2, double* tout) {
    if (sound == nullptr || sound->data == nullptr)
        return -1.0;
    const CorrelationRange range = CorrelationRangeOf(sound, t1, windowLength, tmin2, tmax2);
    if (range.firstBmin > range.firstBmax)
        return -1.0;
    return ScanForMaximum(sound, range, t1, tout, [&](int64_t firstB) {
        return CorrelationPairByPair(sound, range, firstB);
    });
}

}  // namespace qm
