#include "effects/phase_vocoder.h"

#include "effects/vector_math.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace qm {

using vocoder::kTwoPi;

namespace {

constexpr double kVibratoOctaves = 0.25;
constexpr double kGlideOctavesPerShape = 0.5;
// A bin's magnitude counts twice: its mirror above N/2 carries the other half.
constexpr double kOneSidedScale = 2.0;
// Deviations below this fold through a 32-bit quotient (2^31 times pi, with room to spare).
constexpr double kFastFoldLimit = 6.0e9;

}  // namespace

bool PhaseVocoder::Prepare(uint32_t frameLength) {
    Release();
    const uint32_t osamp = settings_.oversampling;
    // A frame must hold at least one whole hop and a few bins to move; 2^28 samples (a gigabyte
    // of floats) is far beyond any real stream and keeps the sizes below from overflowing.
    constexpr uint32_t kShortestFrame = 4;
    constexpr uint32_t kLongestFrame = 1u << 28;
    if (osamp == 0 || frameLength < kShortestFrame || frameLength < osamp ||
        (frameLength & (frameLength - 1)) != 0 || frameLength > kLongestFrame) {
        return false;
    }
    const size_t n = frameLength;
    const size_t bins = n / 2 + 1;
    const bool magnitudeOnly = settings_.phase == AnalysisPhase::kZero;
    // Window, FIFO, workspace (2N) and accumulator (2N); the full engine adds the two phase
    // arrays (N/2 + 1 each) and the four analysis and synthesis arrays (N each).
    const size_t stateFloats = magnitudeOnly ? 6 * n : 11 * n + 2;
    // Baby's weights end at N/4: the bins above never sound, whatever the factor.
    const bool quarter = settings_.mapping == BinMapping::kUniform &&
                         settings_.phase == AnalysisPhase::kMeasured &&
                         settings_.weight == MagnitudeWeight::kLowQuarterCosine;
    if (quarter && !previous_.Allocate(2 * bins))
        return false;
    if (!state_.Allocate(stateFloats) || !work_.Allocate(n) || !fft_.Init(frameLength) ||
        !expectedAdvance_.Allocate(bins) || !weights_.Allocate(bins) ||
        !overlapScale_.Allocate(n)) {
        Release();
        return false;
    }
    float* p = state_.Data();
    window_ = p;
    fifo_ = window_ + n;
    spectrum_ = fifo_ + n;
    if (magnitudeOnly) {
        accumulator_ = spectrum_ + 2 * n;
    } else {
        lastPhase_ = spectrum_ + 2 * n;
        phaseSum_ = lastPhase_ + bins;
        accumulator_ = phaseSum_ + bins;
        analysisFreq_ = accumulator_ + 2 * n;
        analysisMag_ = analysisFreq_ + n;
        synthesisFreq_ = analysisMag_ + n;
        synthesisMag_ = synthesisFreq_ + n;
    }

    frameLength_ = frameLength;
    hop_ = frameLength / osamp;
    audible_ = static_cast<uint32_t>(quarter ? n / 4 : bins);
    const double half = static_cast<double>(n / 2);
    for (size_t k = 0; k < n; ++k) {
        // Hann window, used for analysis and synthesis; the overlap-add scale divides the
        // frames' sum by (N/2) * oversampling and applies the output gain.
        window_[k] = static_cast<float>(0.5 - 0.5 * std::cos(kTwoPi * k / n));
        overlapScale_[k] = static_cast<float>(settings_.outputGain * window_[k] / (half * osamp));
    }
    const double advance = kTwoPi * hop_ / n;
    for (size_t k = 0; k < bins; ++k) {
        expectedAdvance_[k] = k * advance;
        weights_[k] = 1.0;
        if (settings_.weight == MagnitudeWeight::kLowQuarterCosine) {
            // A quarter-cycle cosine over bins 0..N/4: nothing above a quarter of the rate.
            weights_[k] = k < n / 4 ? std::cos(k * std::numbers::pi / (n / 2)) : 0.0;
        }
    }
    weightLimit_ = 0;
    ClearState();
    return true;
}

