#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>

#include "dsp/arrays.h"
#include "dsp/constants.h"
#include "dsp/pitch.h"
#include "dsp/pitch_internal.h"
#include "dsp/resample.h"

// The pitch analysis's frame-by-frame machinery, shared by the library's fast analysis and the
// plain one the tests and benchmarks hold it against (built beside them, not into the product).
namespace qm::pitch_detail {

// Deepest windowed-sinc interpolation used to refine a candidate's strength between lags.
inline constexpr long kSincDepth = 30;

// Start of the search for the weakest candidate: above every strength (they are at most 1).
inline constexpr double kAboveAnyStrength = 2.0;

// Candidate lags start here: lag 1 has no left neighbour to make it a peak.
inline constexpr long kFirstCandidateLag = 2;

inline bool AllFinite(std::initializer_list<double> values) {
    for (double v : values) {
        if (!std::isfinite(v))
            return false;
    }
    return true;
}

// Octave-corrected strength used to pick which candidate a new peak may displace.
inline double LocalStrength(const PitchCandidate& c, double minimumPitch, double octaveCost) {
    return c.strength - octaveCost * std::log2(minimumPitch / c.frequency);
}

// The settings as the analysis uses them: method 1 doubles the window; the interpolation depth
// says how far beyond the window the autocorrelation is kept (a share of the window).
struct AnalysisShape {
    double periodsPerWindow;
    double depth;
};

inline bool ShapeOf(int32_t method, double periodsPerWindow, AnalysisShape& shape) {
    if (method == 0) {
        shape = {periodsPerWindow, 0.5};
        return true;
    }
    if (method == 1) {
        shape = {2.0 * periodsPerWindow, 0.25};
        return true;
    }
    return false;  // the cross-correlation methods are not provided
}

inline bool SettingsUsable(const Sound* sound, const Pitch* pitch, const PitchSettings& s) {
    return sound != nullptr && pitch != nullptr && sound->data != nullptr && sound->count >= 1 &&
           sound->step > 0.0 && s.analysisRateHz > 0 && s.maxCandidates >= 1 &&
           AllFinite({s.timeStep, s.minimumPitch, s.periodsPerWindow, s.silenceThreshold,
                      s.voicingThreshold, s.octaveCost, s.octaveJumpCost, s.voicedUnvoicedCost,
                      s.ceiling, sound->step, sound->firstTime}) &&
           s.minimumPitch > 0.0 && s.periodsPerWindow > 0.0;
}

// Method 0: a Hanning window that stays above 0 at both ends (its zeros lie one sample outside).
// Method 1: a Gaussian of exp(-48 x^2) over x in -0.5..0.5, shifted and rescaled so that it
// falls to 0 at the ends (where the plain Gaussian is still exp(-12)).
inline void MakeWindow(int32_t method, double* window, long windowSamples) {
    if (method == 0) {
        for (long i = 1; i <= windowSamples; ++i)
            window[i] = 0.5 - 0.5 * std::cos(2.0 * i * kDspPi / (windowSamples + 1));
        return;
    }
    const double edge = std::exp(-12.0);
    const double imid = 0.5 * (windowSamples + 1);
    const double width2 = static_cast<double>(windowSamples + 1) * (windowSamples + 1);
    for (long i = 1; i <= windowSamples; ++i)
        window[i] = (std::exp(-48.0 * (i - imid) * (i - imid) / width2) - edge) / (1.0 - edge);
}

// Samples of at most this size that are whole numbers (16-bit PCM) add up exactly in any order:
// no sum over a frame comes near 2^53.
inline constexpr float kLargestExactSample = 32768.0f;

struct SoundLevel {
    double peak;     // the largest deviation of any sample from the sound's mean
    bool exactSums;  // every sample a whole number within +-kLargestExactSample
};

inline SoundLevel LevelOf(const float* samples, long count) {
    double sum = 0.0;
    bool exactSums = true;
    for (long i = 1; i <= count; ++i) {
        const float v = samples[i];
        sum += v;
        exactSums = exactSums && v >= -kLargestExactSample && v <= kLargestExactSample &&
                    static_cast<float>(static_cast<int32_t>(v)) == v;
    }
    const double mean = sum / count;
    double globalPeak = 0.0;
    for (long i = 1; i <= count; ++i) {
        const double v = std::fabs(samples[i] - mean);
        if (v > globalPeak)
            globalPeak = v;
    }
    return {globalPeak, exactSums};
}

// The largest of x[stride * j] for j = from..to, and 0 when none is above 0: the plain running
// maximum, in four independent chains (a maximum does not round, so the order does not matter).
inline double PeakOf(const double* x, long stride, long from, long to) {
    double p[4] = {0.0, 0.0, 0.0, 0.0};
    long j = from;
    for (; j + 3 <= to; j += 4) {
        for (int c = 0; c < 4; ++c) {
            const double v = std::fabs(x[stride * (j + c)]);
            if (v > p[c])
                p[c] = v;
        }
    }
    for (; j <= to; ++j) {
        const double v = std::fabs(x[stride * j]);
        if (v > p[0])
            p[0] = v;
    }
    double peak = p[0];
    for (int c = 1; c < 4; ++c) {
        if (p[c] > peak)
            peak = p[c];
    }
    return peak;
}

// Lags of r the candidate search reads around a peak: its lag moves by at most half a lag from
// the peak's, and the sinc interpolation reaches kSincDepth - 1 lags left and kSincDepth right
// of that. So the negative lags down to -kMirroredLags (candidate lags start at 2), and the
// positive ones up to lagLimit + kSincReach.
inline constexpr long kMirroredLags = kSincDepth + 2;
inline constexpr long kSincReach = kSincDepth + 2;

// One analysis: the sizes, the window and its autocorrelation, and the working arrays, made
// once; then, a group of frames at a time (one per lane of FrameLanes), the windowed frames,
// their normalised autocorrelations and the candidate search of each.
template <class FrameLanes, bool kFastPath>
class PitchAnalyser {
    static constexpr int kLanes = sizeof(FrameLanes) / sizeof(double);
    static constexpr long kSpareDoubles = kLaneGroupAlignment / sizeof(double);

