#pragma once

#include <cstdint>

#include "dsp/sound.h"

namespace qm {

// The pieces of the correlation search that the fast search and the pair-by-pair definition
// (kept beside the tests as their oracle) share.

// Sample positions of one search: the fixed window firstA..lastA around t1, and the left ends
// firstBmin..firstBmax of the moving window over tmin2..tmax2.
struct CorrelationRange {
    int64_t firstA, lastA, firstBmin, firstBmax;
};

CorrelationRange CorrelationRangeOf(const Sound* sound, double t1, double windowLength,
                                    double tmin2, double tmax2);

// product / sqrt(norm1 * norm2), and 0 for a product of 0 (a silent window).
double NormalisedCorrelation(double product, double norm1, double norm2);

// The correlation of one window pair, skipping pairs with a sample outside the sound.
double CorrelationPairByPair(const Sound* sound, const CorrelationRange& range, int64_t firstB);

// Follows the normalised correlation position by position and keeps the best parabola-refined
// local maximum. rAt(firstB) gives the correlation for the window starting at firstB.
template <class CorrelationAt>
double ScanForMaximum(const Sound* sound, const CorrelationRange& range, double t1, double* tout,
                      CorrelationAt rAt) {
    double maximum = -1.0;
    double r1 = 0.0, r2 = 0.0, r3 = 0.0;
    for (int64_t firstB = range.firstBmin; firstB <= range.firstBmax; ++firstB) {
        r1 = r2;
        r2 = r3;
        r3 = rAt(firstB);
        if (r2 > maximum && r2 >= r1 && r2 >= r3) {
            const double d2r = 2.0 * r2 - r1 - r3;
            double ir;
            if (d2r == 0.0) {
                maximum = r2;
                ir = static_cast<double>(firstB - 1);
            } else {
                const double dr = 0.5 * (r3 - r1);
                ir = static_cast<double>(firstB - 1) + dr / d2r;
                maximum = r2 + 0.5 * dr * dr / d2r;
            }
            if (tout != nullptr)
                *tout = t1 + (ir - static_cast<double>(range.firstA)) * sound->step;
        }
    }
    return maximum;
}

}  // namespace qm