void PhaseVocoder::Release() {
    frameLength_ = 0;
    hop_ = 0;
    state_.Free();
    work_.Free();
    fft_.Free();
    expectedAdvance_.Free();
    weights_.Free();
    overlapScale_.Free();
    previous_.Free();
    audible_ = phasesKnown_ = 0;
    window_ = fifo_ = spectrum_ = lastPhase_ = phaseSum_ = accumulator_ = nullptr;
    analysisFreq_ = analysisMag_ = synthesisFreq_ = synthesisMag_ = nullptr;
}

void PhaseVocoder::ClearState() {
    phi_ = 0.0f;
    random_.Restart();
    if (!Prepared())
        return;
    // Everything after the window is processing state.
    std::fill(state_.Data() + frameLength_, state_.Data() + state_.Size(), 0.0f);
    // Every last phase is the silent frame's, 0.
    phasesKnown_ = frameLength_ / 2 + 1;
}

void PhaseVocoder::UpdateLimitWeights(uint32_t limit) {
    if (settings_.weight != MagnitudeWeight::kLimitCosine || limit == weightLimit_)
        return;
    // Rare: only a change of stream format between blocks moves L.
    const size_t bins = frameLength_ / 2 + 1;
    for (size_t idx = 0; idx < bins; ++idx)
        weights_[idx] = std::cos(idx * std::numbers::pi / (2.0 * limit));
    weightLimit_ = limit;
}

float PhaseVocoder::ModulatedFactor(const BlockContext& context) const {
    switch (settings_.modulator) {
        case Modulator::kVibrato:
            // Up to a quarter of an octave (3 semitones) either way.
            return static_cast<float>(std::pow(2.0, kVibratoOctaves * std::sin(phi_)));
        case Modulator::kGlide:
            // The glide's shape runs 0..2, so up to an octave above the base pitch.
            return static_cast<float>(
                std::pow(2.0, context.semitones / vocoder::kSemitonesPerOctave +
                                  kGlideOctavesPerShape * vocoder::GlideShape(phi_)));
        case Modulator::kNone:
            break;
    }
    return context.pitchFactor;
}

void PhaseVocoder::ProcessBlock(std::span<float> samples, const BlockContext& context) {
    if (!Prepared() || samples.size() < frameLength_)
        return;
    // A block is its `oversampling` hops run one after another: the block and the hop-fed
    // stream give the same output.
    for (uint32_t start = 0; start + hop_ <= frameLength_; start += hop_)
        ProcessHop(samples.subspan(start, hop_), context);
}

void PhaseVocoder::ProcessHop(std::span<float> hop, const BlockContext& context) {
    if (!Prepared() || hop.size() < hop_ || context.sampleRateHz == 0 || context.channels == 0)
        return;
    const uint32_t n = frameLength_;
    const double binWidth = static_cast<double>(context.sampleRateHz) / n;
    if (settings_.mapping == BinMapping::kLimited) {
        limit_ = vocoder::LimitBin(n, context.sampleRateHz, context.channels, settings_.limitHz);
        UpdateLimitWeights(limit_);
    }
    std::memcpy(fifo_ + (n - hop_), hop.data(), hop_ * sizeof(float));
    FrameStep(hop.data(), binWidth, ModulatedFactor(context));
    if (settings_.modulator != Modulator::kNone) {
        phi_ += vocoder::ModulatorStep(context.modulatorRateHz, n, context.sampleRateHz,
                                       context.channels);
        const bool wrap =
            settings_.modulator == Modulator::kVibrato ? phi_ >= kTwoPi : phi_ > kTwoPi;
        if (wrap)
            phi_ = static_cast<float>(phi_ - kTwoPi);
    }
}