  public:
    PitchAnalyser(Sound* sound, Pitch* pitch, const PitchSettings& settings, double ceiling,
                  const PitchAnalysisSizes& sizes)
        : sound_(sound),
          pitch_(pitch),
          settings_(settings),
          ceiling_(ceiling),
          rate_(settings.analysisRateHz),
          sizes_(sizes),
          samples_(sound->data[1]),
          sampleCount_(sound->count),
          rLength_(2 * sizes.windowSamples + 1),
          frame_(1, sizes.fftSize),
          ac_(1, sizes.fftSize),
          window_(1, sizes.windowSamples),
          r_(0, kLanes * rLength_ - 1),
          lanesStorage_(0, kLanes * sizes.fftSize + kSpareDoubles - 1) {}

    // Everything made once per call; false when memory is exhausted.
    bool Prepare() {
        if (!frame_ || !ac_ || !window_ || !r_ || !lanesStorage_)
            return false;
        // The library's blocks are aligned for doubles, the lane groups want more: the storage
        // has room to spare for it.
        const auto address = reinterpret_cast<uintptr_t>(lanesStorage_.get());
        const uintptr_t aligned =
            (address + kLaneGroupAlignment - 1) & ~uintptr_t{kLaneGroupAlignment - 1};
        lanes_ = reinterpret_cast<FrameLanes*>(aligned - sizeof(FrameLanes));  // 1-based
        if (kFastPath && !plan_.Prepare(sizes_.fftSize))
            return false;
        MakeWindow(settings_.method, window_.get(), sizes_.windowSamples);
        WindowAutocorrelation();
        const SoundLevel level = LevelOf(samples_, sampleCount_);
        globalPeak_ = level.peak;
        exactSums_ = level.exactSums;
        return true;
    }

