#include "dsp/pitch.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "dsp/arrays.h"
#include "dsp/constants.h"
#include "dsp/fft.h"
#include "dsp/pitch_internal.h"
#include "dsp/resample.h"

namespace qm {

int32_t analysisSampleRate = 0;

namespace {

// Deepest windowed-sinc interpolation used to refine a candidate's strength between lags.
constexpr long kSincDepth = 30;

// The forward pass's starting score for every cell: below any score reachable with sane costs,
// so that some predecessor always beats it.
constexpr float kPathScoreFloor = -10.0f;

// Start of the search for the weakest candidate: above every strength (they are at most 1).
constexpr double kAboveAnyStrength = 2.0;

// Candidate lags start here: lag 1 has no left neighbour to make it a peak.
constexpr long kFirstCandidateLag = 2;

bool AllFinite(std::initializer_list<double> values) {
    for (double v : values) {
        if (!std::isfinite(v))
            return false;
    }
    return true;
}

// Replaces a packed real spectrum by its power spectrum (a real, even sequence).
void PackedPowerSpectrum(double* x, long n) {
    x[1] *= x[1];
    x[2] *= x[2];
    for (long i = 3; i < n; i += 2) {
        x[i] = x[i] * x[i] + x[i + 1] * x[i + 1];
        x[i + 1] = 0.0;
    }
}

// Octave-corrected strength used to pick which candidate a new peak may displace.
double LocalStrength(const PitchCandidate& c, double minimumPitch, double octaveCost) {
    return c.strength - octaveCost * std::log2(minimumPitch / c.frequency);
}

}  // namespace

int ComputePitchAnalysisSizes(double R, double minimumPitch, double periodsPerWindow, double depth,
                              long soundSamples, PitchAnalysisSizes& sizes) {
    // Every size is a sample count at rate R; the sound holds soundSamples samples, so a window
    // wider than the sound (R not the sound's own rate) cannot be analysed. The window used is
    // up to 2 samples narrower than windowReal (halved, less one, doubled), hence the slack.
    const double windowReal = std::floor(R * ((1.0 / minimumPitch) * periodsPerWindow));
    const double periodReal = std::floor(R * (1.0 / minimumPitch));
    if (!(windowReal <= static_cast<double>(soundSamples) + 2.0) || !(periodReal >= 1.0) ||
        !(periodReal <= static_cast<double>(soundSamples))) {
        return 0;
    }
    sizes.periodSamples = static_cast<long>(periodReal);
    sizes.halfPeriodSamples = sizes.periodSamples / 2 + 1;
    sizes.halfWindowSamples = static_cast<long>(windowReal) / 2 - 1;
    if (sizes.halfWindowSamples < 2)
        return 0;
    sizes.windowSamples = 2 * sizes.halfWindowSamples;
    sizes.lagLimit = static_cast<long>(std::floor(sizes.windowSamples / periodsPerWindow)) + 2;
    if (sizes.lagLimit > sizes.windowSamples)
        sizes.lagLimit = sizes.windowSamples;
    sizes.fftSize = 1;
    while (sizes.fftSize < (1.0 + depth) * sizes.windowSamples)
        sizes.fftSize *= 2;
    sizes.rSpan = static_cast<long>(sizes.windowSamples * depth);
    return 1;
}

void AutocorrelateInPlace(double* data, long fftSize, PitchFftPlan* plan) {
    if (plan != nullptr) {
        plan->PowerSpectrumRoundTrip(data);
        return;
    }
    fftReal(data, fftSize, 1);
    PackedPowerSpectrum(data, fftSize);
    fftReal(data, fftSize, -1);
}

int Sound_frameLayout(const Sound* sound, double windowDuration, double timeStep,
                      int32_t* frameCount, double* firstFrameTime) {
    if (sound == nullptr || frameCount == nullptr || firstFrameTime == nullptr ||
        !AllFinite({windowDuration, timeStep}) || timeStep <= 0.0) {
        return 0;
    }
    const double duration = sound->count * sound->step;
    if (windowDuration > duration)
        return 0;
    const double frames = std::floor((duration - windowDuration) / timeStep) + 1.0;
    if (!(frames >= 1.0 && frames <= INT32_MAX))
        return 0;
    const int32_t n = static_cast<int32_t>(frames);
    *frameCount = n;
    *firstFrameTime = (sound->firstTime - 0.5 * sound->step) + 0.5 * duration - 0.5 * n * timeStep +
                      0.5 * timeStep;
    return 1;
}

int Pitch_init(Pitch* pitch, double startTime, double endTime, int32_t count, double step,
               double firstTime, double ceiling, int32_t maxCandidates) {
    if (pitch == nullptr)
        return 0;
    Pitch_freeFrames(pitch);
    pitch->startTime = startTime;
    pitch->endTime = endTime;
    pitch->step = step;
    pitch->firstTime = firstTime;
    pitch->ceiling = ceiling;
    pitch->maxCandidates = maxCandidates;
    if (count < 0)
        return 0;
    pitch->frames = allocVectorOf<PitchFrame>(1, count);
    if (pitch->frames == nullptr)
        return 0;
    pitch->count = count;
    return 1;
}

int PitchFrame_init(PitchFrame* frame, int32_t n) {
    if (frame == nullptr || n < 1)
        return 0;
    PitchFrame_free(frame);
    frame->candidates = allocVectorOf<PitchCandidate>(1, n);
    if (frame->candidates == nullptr)
        return 0;
    frame->candidateCount = n;
    return 1;
}

void PitchFrame_free(PitchFrame* frame) {
    if (frame == nullptr || frame->candidates == nullptr)
        return;
    // The block's extent does not matter to the release; only its first index does.
    freeVectorOf(frame->candidates, 1, frame->candidateCount);
    frame->candidates = nullptr;
    frame->candidateCount = 0;
}

void Pitch_freeFrames(Pitch* pitch) {
    if (pitch == nullptr || pitch->frames == nullptr) {
        if (pitch != nullptr)
            pitch->count = 0;
        return;
    }
    for (int32_t i = 1; i <= pitch->count; ++i)
        PitchFrame_free(&pitch->frames[i]);
    freeVectorOf(pitch->frames, 1, pitch->count);
    pitch->frames = nullptr;
    pitch->count = 0;
}

int32_t Pitch_maxCandidates(const Pitch* pitch) {
    if (pitch == nullptr || pitch->frames == nullptr)
        return 0;
    int32_t n = 0;
    for (int32_t i = 1; i <= pitch->count; ++i) {
        if (pitch->frames[i].candidateCount > n)
            n = pitch->frames[i].candidateCount;
    }
    return n;
}

namespace {

// The settings of the path search, with the ceiling above which a candidate counts as unvoiced.
struct PathCosts {
    double silenceThreshold;
    double voicingThreshold;
    double octaveCost;
    double octaveJumpCost;
    double voicedUnvoicedCost;
    double ceiling;
    double ceiling2;  // the ceiling, or twice it when the search may reach above the ceiling
};

// Voicing: the score of a frame's unvoiced candidate. The voicing threshold, raised for a frame
// whose peak is low against the silence threshold, so that quiet frames prefer silence.
double UnvoicedStrength(double intensity, const PathCosts& costs) {
    if (costs.silenceThreshold <= 0.0)
        return costs.voicingThreshold;
    // The raise falls from 2 for a silent frame to 0 at an intensity of
    // 2 * silenceThreshold / (1 + voicingThreshold); louder frames keep the plain threshold.
    const double u = 2.0 - intensity / (costs.silenceThreshold / (1.0 + costs.voicingThreshold));
    return u > 0.0 ? costs.voicingThreshold + u : costs.voicingThreshold;
}

// Voicing: every candidate's own score. Voiced ones score their strength, less the octave cost
// of their distance below the ceiling (which favours the higher of two equal candidates).
void LocalScores(const Pitch& pitch, const PathCosts& costs, float** delta) {
    for (int32_t i = 1; i <= pitch.count; ++i) {
        const PitchFrame& frame = pitch.frames[i];
        const double unvoicedStrength = UnvoicedStrength(frame.intensity, costs);
        for (int32_t j = 1; j <= frame.candidateCount; ++j) {
            const PitchCandidate& c = frame.candidates[j];
            const bool unvoiced = c.frequency == 0.0 || c.frequency > costs.ceiling2;
            delta[i][j] = static_cast<float>(
                unvoiced ? unvoicedStrength
                         : c.strength - costs.octaveCost * std::log2(costs.ceiling / c.frequency));
        }
    }
}

bool IsVoicedCandidate(double frequency, double ceiling2) {
    return frequency > 0.0 && frequency < ceiling2;
}

// Best path, forward pass: each candidate's score becomes the best total score of a path that
// ends in it; psi keeps the predecessor that gave it (the earliest one on a tie).
void ForwardPass(const Pitch& pitch, const PathCosts& costs, float** delta, int32_t** psi) {
    for (int32_t i = 2; i <= pitch.count; ++i) {
        const PitchFrame& prev = pitch.frames[i - 1];
        const PitchFrame& cur = pitch.frames[i];
        for (int32_t j = 1; j <= cur.candidateCount; ++j) {
            const double fj = cur.candidates[j].frequency;
            const bool voicedJ = IsVoicedCandidate(fj, costs.ceiling2);
            const double local = delta[i][j];
            float maximum = kPathScoreFloor;
            int32_t place = 0;
            for (int32_t k = 1; k <= prev.candidateCount; ++k) {
                const double fk = prev.candidates[k].frequency;
                const bool voicedK = IsVoicedCandidate(fk, costs.ceiling2);
                double transition = 0.0;
                if (voicedK != voicedJ)
                    transition = costs.voicedUnvoicedCost;
                else if (voicedK)
                    transition = costs.octaveJumpCost * std::fabs(std::log2(fk / fj));
                const double value = delta[i - 1][k] - transition + local;
                if (value > maximum) {
                    maximum = static_cast<float>(value);
                    place = k;
                }
            }
            delta[i][j] = maximum;
            psi[i][j] = place;
        }
    }
}

// Best path, back-tracking from the last frame's best candidate (the earliest on a tie): every
// frame's candidate on the path moves to slot 1.
void BackTrack(Pitch& pitch, float** delta, int32_t** psi) {
    const int32_t count = pitch.count;
    int32_t place = 1;
    for (int32_t j = 2; j <= pitch.frames[count].candidateCount; ++j) {
        if (delta[count][j] > delta[count][place])
            place = j;
    }
    for (int32_t i = count; i >= 1; --i) {
        PitchFrame& frame = pitch.frames[i];
        // Costs so extreme that no predecessor beat the floor score leave no back-pointer;
        // the frame then keeps its first candidate rather than indexing slot 0.
        if (place < 1 || place > frame.candidateCount)
            place = 1;
        std::swap(frame.candidates[1], frame.candidates[place]);
        place = psi[i][place];
    }
}

// With a doubled ceiling the path may pass between the ceiling and twice it; such a frame then
// takes its first unvoiced candidate instead.
void UnvoiceAboveCeiling(Pitch& pitch, const PathCosts& costs) {
    for (int32_t i = 1; i <= pitch.count; ++i) {
        PitchFrame& frame = pitch.frames[i];
        const double f = frame.candidates[1].frequency;
        if (!(f > costs.ceiling && f < costs.ceiling2))
            continue;
        for (int32_t j = 2; j <= frame.candidateCount; ++j) {
            if (frame.candidates[j].frequency == 0.0) {
                std::swap(frame.candidates[1], frame.candidates[j]);
                break;
            }
        }
    }
}

}  // namespace

void Pitch_chooseBestPath(Pitch* pitch, double silenceThreshold, double voicingThreshold,
                          double octaveCost, double octaveJumpCost, double voicedUnvoicedCost,
                          double ceiling, int32_t doubleCeiling) {
    if (pitch == nullptr)
        return;
    pitch->ceiling = ceiling;
    const PathCosts costs{silenceThreshold,
                          voicingThreshold,
                          octaveCost,
                          octaveJumpCost,
                          voicedUnvoicedCost,
                          ceiling,
                          doubleCeiling ? 2.0 * ceiling : ceiling};
    const int32_t count = pitch->count;
    if (pitch->frames == nullptr || count < 1)
        return;
    // A record whose analysis stopped half-way has frames without candidates: nothing to choose.
    for (int32_t i = 1; i <= count; ++i) {
        if (pitch->frames[i].candidates == nullptr || pitch->frames[i].candidateCount < 1)
            return;
    }
    const int32_t n = Pitch_maxCandidates(pitch);
    ScopedMatrix<float> delta(1, count, 1, n);
    ScopedMatrix<int32_t> psi(1, count, 1, n);
    if (!delta || !psi)
        return;
    LocalScores(*pitch, costs, delta.get());
    ForwardPass(*pitch, costs, delta.get(), psi.get());
    BackTrack(*pitch, delta.get(), psi.get());
    if (costs.ceiling2 > costs.ceiling)
        UnvoiceAboveCeiling(*pitch, costs);
}

namespace {

// The settings as the analysis uses them: method 1 doubles the window; the interpolation depth
// says how far beyond the window the autocorrelation is kept (a share of the window).
struct AnalysisShape {
    double periodsPerWindow;
    double depth;
};

bool ShapeOf(int32_t method, double periodsPerWindow, AnalysisShape& shape) {
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

bool SettingsUsable(const Sound* sound, const Pitch* pitch, const PitchSettings& s) {
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
void MakeWindow(int32_t method, double* window, long windowSamples) {
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
constexpr float kLargestExactSample = 32768.0f;

struct SoundLevel {
    double peak;     // the largest deviation of any sample from the sound's mean
    bool exactSums;  // every sample a whole number within +-kLargestExactSample
};

SoundLevel LevelOf(const float* samples, long count) {
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
double PeakOf(const double* x, long stride, long from, long to) {
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
constexpr long kMirroredLags = kSincDepth + 2;
constexpr long kSincReach = kSincDepth + 2;

// One analysis: the sizes, the window and its autocorrelation, and the working arrays, made
// once; then, a group of frames at a time (one per lane of FrameLanes), the windowed frames,
// their normalised autocorrelations and the candidate search of each.
template <class FrameLanes>
class PitchAnalyser {
    static constexpr int kLanes = sizeof(FrameLanes) / sizeof(double);
    static constexpr long kSpareDoubles = kLaneGroupAlignment / sizeof(double);

  public:
    PitchAnalyser(Sound* sound, Pitch* pitch, const PitchSettings& settings, double ceiling,
                  const PitchAnalysisSizes& sizes, PitchAnalysisPath path)
        : sound_(sound),
          pitch_(pitch),
          settings_(settings),
          ceiling_(ceiling),
          rate_(settings.analysisRateHz),
          sizes_(sizes),
          samples_(sound->data[1]),
          sampleCount_(sound->count),
          useFastPath_(path == PitchAnalysisPath::kFast),
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
        if (useFastPath_ && !plan_.Prepare(sizes_.fftSize))
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
        AutocorrelateInPlace(ac, sizes_.fftSize, useFastPath_ ? &plan_ : nullptr);
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
        if (inside && exactSums_ && useFastPath_) {
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
        bool allInside = used == kLanes && useFastPath_;
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
        if (useFastPath_)
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
        if (useFastPath_) {
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
        const long lastLag = useFastPath_ ? std::min(rSpan, sizes_.lagLimit + kSincReach) : rSpan;
        for (long i = 1; i <= lastLag; ++i)
            normalise(i);
        // A degenerate peak (a plateau after a rise below rounding) sends the interpolation to
        // the array's last element.
        if (lastLag < rSpan)
            normalise(rSpan);
        const long mirrored = useFastPath_ ? std::min(kMirroredLags, rSpan) : rSpan;
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
    bool useFastPath_;
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

}  // namespace

int Sound_to_Pitch(Sound* sound, Pitch* pitch, double timeStep, double minimumPitch,
                   double maximumPitch) {
    PitchSettings settings;
    settings.timeStep = timeStep;
    settings.minimumPitch = minimumPitch;
    settings.ceiling = maximumPitch;
    return Sound_to_PitchWith(sound, pitch, settings);
}

int Sound_to_Pitch_detailed(Sound* sound, Pitch* pitch, double timeStep, double minimumPitch,
                            double periodsPerWindow, int32_t maxCandidates, int32_t method,
                            double silenceThreshold, double voicingThreshold, double octaveCost,
                            double octaveJumpCost, double voicedUnvoicedCost, double ceiling) {
    const PitchSettings settings{timeStep,           minimumPitch, periodsPerWindow,
                                 maxCandidates,      method,       silenceThreshold,
                                 voicingThreshold,   octaveCost,   octaveJumpCost,
                                 voicedUnvoicedCost, ceiling};
    return Sound_to_PitchWith(sound, pitch, settings);
}

int Sound_to_PitchWith(Sound* sound, Pitch* pitch, const PitchSettings& settings) {
    return PitchAnalysis(sound, pitch, settings, PitchAnalysisPath::kFast);
}

int PitchAnalysis(Sound* sound, Pitch* pitch, const PitchSettings& requested,
                  PitchAnalysisPath path) {
    PitchSettings settings = requested;
    // Read once: the rate stays the same for the whole analysis whatever another caller
    // stores in the library's default meanwhile.
    if (settings.analysisRateHz == 0)
        settings.analysisRateHz = analysisSampleRate;
    if (!SettingsUsable(sound, pitch, settings))
        return 0;
    AnalysisShape shape;
    if (!ShapeOf(requested.method, requested.periodsPerWindow, shape))
        return 0;
    settings.periodsPerWindow = shape.periodsPerWindow;
    if (settings.timeStep <= 0.0)
        settings.timeStep = 1.0 / settings.minimumPitch;

    const double duration = sound->count * sound->step;
    if (settings.minimumPitch < settings.periodsPerWindow / duration) {
        std::printf(
            "(Sound_to_Pitch:) For this Sound, the parameter 'minimum pitch'\nmay not be less "
            "than %.8g Hz.",
            settings.periodsPerWindow / duration);
        return 0;
    }

    const double R = settings.analysisRateHz;
    // Nothing above the Nyquist frequency of the analysis rate can be a pitch.
    const double ceiling = std::min(settings.ceiling, 0.5 * R);
    PitchAnalysisSizes sizes;
    if (!ComputePitchAnalysisSizes(R, settings.minimumPitch, settings.periodsPerWindow, shape.depth,
                                   sound->count, sizes)) {
        return 0;
    }
    const double windowDuration = (1.0 / settings.minimumPitch) * settings.periodsPerWindow;
    int32_t frameCount = 0;
    double firstFrameTime = 0.0;
    if (!Sound_frameLayout(sound, windowDuration, settings.timeStep, &frameCount, &firstFrameTime))
        return 0;
    // Frames closer together than the samples repeat each other; a step that small (a floor
    // far above any voice makes the default step 1 / floor) would only exhaust memory.
    if (frameCount > sound->count)
        return 0;
    if (!Pitch_init(pitch, sound->startTime, sound->endTime, frameCount, settings.timeStep,
                    firstFrameTime, ceiling, settings.maxCandidates)) {
        return 0;
    }
    // Four frames per transform where the wide kernels run on this processor, else two.
    if (path == PitchAnalysisPath::kFast && PitchFftPlan::WideLanesAvailable()) {
        PitchAnalyser<FrameQuad> analyser(sound, pitch, settings, ceiling, sizes, path);
        return analyser.Prepare() && analyser.Run() ? 1 : 0;
    }
    PitchAnalyser<FramePair> analyser(sound, pitch, settings, ceiling, sizes, path);
    return analyser.Prepare() && analyser.Run() ? 1 : 0;
}

}  // namespace qm
