#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <random>
#include <vector>

// Generators of voice-like test signals whose fundamental is known at every sample.
namespace qm::test_signals {

struct HarmonicSpec {
    double sampleRateHz = 44100.0;
    double seconds = 1.0;
    std::function<double(double)> f0Hz;  // fundamental at time t; <= 0 means a pause
    int harmonics = 10;
    bool missingFundamental = false;
    bool formants = false;          // vowel-like spectral envelope instead of 1/k
    double noiseToSignalRms = 0.0;  // white noise, relative to the harmonic part's RMS
    double peak = 12000.0;
    uint32_t seed = 1;
};

// Amplitude of harmonic frequency f: two resonances (around 700 and 1200 Hz) over a falling
// tilt, roughly an open vowel.
inline double FormantGain(double f) {
    auto peak = [](double f, double centre, double width) {
        const double d = (f - centre) / width;
        return 1.0 / (1.0 + d * d);
    };
    return (0.3 + peak(f, 700.0, 150.0) + 0.7 * peak(f, 1200.0, 200.0)) * 300.0 / (300.0 + f);
}

inline std::vector<int16_t> Harmonic(const HarmonicSpec& spec) {
    const size_t n = static_cast<size_t>(spec.seconds * spec.sampleRateHz);
    std::vector<double> x(n, 0.0);
    double phase = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double t = i / spec.sampleRateHz;
        const double f0 = spec.f0Hz(t);
        if (f0 <= 0.0)
            continue;
        phase += 2.0 * std::numbers::pi * f0 / spec.sampleRateHz;
        double v = 0.0;
        for (int k = spec.missingFundamental ? 2 : 1; k <= spec.harmonics; ++k) {
            if (k * f0 >= 0.45 * spec.sampleRateHz)
                break;
            const double a = spec.formants ? FormantGain(k * f0) : 1.0 / k;
            v += a * std::sin(k * phase);
        }
        x[i] = v;
    }
    double sum2 = 0.0, maxAbs = 0.0;
    for (double v : x) {
        sum2 += v * v;
        maxAbs = std::max(maxAbs, std::fabs(v));
    }
    const double rms = n > 0 ? std::sqrt(sum2 / n) : 0.0;
    std::mt19937 rng(spec.seed);
    std::normal_distribution<double> noise(0.0, spec.noiseToSignalRms * rms);
    const double gain =
        maxAbs > 0 ? spec.peak / (maxAbs * (1.0 + 3.0 * spec.noiseToSignalRms)) : 0.0;
    std::vector<int16_t> out(n);
    for (size_t i = 0; i < n; ++i) {
        const double v = (x[i] + (spec.noiseToSignalRms > 0 ? noise(rng) : 0.0)) * gain;
        out[i] = static_cast<int16_t>(std::clamp(v, -32767.0, 32767.0));
    }
    return out;
}

// A steady vowel: 30 harmonics of f0 under the formant envelope.
inline std::vector<int16_t> SteadyVowel(double sampleRateHz, double f0, double seconds) {
    return Harmonic({.sampleRateHz = sampleRateHz,
                     .seconds = seconds,
                     .f0Hz = [f0](double) { return f0; },
                     .harmonics = 30,
                     .formants = true});
}

}  // namespace qm::test_signals