    // Every frame's candidates, then the best path. False when memory is exhausted.
    bool Run() {
        const int32_t frameCount = pitch_->count;
        for (int32_t first = 1; first <= frameCount; first += kLanes) {
            bool voiced[kLanes] = {};
            bool anyVoiced = false;
            FramePlace places[kLanes];
            int lanesUsed = 0;
            for (int lane = 0; lane < kLanes && first + lane <= frameCount; ++lane) {
                if (!PitchFrame_init(&pitch_->frames[first + lane], settings_.maxCandidates))
                    return false;
                places[lane] = PlaceFrame(first + lane);
                ++lanesUsed;
            }
            WindowFrames(places, lanesUsed);
            for (int lane = 0; lane < kLanes; ++lane) {
                if (lane >= lanesUsed)
                    continue;
                PitchFrame& pf = pitch_->frames[first + lane];
                const double localPeak = LocalPeak(lane);
                pf.intensity = localPeak > globalPeak_ ? 1.0 : localPeak / globalPeak_;
                pf.candidateCount = 1;
                pf.candidates[1] = PitchCandidate{0.0, 0.0};
                // A silent frame has no autocorrelation to normalise; it stays unvoiced.
                voiced[lane] = localPeak != 0.0;
                anyVoiced = anyVoiced || voiced[lane];
            }
            if (!anyVoiced)
                continue;
            Autocorrelate(voiced);
            NormaliseAutocorrelations();
            for (int lane = 0; lane < kLanes; ++lane) {
                if (voiced[lane])
                    FindCandidates(R(lane), pitch_->frames[first + lane]);
            }
        }
        Pitch_chooseBestPath(pitch_, settings_.silenceThreshold, settings_.voicingThreshold,
                             settings_.octaveCost, settings_.octaveJumpCost,
                             settings_.voicedUnvoicedCost, ceiling_, 0);
        return true;
    }

  private:
    // Lane `lane` of the frame group as doubles: its element j is lane(lane)[kLanes * j].
    double* Lane(int lane) const { return reinterpret_cast<double*>(lanes_) + lane; }
    // r[-rSpan..rSpan] of lane `lane`'s frame.
    double* R(int lane) const { return r_.get() + lane * rLength_ + sizes_.windowSamples; }

    // The window's own normalised autocorrelation, to undo its taper on every frame's.
    void WindowAutocorrelation() {
        double* ac = ac_.get();
        for (long i = 1; i <= sizes_.windowSamples; ++i)
            ac[i] = window_[i];
        AutocorrelateInPlace(ac, sizes_.fftSize, kFastPath ? &plan_ : nullptr);
        for (long i = 2; i <= sizes_.windowSamples; ++i)
            ac[i] /= ac[1];
        ac[1] = 1.0;
    }

    // Where a frame reads the sound, and its local mean (over a period either side of its
    // centre).
    struct FramePlace {
        long startSample;
        double localMean;
        bool inside;  // the frame and its mean read only samples of the sound
    };

    FramePlace PlaceFrame(int32_t iframe) {
        const long periodSamples = sizes_.periodSamples;
        const float* samples = samples_;
        const long count = sampleCount_;
        const double t = pitch_->firstTime + (iframe - 1) * pitch_->step;
        const long leftSample = Sound_timeToLowIndex(sound_, t);
        const long rightSample = leftSample + 1;
        const long startSample = rightSample - sizes_.halfWindowSamples;
        const long meanFrom = rightSample - periodSamples;
        const long meanTo = leftSample + periodSamples;
        // Frames inside the sound read it directly; a frame that would reach past either end
        // (only when the analysis rate is not the sound's own) reads silence there.
        const bool inside = meanFrom >= 1 && meanTo <= count && startSample >= 1 &&
                            startSample + sizes_.windowSamples - 1 <= count;
        double localSum = 0.0;
        if (inside && exactSums_ && kFastPath) {
            localSum = RunningSum(meanFrom, meanTo);
        } else if (inside) {
            for (long k = meanFrom; k <= meanTo; ++k)
                localSum += samples[k];
        } else {
            for (long k = meanFrom; k <= meanTo; ++k)
                localSum += SampleAt(k);
        }
        return {startSample, localSum * (1.0 / (2.0 * periodSamples)), inside};
    }

    double SampleAt(long k) const { return k >= 1 && k <= sampleCount_ ? samples_[k] : 0.0; }

    // The sum of samples from..to (inside the sound), moved along from the previous frame's:
    // the same number as a fresh sum, because with exact sums no addition rounds.
    double RunningSum(long from, long to) {
        if (from < sumFrom_ || to < sumTo_ || from > sumTo_ + 1) {
            sumFrom_ = from;
            sumTo_ = from - 1;
            runningSum_ = 0.0;
        }
        for (long k = sumTo_ + 1; k <= to; ++k)
            runningSum_ += samples_[k];
        for (long k = sumFrom_; k < from; ++k)
            runningSum_ -= samples_[k];
        sumFrom_ = from;
        sumTo_ = to;
        return runningSum_;
    }