void PhaseVocoder::FrameStep(float* hopOut, double binWidth, float m) {
    const uint32_t n = frameLength_;
    const uint32_t bins = n / 2 + 1;
    float* re = spectrum_;
    float* im = spectrum_ + n;
    fft_.ForwardWindowed(window_, fifo_, re, im);

    if (settings_.phase == AnalysisPhase::kZero) {
        for (uint32_t k = 0; k < bins; ++k) {
            const double r = re[k];
            const double i = im[k];
            re[k] = static_cast<float>(kOneSidedScale * std::sqrt(r * r + i * i));
            im[k] = 0.0f;
        }
    } else {
        const uint32_t needed = NeededBins(m);
        Analyse(binWidth, needed);
        // Only bins 0..N/2 are ever written; the rest of both arrays stays zero.
        std::fill(synthesisMag_, synthesisMag_ + bins, 0.0f);
        std::fill(synthesisFreq_, synthesisFreq_ + bins, 0.0f);
        if (settings_.mapping == BinMapping::kUniform)
            MapUniform(m, needed);
        else
            MapLimited(m);
        Synthesise(binWidth);
    }

    // Bins above N/2 are empty, so the frame is the real part of the inverse transform.
    fft_.InverseRealPart(re, im, re);
    const float* scale = overlapScale_.Data();
    for (uint32_t k = 0; k < n; ++k)
        accumulator_[k] += re[k] * scale[k];
    // The oldest hop of the accumulator is finished: hand it out, then move on a hop.
    std::memcpy(hopOut, accumulator_, hop_ * sizeof(float));
    std::memmove(accumulator_, accumulator_ + hop_, n * sizeof(float));
    std::memmove(fifo_, fifo_ + hop_, (n - hop_) * sizeof(float));
}

uint32_t PhaseVocoder::NeededBins(float m) const {
    const uint32_t bins = frameLength_ / 2 + 1;
    if (audible_ >= bins || !(m > 0.0f) || !std::isfinite(m))
        return bins;
    // The first bin that lands at or above audible_ (or beyond N/2): MapBin's own rounding
    // decides, the division only gives the place to start looking.
    const auto above = [&](uint32_t k) { return k * static_cast<double>(m) + 0.5 >= audible_; };
    const double guess = std::ceil((audible_ - 0.5) / static_cast<double>(m));
    auto k = static_cast<uint32_t>(std::clamp(guess, 0.0, static_cast<double>(bins)));
    while (k > 0 && above(k - 1))
        --k;
    while (k < bins && !above(k))
        ++k;
    return k;
}

void PhaseVocoder::RecoverLastPhases(uint32_t count) {
    const uint32_t bins = frameLength_ / 2 + 1;
    const uint32_t from = phasesKnown_;
    // phasesKnown_ is a multiple of four, so the bins fall into the same groups of four (and
    // the same last odd bin) as in a frame that computes all phases: the same numbers.
    PhaseOfBins(previous_.Data() + bins + from, previous_.Data() + from, lastPhase_ + from,
                count - from);
}

