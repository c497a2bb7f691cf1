#pragma once

// The frame step written plainly, straight from the arithmetic the effects must follow: one
// interleaved workspace, the reference FFT, double-precision library trigonometry, no
// precomputed tables. It is slow and obvious on purpose: the oracle for the optimised engine.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <span>
#include <vector>

#include "effects/phase_vocoder.h"
#include "effects/phase_vocoder_internal.h"
#include "effects/stft_fft.h"

namespace qm {

class ReferenceVocoder {
  public:
    ReferenceVocoder(const VocoderSettings& settings, uint32_t frameLength)
        : s_(settings), n_(frameLength), hop_(frameLength / settings.oversampling) {
        for (uint32_t k = 0; k < n_; ++k)
            window_[k] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * kPi * k / n_));
    }

    // One block of N samples in place, as Process runs it (without any echo stage).
    void Block(std::span<float> x, const BlockContext& c) {
        const double binWidth = static_cast<double>(c.sampleRateHz) / n_;
        float phaseStep = 0.0f;
        if (s_.modulator != Modulator::kNone)
            phaseStep = vocoder::ModulatorStep(c.modulatorRateHz, n_, c.sampleRateHz, c.channels);
        uint32_t rover = n_ - hop_;
        for (uint32_t i = 0; i < n_; ++i) {
            fifo_[rover++] = x[i];
            if (rover < n_)
                continue;
            rover = n_ - hop_;
            Frame(x, i, c, binWidth);
            if (s_.modulator != Modulator::kNone) {
                phi_ += phaseStep;
                const bool wrap =
                    s_.modulator == Modulator::kVibrato ? phi_ >= 2.0 * kPi : phi_ > 2.0 * kPi;
                if (wrap)
                    phi_ = static_cast<float>(phi_ - 2.0 * kPi);
            }
        }
    }

  private:
    static constexpr double kPi = std::numbers::pi;

    float M(const BlockContext& c) const {
        if (s_.modulator == Modulator::kVibrato)
            return static_cast<float>(std::pow(2.0, 0.25 * std::sin(phi_)));
        if (s_.modulator == Modulator::kGlide)
            return static_cast<float>(
                std::pow(2.0, c.semitones / 12.0 + 0.5 * vocoder::GlideShape(phi_)));
        return c.pitchFactor;
    }

    double Weight(uint32_t idx, uint32_t limit) const {
        if (s_.weight == MagnitudeWeight::kLowQuarterCosine)
            return idx < n_ / 4 ? std::cos(idx * kPi / (n_ / 2)) : 0.0;
        if (s_.weight == MagnitudeWeight::kLimitCosine)
            return std::cos(idx * kPi / (2.0 * limit));
        return 1.0;
    }

    // Moves analysis bin k to the bin nearest k * f, if it is at or below N/2.
    void Move(uint32_t k, float f, uint32_t limit) {
        const auto idx = static_cast<uint32_t>(k * static_cast<double>(f) + 0.5);
        if (idx > n_ / 2)
            return;
        synMag_[idx] = static_cast<float>(synMag_[idx] + Weight(idx, limit) * anaMag_[k]);
        synFreq_[idx] = static_cast<float>(static_cast<double>(f) * anaFreq_[k]);
    }

    void Frame(std::span<float> x, uint32_t i, const BlockContext& c, double binWidth) {
        const uint32_t half = n_ / 2;
        const double expected = 2.0 * kPi * hop_ / n_;
        for (uint32_t k = 0; k < n_; ++k) {
            ws_[2 * k] = window_[k] * fifo_[k];
            ws_[2 * k + 1] = 0.0f;
        }
        FftReference(ws_.data(), n_, -1);
        for (uint32_t k = 0; k <= half; ++k) {
            const double re = ws_[2 * k], im = ws_[2 * k + 1];
            const double magnitude = 2.0 * std::sqrt(re * re + im * im);
            if (s_.phase == AnalysisPhase::kZero) {  // magnitudes only, every frame in phase
                ws_[2 * k] = static_cast<float>(magnitude);
                ws_[2 * k + 1] = 0.0f;
                continue;
            }
            const double phase = s_.phase == AnalysisPhase::kRandom
                                     ? random_.Next() * 9.587672516830327e-05
                                     : std::atan2(im, re);
            double d = phase - lastPhase_[k] - k * expected;
            lastPhase_[k] = static_cast<float>(phase);
            auto q = static_cast<int64_t>(d / kPi);
            q += q >= 0 ? (q & 1) : -(q & 1);
            d -= kPi * static_cast<double>(q);
            anaFreq_[k] = static_cast<float>((k + d * s_.oversampling / (2.0 * kPi)) * binWidth);
            anaMag_[k] = static_cast<float>(magnitude);
        }
        if (s_.phase != AnalysisPhase::kZero) {
            std::fill(synMag_.begin(), synMag_.end(), 0.0f);
            std::fill(synFreq_.begin(), synFreq_.end(), 0.0f);
            const float m = M(c);
            if (s_.mapping == BinMapping::kUniform) {
                for (uint32_t k = 0; k <= half; ++k)
                    Move(k, m, 0);
            } else {
                const uint32_t limit = ((half * s_.limitHz) / (c.sampleRateHz / 2)) / c.channels;
                for (uint32_t k = 0; k <= limit && k < n_; ++k)
                    Move(k, static_cast<float>((static_cast<double>(m) * (limit - k) + k) / limit),
                         limit);
            }
            for (uint32_t k = 0; k <= half; ++k) {
                const double advance =
                    (synFreq_[k] - k * binWidth) / binWidth * (2.0 * kPi / s_.oversampling) +
                    k * expected;
                phaseSum_[k] = static_cast<float>(phaseSum_[k] + advance);
                ws_[2 * k] = static_cast<float>(synMag_[k] * std::cos(phaseSum_[k]));
                ws_[2 * k + 1] = static_cast<float>(synMag_[k] * std::sin(phaseSum_[k]));
            }
        }
        std::fill(ws_.begin() + n_ + 2, ws_.end(), 0.0f);
        FftReference(ws_.data(), n_, 1);
        for (uint32_t k = 0; k < n_; ++k)
            out_[k] =
                static_cast<float>(out_[k] + s_.outputGain * ws_[2 * k] * window_[k] /
                                                 (static_cast<double>(half) * s_.oversampling));
        std::copy_n(out_.begin(), hop_, x.begin() + (i + 1 - hop_));
        std::copy(out_.begin() + hop_, out_.end(), out_.begin());
        std::copy(fifo_.begin() + hop_, fifo_.end(), fifo_.begin());
    }

    VocoderSettings s_;
    uint32_t n_, hop_;
    float phi_ = 0.0f;
    vocoder::PhaseRandom random_;
    std::vector<float> window_ = std::vector<float>(n_), fifo_ = std::vector<float>(n_);
    std::vector<float> ws_ = std::vector<float>(2 * n_), out_ = std::vector<float>(2 * n_);
    std::vector<float> lastPhase_ = std::vector<float>(n_ / 2 + 1), phaseSum_ = lastPhase_;
    std::vector<float> anaFreq_ = std::vector<float>(n_), anaMag_ = anaFreq_, synFreq_ = anaFreq_,
                       synMag_ = anaFreq_;
};

}  // namespace qm