    // Windows the frames of the first `used` lanes into their elements 1..windowSamples, less
    // their local means; the other lanes become silence.
    void WindowFrames(const FramePlace* places, int used) const {
        const long windowSamples = sizes_.windowSamples;
        const double* window = window_.get();
        bool allInside = used == kLanes && kFastPath;
        for (int lane = 0; lane < used; ++lane)
            allInside = allInside && places[lane].inside;
        if (allInside) {
            // All lanes at once, one vector store per sample position.
            const float* s[kLanes];
            FrameLanes mean;
            for (int lane = 0; lane < kLanes; ++lane) {
                s[lane] = samples_ + (places[lane].startSample - 1);
                mean[lane] = places[lane].localMean;
            }
            FrameLanes* lanes = lanes_;
            for (long j = 1; j <= windowSamples; ++j) {
                FrameLanes x;
                for (int lane = 0; lane < kLanes; ++lane)
                    x[lane] = s[lane][j];
                lanes[j] = (x - mean) * window[j];
            }
            return;
        }
        for (int lane = 0; lane < kLanes; ++lane) {
            double* out = Lane(lane);
            if (lane >= used) {
                for (long j = 1; j <= windowSamples; ++j)
                    out[kLanes * j] = 0.0;
                continue;
            }
            const FramePlace& place = places[lane];
            for (long j = 1; j <= windowSamples; ++j) {
                out[kLanes * j] =
                    (SampleAt(place.startSample + j - 1) - place.localMean) * window[j];
            }
        }
    }

    // The lane's frame's peak within half a period of its centre.
    double LocalPeak(int lane) const {
        const long halfWindow = sizes_.halfWindowSamples;
        const long halfPeriod = sizes_.halfPeriodSamples;
        const long peakFrom = std::max(1L, halfWindow - halfPeriod + 1);
        const long peakTo = std::min(halfWindow + halfPeriod, sizes_.windowSamples);
        const double* x = Lane(lane);
        if constexpr (kFastPath)
            return PeakOf(x, kLanes, peakFrom, peakTo);
        double localPeak = 0.0;
        for (long j = peakFrom; j <= peakTo; ++j) {
            const double v = std::fabs(x[kLanes * j]);
            if (v > localPeak)
                localPeak = v;
        }
        return localPeak;
    }

    // Every lane's frame, zero-padded to the transform size, becomes its autocorrelation times
    // fftSize / 2 (lags 0..rSpan are kept): the fast path transforms all lanes in one pass,
    // the reference path each voiced lane on its own with fftReal.
    void Autocorrelate(const bool* voiced) {
        const long windowSamples = sizes_.windowSamples;
        const long fftSize = sizes_.fftSize;
        FrameLanes* lanes = lanes_;
        if constexpr (kFastPath) {
            for (long j = windowSamples + 1; j <= fftSize; ++j)
                lanes[j] = FrameLanes{};
            plan_.PowerSpectrumRoundTrip(lanes);
            return;
        }
        double* frame = frame_.get();
        for (int lane = 0; lane < kLanes; ++lane) {
            if (!voiced[lane])
                continue;
            const double* in = Lane(lane);
            for (long j = 1; j <= windowSamples; ++j)
                frame[j] = in[kLanes * j];
            for (long j = windowSamples + 1; j <= fftSize; ++j)
                frame[j] = 0.0;
            AutocorrelateInPlace(frame, fftSize, nullptr);
            for (long j = 1; j <= sizes_.rSpan + 1; ++j)
                lanes[j][lane] = frame[j];
        }
    }

    // r[-rSpan..rSpan] of every lane: the frame's autocorrelation at each lag, normalised by
    // lag 0 and divided by the window's own; only the lags the candidate search reads are made.
    // (Lanes without a voiced frame get values never read.)
    void NormaliseAutocorrelations() {
        const FrameLanes* lanes = lanes_;
        const double* ac = ac_.get();
        double* r[kLanes];
        for (int lane = 0; lane < kLanes; ++lane) {
            r[lane] = R(lane);
            r[lane][0] = 1.0;
        }
        const FrameLanes lag0 = lanes[1];
        auto normalise = [&](long i) {
            const FrameLanes v = lanes[i + 1] / (lag0 * ac[i + 1]);
            for (int lane = 0; lane < kLanes; ++lane)
                r[lane][i] = v[lane];
        };
        const long rSpan = sizes_.rSpan;
        const long lastLag = kFastPath ? std::min(rSpan, sizes_.lagLimit + kSincReach) : rSpan;
        for (long i = 1; i <= lastLag; ++i)
            normalise(i);
        // A degenerate peak (a plateau after a rise below rounding) sends the interpolation to
        // the array's last element.
        if (lastLag < rSpan)
            normalise(rSpan);
        const long mirrored = kFastPath ? std::min(kMirroredLags, rSpan) : rSpan;
        for (int lane = 0; lane < kLanes; ++lane) {
            for (long i = 1; i <= mirrored; ++i)
                r[lane][-i] = r[lane][i];
        }
    }

