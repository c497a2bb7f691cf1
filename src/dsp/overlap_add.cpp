#include "dsp/overlap_add.h"

#include <cmath>
#include <new>

#include "dsp/constants.h"
#include "dsp/pitch.h"
#include "dsp/pitch_query.h"

namespace qm {

namespace {

// Unvoiced stretches: pieces of 10 ms on each side, one every 10 ms of target time, the first
// half a grid step after the stretch starts.
constexpr double kNoiseHalfWidth = 0.01;
constexpr double kNoiseGrid = 0.01;
constexpr double kNoiseFirstOffset = 0.005;
// Halvings of the source-time search: 2^-15 of a stretch, far below one sample.
constexpr int kBisectionSteps = 15;

// Target end times this close to the source's are the source's (a duration factor of 1).
constexpr double kSameEndTolerance = 1e-12;

// The analysis and resynthesis settings of the pitch-and-duration change: 5 ms pitch frames
// between 50 and 400 Hz, and pulses further apart than 30 ms ending a voiced stretch.
constexpr double kPitchTimeStep = 0.005;
constexpr double kPitchFloorHz = 50.0;
constexpr double kPitchCeilingHz = 400.0;
constexpr double kMaxPulseGap = 0.03;

// Accepted input: 16-bit samples, at most 50 MB, durations between a tenth and 2.5 times.
constexpr int32_t kOnlyBitsPerSample = 16;
constexpr int32_t kMaxInputBytes = 50000000;
constexpr float kMinDurationFactor = 0.1f;
constexpr float kMaxDurationFactor = 2.5f;

// The source sample range that a copy of [tmin, tmax] reads, clamped to the sound.
bool SourceSpan(const Sound* source, double tmin, double tmax, int64_t& imin, int64_t& imax) {
    imin = Sound_timeToHighIndex(source, tmin);
    imax = static_cast<int64_t>(Sound_timeToHighIndex(source, tmax)) - 1;
    if (imin < 1)
        imin = 1;
    if (imax > source->count)
        imax = source->count;
    return imax >= imin;
}

// Adds source[imin..imax] shifted by `distance` samples into the target, weighted by
// 0.5 * (1 + sign * cos(dphase * (i - imin + 0.5))) with dphase = PI / (imax - imin + 1).
// The cosine advances by rotation, which keeps one sin/cos pair per piece instead of one per
// sample; the accumulated rounding stays far below a 16-bit step.
void AddWindowed(const Sound* source, int64_t imin, int64_t imax, int64_t distance, double sign,
                 Sound* target) {
    int64_t from = imin;
    int64_t to = imax;
    if (from < 1 - distance)
        from = 1 - distance;
    if (to > target->count - distance)
        to = target->count - distance;
    if (to < from)
        return;
    const double dphase = kDspPi / static_cast<double>(imax - imin + 1);
    const double phase0 = dphase * (static_cast<double>(from - imin) + 0.5);
    double c = std::cos(phase0);
    double s = std::sin(phase0);
    const double cd = std::cos(dphase);
    const double sd = std::sin(dphase);
    const float* in = source->data[1];
    float* out = target->data[1] + distance;
    for (int64_t i = from; i <= to; ++i) {
        out[i] = static_cast<float>(out[i] + 0.5 * (1.0 + sign * c) * in[i]);
        const double next = c * cd - s * sd;
        s = s * cd + c * sd;
        c = next;
    }
}

// Source time whose duration-warped position, counted from `reference`, is targetTime.
double SourceTimeFor(const TimeValueContour* duration, double a, double b, double reference,
                     double targetTime) {
    double low = a;
    double high = b;
    for (int k = 0; k < kBisectionSteps; ++k) {
        const double mid = 0.5 * (low + high);
        if (reference + TimeValueContour_area(duration, a, mid) < targetTime)
            low = mid;
        else
            high = mid;
    }
    return 0.5 * (low + high);
}

// Rebuilds the unvoiced source [from, to] from bells on the target grid starting at
// targetStart; returns the target length the stretch takes.
double CopyNoise(const Sound* source, const TimeValueContour* duration, double from, double to,
                 double targetStart, Sound* target) {
    const double targetEnd = targetStart + TimeValueContour_area(duration, from, to);
    for (double tt = targetStart + kNoiseFirstOffset; tt < targetEnd; tt += kNoiseGrid) {
        const double ts = SourceTimeFor(duration, from, to, targetStart, tt);
        copyBell(source, ts, kNoiseHalfWidth, kNoiseHalfWidth, target, tt);
    }
    return targetEnd - targetStart;
}

// A usable period for a contour value, or 0 when the value gives none.
double PeriodOf(double hz) {
    const double period = 1.0 / hz;
    return period > 0.0 && std::isfinite(period) ? period : 0.0;
}

}  // namespace

void copyRise(const Sound* source, double tmin, double tmax, Sound* target, double te) {
    int64_t imin = 0, imax = 0;
    if (!SourceSpan(source, tmin, tmax, imin, imax))
        return;
    const int64_t distance = static_cast<int64_t>(Sound_timeToHighIndex(target, te)) - 1 - imax;
    AddWindowed(source, imin, imax, distance, -1.0, target);
}

void copyFall(const Sound* source, double tmin, double tmax, Sound* target, double ts) {
    int64_t imin = 0, imax = 0;
    if (!SourceSpan(source, tmin, tmax, imin, imax))
        return;
    const int64_t distance = static_cast<int64_t>(Sound_timeToHighIndex(target, ts)) - imin;
    AddWindowed(source, imin, imax, distance, 1.0, target);
}

void copyBell(const Sound* source, double tmid, double wl, double wr, Sound* target, double tt) {
    copyRise(source, tmid - wl, tmid, target, tt);
    copyFall(source, tmid, tmid + wr, target, tt);
}

void copyPeriodPiece(const Sound* source, const PulseList* pulses, int32_t pulseIndex,
                     double leftWidth, double rightWidth, Sound* target, double targetTime,
                     double maxT) {
    if (pulseIndex < 1 || pulseIndex > pulses->markCount)
        return;
    const double* times = pulses->times;
    const double tmid = times[pulseIndex];
    if (pulseIndex > 1) {
        const double d = tmid - times[pulseIndex - 1];
        if (d <= maxT && d < leftWidth)
            leftWidth = d;
    }
    if (pulseIndex < pulses->markCount) {
        const double d = times[pulseIndex + 1] - tmid;
        if (d <= maxT && d < rightWidth)
            rightWidth = d;
    }
    copyBell(source, tmid, leftWidth, rightWidth, target, targetTime);
}

int Sound_overlapAddResynthesis(const Sound* source, const PulseList* pulses,
                                const TimeValueContour* pitch, const TimeValueContour* duration,
                                double maxT, Sound* target) {
    if (source == nullptr || target == nullptr || source->data == nullptr)
        return 0;
    Sound_freeSamples(target);
    if (duration == nullptr || duration->points == nullptr || duration->points->size == 0)
        return 0;
    if (source->count > INT32_MAX / 2)
        return 0;
    const int32_t capacity = 2 * source->count;
    if (!Sound_init(target, source->startTime,
                    source->startTime + 2.0 * (source->endTime - source->startTime), capacity,
                    source->step, source->firstTime)) {
        return 0;
    }
    const bool voiced = pitch != nullptr && pitch->points != nullptr && pitch->points->size > 0 &&
                        pulses != nullptr && pulses->times != nullptr;
    if (pitch != nullptr) {
        double doneUntil = source->startTime;
        double shift = 0.0;
        const int32_t marks = voiced ? pulses->markCount : 0;
        const double* times = voiced ? pulses->times : nullptr;
        for (int32_t firstPulse = 1; firstPulse <= marks;) {
            const double firstPeriod =
                PeriodOf(TimeValueContour_valueAtTime(pitch, times[firstPulse]));
            const double voiceStart = times[firstPulse] - 0.5 * firstPeriod;
            const double targetNoiseStart = doneUntil + shift;
            const double noiseLength =
                CopyNoise(source, duration, doneUntil, voiceStart, targetNoiseStart, target);
            shift += noiseLength - (voiceStart - doneUntil);

            int32_t lastPulse = firstPulse + 1;
            while (lastPulse <= marks && times[lastPulse] - times[lastPulse - 1] <= maxT)
                ++lastPulse;
            --lastPulse;

            const double voiceEnd = times[lastPulse] + 0.5 * PeriodOf(TimeValueContour_valueAtTime(
                                                                 pitch, times[lastPulse]));
            const double targetVoiceStart = voiceStart + shift;
            const double targetVoiceEnd =
                targetVoiceStart + TimeValueContour_area(duration, voiceStart, voiceEnd);
            for (double tt = targetVoiceStart + 0.5 * firstPeriod; tt < targetVoiceEnd;) {
                const double ts =
                    SourceTimeFor(duration, voiceStart, voiceEnd, targetVoiceStart, tt);
                const double period = PeriodOf(TimeValueContour_valueAtTime(pitch, ts));
                // A contour value that gives no period (never one from a pitch track) would
                // stop the walk through the target.
                if (period == 0.0)
                    break;
                copyPeriodPiece(source, pulses, PulseList_nearestIndex(pulses, ts), period, period,
                                target, tt, maxT);
                tt += period;
            }
            shift += (targetVoiceEnd - targetVoiceStart) - (voiceEnd - voiceStart);
            doneUntil = voiceEnd;
            firstPulse = lastPulse + 1;
        }
        CopyNoise(source, duration, doneUntil, source->endTime, doneUntil + shift, target);
    }

    double endTime =
        target->startTime + TimeValueContour_area(duration, source->startTime, source->endTime);
    if (std::fabs(endTime - source->endTime) < kSameEndTolerance)
        endTime = source->endTime;
    target->endTime = endTime;
    int32_t count = Sound_timeToLowIndex(target, endTime);
    if (count > capacity)
        count = capacity;
    if (count < 0)
        count = 0;
    target->count = count;
    return 1;
}

namespace {

struct PitchDurationRecords {
    Sound source;
    Sound target;
    Pitch pitch;
    PulseList pulses;
    TimeValueContour pitchContour;
    TimeValueContour durationContour;
    ~PitchDurationRecords() {
        Sound_freeSamples(&source);
        Sound_freeSamples(&target);
        Pitch_freeFrames(&pitch);
        PulseList_free(&pulses);
        TimeValueContour_free(&pitchContour);
        TimeValueContour_free(&durationContour);
    }
};

constexpr int32_t kPitchDurationDone = 1;

// Every step up to the resynthesis; on kPitchDurationDone r.target holds at least one sample.
int32_t RunPitchDuration(PitchDurationRecords& r, const int16_t* samples, int32_t byteCount,
                         float sampleRate, float durationFactor, float pitchFactor,
                         int32_t bitsPerSample) {
    if (bitsPerSample != kOnlyBitsPerSample)
        return kPitchDurationBadWidth;
    if (!(durationFactor >= kMinDurationFactor && durationFactor <= kMaxDurationFactor))
        return kPitchDurationBadFactor;
    if (byteCount < 0 || byteCount > kMaxInputBytes)
        return kPitchDurationTooLong;
    if (!(pitchFactor >= kMinPitchFactor && pitchFactor <= kMaxPitchFactor))
        return kPitchDurationBadFactor;
    // The analysis rate is the rate truncated to an int32.
    if (!(sampleRate >= 1.0f && sampleRate <= 2147483647.0f))
        return kPitchDurationNoSound;

    if (!Sound_fromPcm16(&r.source, samples, byteCount, sampleRate))
        return kPitchDurationNoSound;
    PitchSettings analysis;
    analysis.timeStep = kPitchTimeStep;
    analysis.minimumPitch = kPitchFloorHz;
    analysis.ceiling = kPitchCeilingHz;
    analysis.analysisRateHz = static_cast<int32_t>(sampleRate);
    if (!Sound_to_PitchWith(&r.source, &r.pitch, analysis))
        return kPitchDurationNoPitch;
    if (!Sound_Pitch_to_PulseList(&r.pulses, &r.source, &r.pitch))
        return kPitchDurationNoPulses;
    if (!TimeValueContour_fromPitch(&r.pitchContour, &r.pitch))
        return kPitchDurationNoPitchContour;
    if (!TimeValueContour_init(&r.durationContour, r.source.startTime, r.source.endTime) ||
        !TimeValueContour_addPoint(&r.durationContour,
                                   0.5 * (r.source.startTime + r.source.endTime), durationFactor)) {
        return kPitchDurationNoDuration;
    }
    TimeValuePointList* points = r.pitchContour.points;
    for (int32_t i = 1; i <= points->size; ++i)
        points->items[i]->value *= pitchFactor;
    if (!Sound_overlapAddResynthesis(&r.source, &r.pulses, &r.pitchContour, &r.durationContour,
                                     kMaxPulseGap, &r.target) ||
        r.target.count < 1) {
        return kPitchDurationNoResult;
    }
    return kPitchDurationDone;
}

}  // namespace

int32_t ChangePitchDurationPcm16(const int16_t* samples, int32_t byteCount, int16_t** output,
                                 float sampleRate, float durationFactor, float pitchFactor,
                                 int32_t bitsPerSample) {
    PitchDurationRecords r;
    const int32_t code = RunPitchDuration(r, samples, byteCount, sampleRate, durationFactor,
                                          pitchFactor, bitsPerSample);
    // This form still leaves its rate as the library's default, for callers that analyse the
    // same sound further; the effects use the form below, which shares nothing.
    if (code != kPitchDurationBadWidth && code != kPitchDurationBadFactor &&
        code != kPitchDurationTooLong && sampleRate >= 1.0f && sampleRate <= 2147483647.0f) {
        analysisSampleRate = static_cast<int32_t>(sampleRate);
    }
    if (code != kPitchDurationDone)
        return code;
    if (output == nullptr)
        return kPitchDurationNoResult;
    const int32_t count = r.target.count;
    int16_t* out = new (std::nothrow) int16_t[count];
    if (out == nullptr)
        return kPitchDurationNoResult;
    Sound_toPcm16Clipped(r.target, count, out);
    *output = out;
    return 2 * count;
}

int32_t ChangePitchDurationPcm16Into(const int16_t* samples, int32_t byteCount, int16_t* output,
                                     int32_t capacitySamples, float sampleRate,
                                     float durationFactor, float pitchFactor,
                                     int32_t bitsPerSample) {
    PitchDurationRecords r;
    const int32_t code = RunPitchDuration(r, samples, byteCount, sampleRate, durationFactor,
                                          pitchFactor, bitsPerSample);
    if (code != kPitchDurationDone)
        return code;
    const int32_t count = r.target.count;
    if (output != nullptr && capacitySamples > 0)
        Sound_toPcm16Clipped(r.target, count < capacitySamples ? count : capacitySamples, output);
    return 2 * count;
}

}  // namespace qm
