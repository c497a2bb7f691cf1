#pragma once

// The frame step written plainly, straight from the arithmetic the effects must follow: one
// interleaved workspace, the reference FFT, double-precision library trigonometry, no
// precomputed tables. It is slow and obvious on purpose: the oracle for the optimised engine.

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "effects/phase_vocoder.h"
#include "effects/phase_vocoder_internal.h"
#include "effects/stft_fft.h"

class ReferenceVocoder {
  public:
    ReferenceVocoder(const VocoderSettings& settings, uint32_t frameLength)
        : s_(settings), n_(frameLength), hop_(frameLength / settings.oversampling) {
        window_.resize(n_);
        for (uint32_t k = 0; k < n_; ++k)
            window_[k] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * kPi * k / n_));
        fifo_.assign(n_, 0.0f);
        ws_.assign(2 * n_, 0.0f);
        lastPhase_.assign(n_ / 2 + 1, 0.0f);
        phaseSum_.assign(n_ / 2 + 1, 0.0f);
        out_.assign(2 * n_, 0.0f);
        anaFreq_.assign(n_, 0.0f);
        anaMag_.assign(n_, 0.0f);
        synFreq_.assign(n_, 0.0f);
        synMag_.assign(n_, 0.0f);
    }

    // One block of N samples in place, as Process runs it (without any echo stage).
    void Block(std::vector<float>& x, const BlockContext& c) {
        const double rate = c.sampleRateHz;
        const double binWidth = rate / n_;
        const double expected = 2.0 * kPi * hop_ / n_;
        float phaseStep = 0.0f;
        if (s_.modulator != Modulator::kNone)
            phaseStep = vocoder::ModulatorStep(c.modulatorRateHz, n_, c.sampleRateHz, c.channels);
        uint32_t rover = n_ - hop_;
        for (uint32_t i = 0; i < n_; ++i) {
            fifo_[rover++] = x[i];
            if (rover < n_)
                continue;
            rover = n_ - hop_;
            Frame(x, i, c, binWidth, expected);
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
        if (s_.modulator == Modulator::kGlide) {
            return static_cast<float>(
                std::pow(2.0, c.semitones / 12.0 + 0.5 * vocoder::GlideShape(phi_)));
        }
        return c.pitchFactor;
    }

    double Weight(uint32_t idx, uint32_t limit) const {
        if (s_.weight == MagnitudeWeight::kLowQuarterCosine)
            return idx < n_ / 4 ? std::cos(idx * kPi / (n_ / 2)) : 0.0;
        if (s_.weight == MagnitudeWeight::kLimitCosine)
            return std::cos(idx * kPi / (2.0 * limit));
        return 1.0;
    }

    void Frame(std::vector<float>& x, uint32_t i, const BlockContext& c, double binWidth,
               double expected) {
        const uint32_t half = n_ / 2;
        for (uint32_t k = 0; k < n_; ++k) {
            ws_[2 * k] = window_[k] * fifo_[k];
            ws_[2 * k + 1] = 0.0f;
        }
        FftReference(ws_.data(), n_, -1);
        if (s_.phase == AnalysisPhase::kZero) {
            for (uint32_t k = 0; k <= half; ++k) {
                const double re = ws_[2 * k];
                const double im = ws_[2 * k + 1];
                ws_[2 * k] = static_cast<float>(2.0 * std::sqrt(re * re + im * im));
                ws_[2 * k + 1] = 0.0f;
            }
        } else {
            for (uint32_t k = 0; k <= half; ++k) {
                const double re = ws_[2 * k];
                const double im = ws_[2 * k + 1];
                const double magnitude = 2.0 * std::sqrt(re * re + im * im);
                const double phase = s_.phase == AnalysisPhase::kRandom
                                         ? random_.Next() * 9.587672516830327e-05
                                         : std::atan2(im, re);
                double d = phase - lastPhase_[k];
                lastPhase_[k] = static_cast<float>(phase);
                d -= k * expected;
                auto q = static_cast<int64_t>(d / kPi);
                if (q >= 0)
                    q += q & 1;
                else
                    q -= q & 1;
                d -= kPi * static_cast<double>(q);
                anaFreq_[k] =
                    static_cast<float>((k + d * s_.oversampling / (2.0 * kPi)) * binWidth);
                anaMag_[k] = static_cast<float>(magnitude);
            }
            std::fill(synMag_.begin(), synMag_.end(), 0.0f);
            std::fill(synFreq_.begin(), synFreq_.end(), 0.0f);
            const float m = M(c);
            if (s_.mapping == BinMapping::kUniform) {
                for (uint32_t k = 0; k <= half; ++k) {
                    const auto idx = static_cast<uint32_t>(k * static_cast<double>(m) + 0.5);
                    if (idx > half)
                        continue;
                    synMag_[idx] = static_cast<float>(synMag_[idx] + Weight(idx, 0) * anaMag_[k]);
                    synFreq_[idx] = static_cast<float>(static_cast<double>(m) * anaFreq_[k]);
                }
            } else {
                const uint32_t limit = ((half * s_.limitHz) / (c.sampleRateHz / 2)) / c.channels;
                for (uint32_t k = 0; k <= limit && k < n_; ++k) {
                    const auto f =
                        static_cast<float>((static_cast<double>(m) * (limit - k) + k) / limit);
                    const auto idx = static_cast<uint32_t>(k * static_cast<double>(f) + 0.5);
                    if (idx > half)
                        continue;
                    synMag_[idx] =
                        static_cast<float>(synMag_[idx] + Weight(idx, limit) * anaMag_[k]);
                    synFreq_[idx] = static_cast<float>(static_cast<double>(f) * anaFreq_[k]);
                }
            }
            for (uint32_t k = 0; k <= half; ++k) {
                const double d =
                    (synFreq_[k] - k * binWidth) / binWidth * (2.0 * kPi / s_.oversampling) +
                    k * expected;
                phaseSum_[k] = static_cast<float>(phaseSum_[k] + d);
                ws_[2 * k] = static_cast<float>(synMag_[k] * std::cos(phaseSum_[k]));
                ws_[2 * k + 1] = static_cast<float>(synMag_[k] * std::sin(phaseSum_[k]));
            }
        }
        for (uint32_t k = n_ + 2; k < 2 * n_; ++k)
            ws_[k] = 0.0f;
        FftReference(ws_.data(), n_, 1);
        for (uint32_t k = 0; k < n_; ++k) {
            out_[k] =
                static_cast<float>(out_[k] + s_.outputGain * ws_[2 * k] * window_[k] /
                                                 (static_cast<double>(half) * s_.oversampling));
        }
        for (uint32_t k = 0; k < hop_; ++k)
            x[i + 1 - hop_ + k] = out_[k];
        for (uint32_t k = 0; k < n_; ++k)
            out_[k] = out_[k + hop_];
        for (uint32_t k = 0; k < n_ - hop_; ++k)
            fifo_[k] = fifo_[k + hop_];
    }

    VocoderSettings s_;
    uint32_t n_;
    uint32_t hop_;
    float phi_ = 0.0f;
    vocoder::PhaseRandom random_;
    std::vector<float> window_, fifo_, ws_, lastPhase_, phaseSum_, out_;
    std::vector<float> anaFreq_, anaMag_, synFreq_, synMag_;
};
