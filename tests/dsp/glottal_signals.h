#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <vector>

#include "dsp/pitch.h"
#include "dsp/sound.h"

// Glottal pulse trains with known pulse instants, and a fundamental-frequency meter built on
// the library's own pitch analysis, for tests that check what a pitch change produces.
namespace qm::glottal_signals {

struct PulseTrain {
    std::vector<int16_t> pcm;
    std::vector<double> instants;  // seconds, on the axis of Sound_fromPcm16 (sample j at
                                   // (j + 0.5) / rate)
};

// One pulse per period of f0Hz(t) (<= 0: silence): a sharp peak at the instant followed by a
// weaker damped 700 Hz ring, roughly a glottal excitation through a first formant. The peak
// stays the pulse's largest sample, so a mark belongs exactly at the instant.
inline PulseTrain Pulses(double rateHz, double seconds, const std::function<double(double)>& f0Hz,
                         double peak = 20000.0) {
    PulseTrain train;
    const size_t n = static_cast<size_t>(seconds * rateHz);
    double phase = 0.0;
    for (size_t j = 0; j < n; ++j) {
        const double t = (j + 0.5) / rateHz;
        const double f0 = f0Hz(t);
        if (f0 <= 0.0) {
            phase = 0.0;
            continue;
        }
        const double before = phase;
        phase += f0 / rateHz;
        if (std::floor(phase) > std::floor(before) || before == 0.0)
            train.instants.push_back(t);
    }
    std::vector<double> x(n, 0.0);
    const double sigma = 0.0002;
    for (double tk : train.instants) {
        const long centre = static_cast<long>(tk * rateHz);
        for (long j = std::max(0L, centre - 40); j < std::min<long>(n, centre + 600); ++j) {
            const double u = (j + 0.5) / rateHz - tk;
            double v = std::exp(-u * u / (2.0 * sigma * sigma));
            if (u > 0.0)
                v += 0.3 * std::exp(-u / 0.002) * std::sin(2.0 * std::numbers::pi * 700.0 * u);
            x[j] += v;
        }
    }
    train.pcm.resize(n);
    for (size_t j = 0; j < n; ++j)
        train.pcm[j] = static_cast<int16_t>(std::clamp(x[j] * peak, -32767.0, 32767.0));
    return train;
}

// Median chosen frequency of the voiced frames centred in [from, to] seconds (0 when none),
// from the library's analysis with floor 50 Hz and the given ceiling.
inline double MedianPitchHz(const std::vector<int16_t>& pcm, double rateHz, double from, double to,
                            double ceilingHz = 800.0) {
    analysisSampleRate = static_cast<int32_t>(rateHz);
    Sound sound;
    Pitch pitch;
    std::vector<double> voiced;
    if (Sound_fromPcm16(&sound, pcm.data(), static_cast<int32_t>(2 * pcm.size()), rateHz) &&
        Sound_to_Pitch(&sound, &pitch, 0.005, 50.0, ceilingHz)) {
        for (int32_t i = 1; i <= pitch.count; ++i) {
            const double t = Sound_indexToTime(&pitch, i);
            const double f = pitch.frames[i].candidates[1].frequency;
            if (t >= from && t <= to && f > 0.0 && f < pitch.ceiling)
                voiced.push_back(f);
        }
    }
    Pitch_freeFrames(&pitch);
    Sound_freeSamples(&sound);
    if (voiced.empty())
        return 0.0;
    std::nth_element(voiced.begin(), voiced.begin() + voiced.size() / 2, voiced.end());
    return voiced[voiced.size() / 2];
}

}  // namespace qm::glottal_signals
