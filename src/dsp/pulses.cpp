#include "dsp/pulses.h"

#include <cmath>
#include <cstdint>

#include "dsp/arrays.h"
#include "dsp/pitch_query.h"
#include "dsp/pulses_internal.h"

namespace qm {

int PulseList_init(PulseList* list, double startTime, double endTime, int32_t initialCapacity) {
    if (list == nullptr)
        return 0;
    PulseList_free(list);
    list->startTime = startTime;
    list->endTime = endTime;
    list->markCount = 0;
    const int32_t capacity = initialCapacity < 1 ? 1 : initialCapacity;
    list->times = allocVectorOf<double>(1, capacity);
    if (list->times == nullptr)
        return 0;
    list->capacity = capacity;
    return 1;
}

void PulseList_free(PulseList* list) {
    if (list == nullptr || list->times == nullptr)
        return;
    freeVectorOf(list->times, 1, list->capacity);
    list->times = nullptr;
    list->capacity = 0;
    list->markCount = 0;
}

int PulseList_addPoint(PulseList* list, double time) {
    if (list == nullptr || list->times == nullptr)
        return 0;
    if (list->markCount >= list->capacity) {
        if (list->capacity > INT32_MAX / 2)
            return 0;
        const int32_t grown = 2 * list->capacity;
        double* times = allocVectorOf<double>(1, grown);
        if (times == nullptr)
            return 0;
        copyVector(list->times, times, sizeof(double), 1, list->markCount);
        freeVectorOf(list->times, 1, list->capacity);
        list->times = times;
        list->capacity = grown;
    }
    double* t = list->times;
    const int32_t n = list->markCount;
    if (n == 0 || time >= t[n]) {
        t[n + 1] = time;
    } else {
        const int32_t i = PulseList_lowIndex(list, time);
        for (int32_t k = n; k > i; --k)
            t[k + 1] = t[k];
        t[i + 1] = time;
    }
    list->markCount = n + 1;
    return 1;
}

namespace {

// Bisection over times[1..n] (n > 2, times[1] <= time < times[n]): times[left] <= time <
// times[left + 1].
int32_t Bracket(const double* t, int32_t n, double time) {
    int32_t left = 1;
    int32_t right = n;
    while (left < right - 1) {
        const int32_t mid = left + (right - left) / 2;
        if (time >= t[mid])
            left = mid;
        else
            right = mid;
    }
    return left;
}

}  // namespace

int32_t PulseList_lowIndex(const PulseList* list, double time) {
    if (list == nullptr || list->markCount == 0)
        return 0;
    const double* t = list->times;
    const int32_t n = list->markCount;
    if (!(time >= t[1]))
        return 0;
    if (time >= t[n])
        return n;
    if (n <= 2)
        return 1;
    return Bracket(t, n, time);
}

int32_t PulseList_nearestIndex(const PulseList* list, double time) {
    if (list == nullptr || list->markCount == 0)
        return 0;
    const double* t = list->times;
    const int32_t n = list->markCount;
    if (time <= t[1] || std::isnan(time))
        return 1;
    if (time >= t[n])
        return n;
    if (n <= 2)
        return t[n] - time > time - t[1] ? 1 : n;
    const int32_t left = Bracket(t, n, time);
    const int32_t right = left + 1;
    return t[right] - time > time - t[left] ? left : right;
}

double findExtremumIndex(const float* y, int32_t n) {
    if (y == nullptr || n <= 0)
        return 0.0;
    if (n == 1)
        return 1.0;
    if (n == 2) {
        const float a = std::fabs(y[1]);
        const float b = std::fabs(y[2]);
        return a > b ? 1.0 : a == b ? 1.5 : 2.0;
    }
    int32_t best = 0;
    float maximum = 0.0f;
    for (int32_t i = 1; i <= n; ++i) {
        const float a = std::fabs(y[i]);
        if (a > maximum) {
            maximum = a;
            best = i;
        }
    }
    if (best == 0)
        return 0.5 * (n + 1.0);
    if (best == 1 || best == n)
        return best;
    const double left = y[best - 1];
    const double centre = y[best];
    const double right = y[best + 1];
    const double curvature = 2.0 * centre - left - right;
    // A flat top (three equal samples) has no parabola; its peak is the sample itself.
    if (curvature == 0.0)
        return best;
    return best + 0.5 * (right - left) / curvature;
}

double Sound_findExtremum(const Sound* sound, double tmin, double tmax) {
    const double middle = 0.5 * (tmin + tmax);
    if (sound == nullptr || sound->data == nullptr)
        return middle;
    int32_t imin = Sound_timeToLowIndex(sound, tmin);
    int32_t imax = Sound_timeToHighIndex(sound, tmax);
    if (imin < 1)
        imin = 1;
    if (imax > sound->count)
        imax = sound->count;
    if (imax < imin)
        return middle;
    const double k = findExtremumIndex(sound->data[1] + (imin - 1), imax - imin + 1);
    if (k == 0.0)
        return middle;
    return sound->firstTime + (imin + k - 2.0) * sound->step;
}

CorrelationRange CorrelationRangeOf(const Sound* sound, double t1, double windowLength,
                                    double tmin2, double tmax2) {
    const double half = 0.5 * windowLength;
    return {Sound_timeToNearestIndex(sound, t1 - half), Sound_timeToNearestIndex(sound, t1 + half),
            Sound_timeToLowIndex(sound, tmin2 - half), Sound_timeToHighIndex(sound, tmax2 - half)};
}

double NormalisedCorrelation(double product, double norm1, double norm2) {
    return product == 0.0 ? 0.0 : product / std::sqrt(norm1 * norm2);
}

double CorrelationPairByPair(const Sound* sound, const CorrelationRange& range, int64_t firstB) {
    const float* x = sound->data[1];
    const int64_t d = firstB - range.firstA;
    int64_t from = range.firstA;
    int64_t to = range.lastA;
    if (from < 1)
        from = 1;
    if (from < 1 - d)
        from = 1 - d;
    if (to > sound->count)
        to = sound->count;
    if (to > sound->count - d)
        to = sound->count - d;
    double norm1 = 0.0, norm2 = 0.0, product = 0.0;
    for (int64_t i1 = from; i1 <= to; ++i1) {
        const double a = x[i1];
        const double b = x[i1 + d];
        norm1 += a * a;
        norm2 += b * b;
        product += a * b;
    }
    return NormalisedCorrelation(product, norm1, norm2);
}

namespace {

// The pulse walk: from each stretch's anchor pulse, the next pulse is sought between 0.8 and
// 1.2 periods away by correlating one period of sound. A correlation above kKeepCorrelation
// marks a pulse inside the stretch; beyond its ends only one above kEdgeCorrelation does. A
// backward mark closer than kMinPulseSpacing periods to the previous stretch's last mark would
// double a pulse and is left out.
constexpr double kNearestPeriods = 0.8;
constexpr double kFarthestPeriods = 1.2;
constexpr double kKeepCorrelation = 0.3;
constexpr double kEdgeCorrelation = 0.7;
constexpr double kMinPulseSpacing = 0.8;
// Before the first stretch no forward mark exists: a time earlier than any sound.
constexpr double kNoMarkYet = -1e30;
// Marks the list holds before it first grows.
constexpr int32_t kInitialPulseCapacity = 10;

// Longest run of left-end positions the stack buffers of the fast search hold: 0.4 of the
// longest period the pitch analysis reports (50 Hz at 192 kHz) fits with room to spare.
constexpr int64_t kMaxPositions = 2048;

}  // namespace

double Sound_findMaximumCorrelation(const Sound* sound, double t1, double windowLength,
                                    double tmin2, double tmax2, double* tout) {
    if (sound == nullptr || sound->data == nullptr)
        return -1.0;
    const CorrelationRange range = CorrelationRangeOf(sound, t1, windowLength, tmin2, tmax2);
    if (range.firstBmin > range.firstBmax)
        return -1.0;
    const int64_t width = range.lastA - range.firstA + 1;
    const int64_t positions = range.firstBmax - range.firstBmin + 1;
    const bool inside = range.firstA >= 1 && range.lastA <= sound->count && range.firstBmin >= 1 &&
                        range.firstBmax + (width - 1) <= sound->count;
    if (!inside || width < 1 || positions > kMaxPositions) {
        return ScanForMaximum(sound, range, t1, tout, [&](int64_t firstB) {
            return CorrelationPairByPair(sound, range, firstB);
        });
    }
    // Every pair lies inside the sound, so all positions share the first window's energy, and
    // the sums of every position can grow together one sample at a time. Each position's sums
    // still run over the samples in the same order as pair by pair, so the results (and the
    // positions chosen) are the same to the last bit; the inner loop over positions vectorises.
    double product[kMaxPositions];
    double norm2[kMaxPositions];
    for (int64_t p = 0; p < positions; ++p) {
        product[p] = 0.0;
        norm2[p] = 0.0;
    }
    const float* x = sound->data[1];
    double norm1 = 0.0;
    for (int64_t k = 0; k < width; ++k) {
        const double a = x[range.firstA + k];
        norm1 += a * a;
        const float* b = x + range.firstBmin + k;
        for (int64_t p = 0; p < positions; ++p) {
            const double bp = b[p];
            product[p] += a * bp;
            norm2[p] += bp * bp;
        }
    }
    return ScanForMaximum(sound, range, t1, tout, [&](int64_t firstB) {
        const int64_t p = firstB - range.firstBmin;
        return NormalisedCorrelation(product[p], norm1, norm2[p]);
    });
}

int Sound_Pitch_to_PulseList(PulseList* list, const Sound* sound, const Pitch* pitch) {
    if (list == nullptr || sound == nullptr || pitch == nullptr)
        return 0;
    if (!PulseList_init(list, sound->startTime, sound->endTime, kInitialPulseCapacity))
        return 0;
    double lastForwardMark = kNoMarkYet;
    double t = pitch->startTime;
    double stretchStart = 0.0, stretchEnd = 0.0;
    while (Pitch_nextVoicedInterval(pitch, t, &stretchStart, &stretchEnd)) {
        const double middle = 0.5 * (stretchStart + stretchEnd);
        const double middlePitch = Pitch_valueAtTime(pitch, middle);
        // The anchor: the stretch's largest excursion within half a period of its middle.
        double mark = middlePitch > 0.0 ? Sound_findExtremum(sound, middle - 0.5 / middlePitch,
                                                             middle + 0.5 / middlePitch)
                                        : middle;
        if (!PulseList_addPoint(list, mark))
            return 0;
        const double anchor = mark;

        for (double f0 = Pitch_valueAtTime(pitch, mark); f0 != 0.0;) {
            const double period = 1.0 / f0;
            const double previous = mark;
            const double correlation =
                Sound_findMaximumCorrelation(sound, mark, period, mark - kFarthestPeriods * period,
                                             mark - kNearestPeriods * period, &mark);
            if (correlation == -1.0)
                mark -= period;
            // A walk that stands still would never end.
            if (!(mark < previous))
                break;
            if (mark < stretchStart) {
                if (correlation > kEdgeCorrelation &&
                    mark - lastForwardMark > kMinPulseSpacing * period &&
                    !PulseList_addPoint(list, mark)) {
                    return 0;
                }
                break;
            }
            if (correlation > kKeepCorrelation &&
                mark - lastForwardMark > kMinPulseSpacing * period &&
                !PulseList_addPoint(list, mark)) {
                return 0;
            }
            f0 = Pitch_valueAtTime(pitch, mark);
        }

        mark = anchor;
        for (double f0 = Pitch_valueAtTime(pitch, mark); f0 != 0.0;) {
            const double period = 1.0 / f0;
            const double previous = mark;
            const double correlation =
                Sound_findMaximumCorrelation(sound, mark, period, mark + kNearestPeriods * period,
                                             mark + kFarthestPeriods * period, &mark);
            if (correlation == -1.0)
                mark += period;
            if (!(mark > previous))
                break;
            if (mark > stretchEnd) {
                if (correlation > kEdgeCorrelation) {
                    if (!PulseList_addPoint(list, mark))
                        return 0;
                    lastForwardMark = mark;
                }
                break;
            }
            if (correlation > kKeepCorrelation) {
                if (!PulseList_addPoint(list, mark))
                    return 0;
                lastForwardMark = mark;
            }
            f0 = Pitch_valueAtTime(pitch, mark);
        }
        // The next stretch starts after this one; a stretch that ends where it began (it
        // cannot, it is at least one frame wide) would otherwise be found again.
        if (!(stretchEnd > t))
            break;
        t = stretchEnd;
    }
    return 1;
}

}  // namespace qm
