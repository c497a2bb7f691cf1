#include "dsp/pitch.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "dsp/arrays.h"
#include "dsp/constants.h"
#include "dsp/fft.h"
#include "dsp/pitch_internal.h"
#include "dsp/resample.h"

int32_t analysisSampleRate = 0;

namespace {

// Interpolation depth of the sinc used to refine candidate strengths.
constexpr long kSincDepth = 30;

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
    // wider than the sound (R not the sound's own rate) cannot be analysed.
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

void Pitch_chooseBestPath(Pitch* pitch, double silenceThreshold, double voicingThreshold,
                          double octaveCost, double octaveJumpCost, double voicedUnvoicedCost,
                          double ceiling, int32_t doubleCeiling) {
    if (pitch == nullptr)
        return;
    pitch->ceiling = ceiling;
    const double ceiling2 = doubleCeiling ? 2.0 * ceiling : ceiling;
    const int32_t count = pitch->count;
    if (pitch->frames == nullptr || count < 1)
        return;
    PitchFrame* frames = pitch->frames;
    // A record whose analysis stopped half-way has frames without candidates: nothing to choose.
    for (int32_t i = 1; i <= count; ++i) {
        if (frames[i].candidates == nullptr || frames[i].candidateCount < 1)
            return;
    }
    const int32_t n = Pitch_maxCandidates(pitch);
    ScopedMatrix<float> delta(1, count, 1, n);
    ScopedMatrix<int32_t> psi(1, count, 1, n);
    if (!delta || !psi)
        return;

    for (int32_t i = 1; i <= count; ++i) {
        const PitchFrame& frame = frames[i];
        double unvoicedStrength = voicingThreshold;
        if (silenceThreshold > 0.0) {
            const double u = 2.0 - frame.intensity / (silenceThreshold / (1.0 + voicingThreshold));
            if (u > 0.0)
                unvoicedStrength = voicingThreshold + u;
        }
        for (int32_t j = 1; j <= frame.candidateCount; ++j) {
            const PitchCandidate& c = frame.candidates[j];
            const bool unvoiced = c.frequency == 0.0 || c.frequency > ceiling2;
            delta[i][j] = static_cast<float>(
                unvoiced ? unvoicedStrength
                         : c.strength - octaveCost * std::log2(ceiling / c.frequency));
        }
    }

    for (int32_t i = 2; i <= count; ++i) {
        const PitchFrame& prev = frames[i - 1];
        const PitchFrame& cur = frames[i];
        for (int32_t j = 1; j <= cur.candidateCount; ++j) {
            const double fj = cur.candidates[j].frequency;
            const bool voicedJ = fj > 0.0 && fj < ceiling2;
            const double local = delta[i][j];
            float maximum = -10.0f;
            int32_t place = 0;
            for (int32_t k = 1; k <= prev.candidateCount; ++k) {
                const double fk = prev.candidates[k].frequency;
                const bool voicedK = fk > 0.0 && fk < ceiling2;
                double transition = 0.0;
                if (voicedK != voicedJ)
                    transition = voicedUnvoicedCost;
                else if (voicedK)
                    transition = octaveJumpCost * std::fabs(std::log2(fk / fj));
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

    int32_t place = 1;
    for (int32_t j = 2; j <= frames[count].candidateCount; ++j) {
        if (delta[count][j] > delta[count][place])
            place = j;
    }
    for (int32_t i = count; i >= 1; --i) {
        PitchFrame& frame = frames[i];
        // Costs so extreme that no predecessor beat the floor score leave no back-pointer;
        // the frame then keeps its first candidate rather than indexing slot 0.
        if (place < 1 || place > frame.candidateCount)
            place = 1;
        std::swap(frame.candidates[1], frame.candidates[place]);
        place = psi[i][place];
    }

    if (ceiling2 > ceiling) {
        for (int32_t i = 1; i <= count; ++i) {
            PitchFrame& frame = frames[i];
            const double f = frame.candidates[1].frequency;
            if (!(f > ceiling && f < ceiling2))
                continue;
            for (int32_t j = 2; j <= frame.candidateCount; ++j) {
                if (frame.candidates[j].frequency == 0.0) {
                    std::swap(frame.candidates[1], frame.candidates[j]);
                    break;
                }
            }
        }
    }
}

int Sound_to_Pitch(Sound* sound, Pitch* pitch, double timeStep, double minimumPitch,
                   double maximumPitch) {
    return Sound_to_Pitch_detailed(sound, pitch, timeStep, minimumPitch, 3.0, 15, 0, 0.03, 0.45,
                                   0.01, 0.35, 0.14, maximumPitch);
}

int Sound_to_Pitch_detailed(Sound* sound, Pitch* pitch, double timeStep, double minimumPitch,
                            double periodsPerWindow, int32_t maxCandidates, int32_t method,
                            double silenceThreshold, double voicingThreshold, double octaveCost,
                            double octaveJumpCost, double voicedUnvoicedCost, double ceiling) {
    return PitchAnalysis(sound, pitch, timeStep, minimumPitch, periodsPerWindow, maxCandidates,
                         method, silenceThreshold, voicingThreshold, octaveCost, octaveJumpCost,
                         voicedUnvoicedCost, ceiling, PitchAnalysisPath::kFast);
}

int PitchAnalysis(Sound* sound, Pitch* pitch, double timeStep, double minimumPitch,
                  double periodsPerWindow, int32_t maxCandidates, int32_t method,
                  double silenceThreshold, double voicingThreshold, double octaveCost,
                  double octaveJumpCost, double voicedUnvoicedCost, double ceiling,
                  PitchAnalysisPath path) {
    if (sound == nullptr || pitch == nullptr || sound->data == nullptr || sound->count < 1 ||
        !(sound->step > 0.0) || analysisSampleRate <= 0 || maxCandidates < 1 ||
        !AllFinite({timeStep, minimumPitch, periodsPerWindow, silenceThreshold, voicingThreshold,
                    octaveCost, octaveJumpCost, voicedUnvoicedCost, ceiling, sound->step,
                    sound->firstTime}) ||
        minimumPitch <= 0.0 || periodsPerWindow <= 0.0) {
        return 0;
    }
    const double R = analysisSampleRate;
    if (timeStep <= 0.0)
        timeStep = 1.0 / minimumPitch;

    double depth = 0.0;
    if (method == 0) {
        depth = 0.5;
    } else if (method == 1) {
        periodsPerWindow *= 2.0;
        depth = 0.25;
    } else {
        return 0;  // the cross-correlation methods are not provided
    }

    const double duration = sound->count * sound->step;
    if (minimumPitch < periodsPerWindow / duration) {
        std::printf(
            "(Sound_to_Pitch:) For this Sound, the parameter 'minimum pitch'\nmay not be less "
            "than %.8g Hz.",
            periodsPerWindow / duration);
        return 0;
    }

    if (ceiling > 0.5 * R)
        ceiling = 0.5 * R;
    PitchAnalysisSizes sizes;
    if (!ComputePitchAnalysisSizes(R, minimumPitch, periodsPerWindow, depth, sound->count, sizes))
        return 0;
    const double windowDuration = (1.0 / minimumPitch) * periodsPerWindow;
    const long periodSamples = sizes.periodSamples;
    const long halfPeriodSamples = sizes.halfPeriodSamples;
    const long halfWindowSamples = sizes.halfWindowSamples;
    const long windowSamples = sizes.windowSamples;
    const long lagLimit = sizes.lagLimit;
    const long fftSize = sizes.fftSize;
    const long rSpan = sizes.rSpan;

    int32_t frameCount = 0;
    double firstFrameTime = 0.0;
    if (!Sound_frameLayout(sound, windowDuration, timeStep, &frameCount, &firstFrameTime))
        return 0;
    // Frames closer together than the samples repeat each other; a step that small (a floor
    // far above any voice makes the default step 1 / floor) would only exhaust memory.
    if (frameCount > sound->count)
        return 0;
    if (!Pitch_init(pitch, sound->startTime, sound->endTime, frameCount, timeStep, firstFrameTime,
                    ceiling, maxCandidates)) {
        return 0;
    }

    const long count = sound->count;
    const float* samples = sound->data[1];
    double sum = 0.0;
    for (long i = 1; i <= count; ++i)
        sum += samples[i];
    const double mean = sum / count;
    double globalPeak = 0.0;
    for (long i = 1; i <= count; ++i) {
        const double v = std::fabs(samples[i] - mean);
        if (v > globalPeak)
            globalPeak = v;
    }

    // Frames go through the analysis in pairs (lanes); the fast path transforms both lanes in
    // one pass, the reference path one lane after the other with fftReal.
    constexpr int kLanes = 2;
    ScopedVector<double> frame0(1, fftSize);
    ScopedVector<double> frame1(1, fftSize);
    ScopedVector<double> ac(1, fftSize);
    ScopedVector<double> window(1, windowSamples);
    ScopedVector<double> r(-windowSamples, windowSamples);
    ScopedVector<FramePair> pair(1, fftSize);
    if (!frame0 || !frame1 || !ac || !window || !r || !pair)
        return 0;
    double* const frames[kLanes] = {frame0.get(), frame1.get()};
    PitchFftPlan plan;
    PitchFftPlan* fastPlan = nullptr;
    if (path == PitchAnalysisPath::kFast) {
        if (!plan.Prepare(fftSize))
            return 0;
        fastPlan = &plan;
    }

    if (method == 0) {
        for (long i = 1; i <= windowSamples; ++i)
            window[i] = 0.5 - 0.5 * std::cos(2.0 * i * kDspPi / (windowSamples + 1));
    } else {
        const double edge = std::exp(-12.0);
        const double imid = 0.5 * (windowSamples + 1);
        const double width2 = static_cast<double>(windowSamples + 1) * (windowSamples + 1);
        for (long i = 1; i <= windowSamples; ++i) {
            window[i] = (std::exp(-48.0 * (i - imid) * (i - imid) / width2) - edge) / (1.0 - edge);
        }
    }

    // The window's own normalised autocorrelation, to undo its taper on every frame's.
    for (long i = 1; i <= windowSamples; ++i)
        ac[i] = window[i];
    AutocorrelateInPlace(ac.get(), fftSize, fastPlan);
    for (long i = 2; i <= windowSamples; ++i)
        ac[i] /= ac[1];
    ac[1] = 1.0;

    // r[-rSpan..rSpan] as the 1-based array the sinc interpolation takes.
    const double* rAsArray = r.get() - rSpan - 1;
    const double meanScale = 1.0 / (2.0 * periodSamples);
    const long peakFrom = std::max(1L, halfWindowSamples - halfPeriodSamples + 1);
    const long peakTo = std::min(halfWindowSamples + halfPeriodSamples, windowSamples);

    // Windows the frame centred at frame iframe's time into out[1..windowSamples], without its
    // local mean; returns the frame's local peak around its centre.
    auto buildFrame = [&](int32_t iframe, double* out) {
        const double t = pitch->firstTime + (iframe - 1) * pitch->step;
        const long leftSample = Sound_timeToLowIndex(sound, t);
        const long rightSample = leftSample + 1;
        const long startSample = rightSample - halfWindowSamples;
        const long meanFrom = rightSample - periodSamples;
        const long meanTo = leftSample + periodSamples;
        // Frames inside the sound read it directly; a frame that would reach past either end
        // (only when R is not the sound's own rate) reads silence there.
        const bool inside = meanFrom >= 1 && meanTo <= count && startSample >= 1 &&
                            startSample + windowSamples - 1 <= count;
        auto sampleAt = [&](long k) -> double { return k >= 1 && k <= count ? samples[k] : 0.0; };
        double localSum = 0.0;
        if (inside) {
            for (long k = meanFrom; k <= meanTo; ++k)
                localSum += samples[k];
        } else {
            for (long k = meanFrom; k <= meanTo; ++k)
                localSum += sampleAt(k);
        }
        const double localMean = localSum * meanScale;
        if (inside) {
            const float* s = samples + (startSample - 1);
            for (long j = 1; j <= windowSamples; ++j)
                out[j] = (s[j] - localMean) * window[j];
        } else {
            for (long j = 1; j <= windowSamples; ++j)
                out[j] = (sampleAt(startSample + j - 1) - localMean) * window[j];
        }
        double localPeak = 0.0;
        for (long j = peakFrom; j <= peakTo; ++j) {
            const double v = std::fabs(out[j]);
            if (v > localPeak)
                localPeak = v;
        }
        return localPeak;
    };

    // Candidates of one frame from its autocorrelation in ac-normalised form.
    auto findCandidates = [&](const double* autocorrelation, PitchFrame& pf) {
        r[0] = 1.0;
        const double lag0 = autocorrelation[1];
        for (long i = 1; i <= rSpan; ++i) {
            const double v = autocorrelation[i + 1] / (lag0 * ac[i + 1]);
            r[i] = v;
            r[-i] = v;
        }
        for (long i = 2; i < lagLimit && i < rSpan; ++i) {
            if (!(r[i] > 0.5 * voicingThreshold && r[i] > r[i - 1] && r[i] >= r[i + 1]))
                continue;
            const double dr = 0.5 * (r[i + 1] - r[i - 1]);
            const double d2r = 2.0 * r[i] - r[i - 1] - r[i + 1];
            const double frequency = R / (i + dr / d2r);
            double strength = interpolateSinc(rAsArray, 2 * rSpan + 1,
                                              (1.0 / frequency) * R + rSpan + 1, kSincDepth);
            if (strength > 1.0)
                strength = 1.0 / strength;
            const PitchCandidate candidate{strength, frequency};
            if (pf.candidateCount < maxCandidates) {
                pf.candidates[++pf.candidateCount] = candidate;
                continue;
            }
            double weakest = 2.0;
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
    };

    for (int32_t first = 1; first <= frameCount; first += kLanes) {
        bool voiced[kLanes] = {false, false};
        for (int lane = 0; lane < kLanes; ++lane) {
            const int32_t iframe = first + lane;
            double* out = frames[lane];
            if (iframe > frameCount) {
                for (long j = 1; j <= windowSamples; ++j)
                    out[j] = 0.0;
                continue;
            }
            const double localPeak = buildFrame(iframe, out);
            PitchFrame& pf = pitch->frames[iframe];
            if (!PitchFrame_init(&pf, maxCandidates))
                return 0;
            pf.intensity = localPeak > globalPeak ? 1.0 : localPeak / globalPeak;
            pf.candidateCount = 1;
            pf.candidates[1] = PitchCandidate{0.0, 0.0};
            // A silent frame has no autocorrelation to normalise; it stays unvoiced.
            voiced[lane] = localPeak != 0.0;
        }
        if (!voiced[0] && !voiced[1])
            continue;
        if (fastPlan != nullptr) {
            for (long j = 1; j <= windowSamples; ++j)
                pair[j] = FramePair{frames[0][j], frames[1][j]};
            for (long j = windowSamples + 1; j <= fftSize; ++j)
                pair[j] = FramePair{0.0, 0.0};
            fastPlan->PowerSpectrumRoundTrip(pair.get());
            for (long j = 1; j <= rSpan + 1; ++j) {
                frames[0][j] = pair[j][0];
                frames[1][j] = pair[j][1];
            }
        } else {
            for (int lane = 0; lane < kLanes; ++lane) {
                if (!voiced[lane])
                    continue;
                for (long j = windowSamples + 1; j <= fftSize; ++j)
                    frames[lane][j] = 0.0;
                AutocorrelateInPlace(frames[lane], fftSize, nullptr);
            }
        }
        for (int lane = 0; lane < kLanes; ++lane) {
            if (voiced[lane])
                findCandidates(frames[lane], pitch->frames[first + lane]);
        }
    }

    Pitch_chooseBestPath(pitch, silenceThreshold, voicingThreshold, octaveCost, octaveJumpCost,
                         voicedUnvoicedCost, ceiling, 0);
    return 1;
}