void PhaseVocoder::Analyse(double binWidth, uint32_t needed) {
    const uint32_t bins = frameLength_ / 2 + 1;
    const double toBins = settings_.oversampling / kTwoPi;
    const float* re = spectrum_;
    const float* im = spectrum_ + frameLength_;
    // The synthesis arrays are cleared after the analysis: until then they hold the phases.
    float* phase = synthesisFreq_;
    // Phases in whole groups of four (the groups PhaseOfBins computes together).
    const uint32_t phased = needed >= bins ? bins : std::min(bins, (needed + 3u) & ~3u);
    if (settings_.phase == AnalysisPhase::kRandom) {
        for (uint32_t k = 0; k < bins; ++k)
            phase[k] = static_cast<float>(random_.Next() * vocoder::kRandomPhaseScale);
    } else {
        PhaseOfBins(im, re, phase, phased);
    }
    if (phased > phasesKnown_)
        RecoverLastPhases(phased);
    // Separate branch-free loops, so that each runs several bins at a time.
    for (uint32_t k = 0; k < needed; ++k) {
        const double r = re[k];
        const double i = im[k];
        analysisMag_[k] = static_cast<float>(kOneSidedScale * std::sqrt(r * r + i * i));
    }
    // The fold, several bins at a time: signed counters (SSE2 converts signed integers to
    // double in groups, not unsigned ones) and local pointers (a store through a member would
    // make the loop reload it). Finite deviations always suit the 32-bit fold: the phases lie
    // in -pi..pi and the expected advance is at most pi * hop. A NaN (only a NaN spectrum gives
    // one) is kept out of the integer conversion and comes back as NaN, as WrapDeviation
    // leaves it.
    const auto count = static_cast<int32_t>(needed);
    const float* last = lastPhase_;
    const double* expected = expectedAdvance_.Data();
    float* freq = analysisFreq_;
    for (int32_t k = 0; k < count; ++k) {
        const double d = static_cast<double>(phase[k]) - last[k] - expected[k];
        const double foldable = std::fabs(d) < kFastFoldLimit ? d : 0.0;
        const double folded = vocoder::WrapSmallDeviation(foldable) + (d - foldable);
        freq[k] = static_cast<float>((static_cast<double>(k) + folded * toBins) * binWidth);
    }
    std::memcpy(lastPhase_, phase, phased * sizeof(float));
    if (phased < bins) {
        // Kept for the phases a lower factor may need in the next frame.
        std::memcpy(previous_.Data() + phased, re + phased, (bins - phased) * sizeof(float));
        std::memcpy(previous_.Data() + bins + phased, im + phased, (bins - phased) * sizeof(float));
    }
    phasesKnown_ = phased;
}

void PhaseVocoder::Deposit(uint32_t k, uint32_t idx, float factor) {
    // Magnitudes landing on one bin add up; the last one to land sets its frequency.
    synthesisMag_[idx] = static_cast<float>(synthesisMag_[idx] + weights_[idx] * analysisMag_[k]);
    synthesisFreq_[idx] = static_cast<float>(static_cast<double>(factor) * analysisFreq_[k]);
}

void PhaseVocoder::MapUniform(float factor, uint32_t needed) {
    const uint32_t maxBin = frameLength_ / 2;
    for (uint32_t k = 0; k < needed; ++k) {
        uint32_t idx = 0;
        if (!vocoder::MapBin(k, factor, maxBin, idx))
            continue;
        Deposit(k, idx, factor);
    }
}

void PhaseVocoder::MapLimited(float m) {
    const uint32_t maxBin = frameLength_ / 2;
    // Bins between N/2 and the limit hold zeros (no frame writes them) and still count; bins
    // at or beyond N lie outside the arrays, so a limit that high stops at N - 1.
    const uint32_t last = std::min(limit_, frameLength_ - 1);
    if (limit_ == 0)
        return;
    for (uint32_t k = 0; k <= last; ++k) {
        const float factor = vocoder::LimitedFactor(m, limit_, k);
        uint32_t idx = 0;
        if (!vocoder::MapBin(k, factor, maxBin, idx))
            continue;
        Deposit(k, idx, factor);
    }
}

void PhaseVocoder::Synthesise(double binWidth) {
    const uint32_t bins = frameLength_ / 2 + 1;
    const double toPhase = kTwoPi / settings_.oversampling;
    // A bin that never sounds needs no phase.
    for (uint32_t k = 0; k < audible_; ++k) {
        const double d =
            (synthesisFreq_[k] - k * binWidth) / binWidth * toPhase + expectedAdvance_[k];
        phaseSum_[k] = static_cast<float>(phaseSum_[k] + d);
    }
    float* re = spectrum_;
    float* im = spectrum_ + frameLength_;
    // Bins above the highest one that holds a magnitude stay silent, whatever their phase:
    // Baby keeps nothing from N/4 up, the limited mappings nothing above the limit.
    uint32_t top = audible_;
    while (top > 0 && synthesisMag_[top - 1] == 0.0f)
        --top;
    CosSinOfPhases(phaseSum_, re, im, top);
    for (uint32_t k = 0; k < top; ++k) {
        re[k] *= synthesisMag_[k];
        im[k] *= synthesisMag_[k];
    }
    std::fill(re + top, re + bins, 0.0f);
    std::fill(im + top, im + bins, 0.0f);
}

}  // namespace qm
