#include "dsp/pitch.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "dsp/arrays.h"
#include "dsp/constants.h"
#include "dsp/fft.h"
#include "dsp/pitch_analyser.h"
#include "dsp/pitch_internal.h"
#include "dsp/resample.h"

namespace qm {

int32_t analysisSampleRate = 0;

namespace {

// The forward pass's starting score for every cell: below any score reachable with sane costs,
// so that some predecessor always beats it.
constexpr float kPathScoreFloor = -10.0f;

// Replaces a packed real spectrum by its power spectrum (a real, even sequence).
void PackedPowerSpectrum(double* x, long n) {
    x[1] *= x[1];
    x[2] *= x[2];
    for (long i = 3; i < n; i += 2) {
        x[i] = x[i] * x[i] + x[i + 1] * x[i + 1];
        x[i + 1] = 0.0;
    }
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
        !pitch_detail::AllFinite({windowDuration, timeStep}) || timeStep <= 0.0) {
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
    pitch_detail::PitchAnalysisPlan plan;
    if (!pitch_detail::PlanPitchAnalysis(sound, pitch, settings, plan))
        return false;
    // Four frames per transform where the wide kernels run on this processor, else two.
    if (PitchFftPlan::WideLanesAvailable()) {
        pitch_detail::PitchAnalyser<FrameQuad, true> analyser(sound, pitch, plan.settings,
                                                              plan.ceiling, plan.sizes);
        return analyser.Prepare() && analyser.Run() ? 1 : 0;
    }
    pitch_detail::PitchAnalyser<FramePair, true> analyser(sound, pitch, plan.settings, plan.ceiling,
                                                          plan.sizes);
    return analyser.Prepare() && analyser.Run() ? 1 : 0;
}

namespace pitch_detail {

bool PlanPitchAnalysis(Sound* sound, Pitch* pitch, const PitchSettings& requested,
                       PitchAnalysisPlan& plan) {
    PitchSettings& settings = plan.settings;
    settings = requested;
    // Read once: the rate stays the same for the whole analysis whatever another caller
    // stores in the library's default meanwhile.
    if (settings.analysisRateHz == 0)
        settings.analysisRateHz = analysisSampleRate;
    if (!SettingsUsable(sound, pitch, settings))
        return false;
    AnalysisShape shape;
    if (!ShapeOf(requested.method, requested.periodsPerWindow, shape))
        return false;
    settings.periodsPerWindow = shape.periodsPerWindow;
    if (settings.timeStep <= 0.0)
        settings.timeStep = 1.0 / settings.minimumPitch;

    const double duration = sound->count * sound->step;
    if (settings.minimumPitch < settings.periodsPerWindow / duration) {
        std::printf(
            "(Sound_to_Pitch:) For this Sound, the parameter 'minimum pitch'\nmay not be less "
            "than %.8g Hz.",
            settings.periodsPerWindow / duration);
        return false;
    }

    const double R = settings.analysisRateHz;
    // Nothing above the Nyquist frequency of the analysis rate can be a pitch.
    const double ceiling = std::min(settings.ceiling, 0.5 * R);
    plan.ceiling = ceiling;
    PitchAnalysisSizes& sizes = plan.sizes;
    if (!ComputePitchAnalysisSizes(R, settings.minimumPitch, settings.periodsPerWindow, shape.depth,
                                   sound->count, sizes)) {
        return false;
    }
    const double windowDuration = (1.0 / settings.minimumPitch) * settings.periodsPerWindow;
    int32_t frameCount = 0;
    double firstFrameTime = 0.0;
    if (!Sound_frameLayout(sound, windowDuration, settings.timeStep, &frameCount, &firstFrameTime))
        return false;
    // Frames closer together than the samples repeat each other; a step that small (a floor
    // far above any voice makes the default step 1 / floor) would only exhaust memory.
    if (frameCount > sound->count)
        return false;
    if (!Pitch_init(pitch, sound->startTime, sound->endTime, frameCount, settings.timeStep,
                    firstFrameTime, ceiling, settings.maxCandidates)) {
        return false;
    }
    return true;
}

}  // namespace pitch_detail

}  // namespace qm