    // Candidate search: every peak of r above half the voicing threshold, with its lag refined
    // by a parabola and its strength by sinc interpolation, joins the frame's candidates; once
    // they are full it displaces the weakest (octave-corrected) if it is stronger.
    void FindCandidates(const double* r, PitchFrame& pf) const {
        const long rSpan = sizes_.rSpan;
        // r[-rSpan..rSpan] as the 1-based array the sinc interpolation takes.
        const double* rAsArray = r - rSpan - 1;
        const double R = rate_;
        const double minimumPitch = settings_.minimumPitch;
        const double octaveCost = settings_.octaveCost;
        const int32_t maxCandidates = settings_.maxCandidates;
        for (long i = kFirstCandidateLag; i < sizes_.lagLimit && i < rSpan; ++i) {
            if (!(r[i] > 0.5 * settings_.voicingThreshold && r[i] > r[i - 1] && r[i] >= r[i + 1]))
                continue;
            const double dr = 0.5 * (r[i + 1] - r[i - 1]);
            const double d2r = 2.0 * r[i] - r[i - 1] - r[i + 1];
            const double frequency = R / (i + dr / d2r);
            double strength = interpolateSinc(rAsArray, 2 * rSpan + 1,
                                              (1.0 / frequency) * R + rSpan + 1, kSincDepth);
            // Interpolation can overshoot 1; the reciprocal keeps such a peak below 1.
            if (strength > 1.0)
                strength = 1.0 / strength;
            const PitchCandidate candidate{strength, frequency};
            if (pf.candidateCount < maxCandidates) {
                pf.candidates[++pf.candidateCount] = candidate;
                continue;
            }
            double weakest = kAboveAnyStrength;
            int32_t place = 0;
            for (int32_t k = 2; k <= maxCandidates; ++k) {
                const double local = LocalStrength(pf.candidates[k], minimumPitch, octaveCost);
                if (local < weakest) {
                    weakest = local;
                    place = k;
                }
            }
            if (place != 0 && LocalStrength(candidate, minimumPitch, octaveCost) > weakest)
                pf.candidates[place] = candidate;
        }
    }

    Sound* sound_;
    Pitch* pitch_;
    const PitchSettings& settings_;
    double ceiling_;
    double rate_;
    PitchAnalysisSizes sizes_;
    const float* samples_;
    long sampleCount_;
    long rLength_;
    double globalPeak_ = 0.0;
    bool exactSums_ = false;
    // The sum of samples sumFrom_..sumTo_, carried from frame to frame when sums are exact.
    long sumFrom_ = 1;
    long sumTo_ = 0;
    double runningSum_ = 0.0;
    ScopedVector<double> frame_;  // one frame for the reference path's fftReal
    ScopedVector<double> ac_;
    ScopedVector<double> window_;
    ScopedVector<double> r_;  // kLanes arrays r[-windowSamples..windowSamples], one after another
    ScopedVector<double> lanesStorage_;
    FrameLanes* lanes_ = nullptr;  // 1-based, 1..fftSize, aligned inside lanesStorage_
    PitchFftPlan plan_;
};

// The settings as the analysis uses them, its ceiling and its sample counts.
struct PitchAnalysisPlan {
    PitchSettings settings;
    double ceiling = 0.0;
    PitchAnalysisSizes sizes;
};

// Checks the settings, completes them (the library's default rate, the method's window, a
// default step), works out the sizes and lays the frames out in pitch. False refuses the
// analysis as Sound_to_PitchWith documents.
bool PlanPitchAnalysis(Sound* sound, Pitch* pitch, const PitchSettings& requested,
                       PitchAnalysisPlan& plan);

}  // namespace qm::pitch_detail
