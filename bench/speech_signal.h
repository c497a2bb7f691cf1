#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "dsp/test_signals.h"

namespace qm {

namespace bench_signals {

inline constexpr double kSpeechRateHz = 44100.0;
inline constexpr double kSpeechSeconds = 60.0;

// A minute of speech-like audio: a vowel-like harmonic complex gliding between 90 and 230 Hz,
// with a pause of 0.3 s every 2 s. 0 Hz marks the pauses.
inline double SpeechF0(double t) {
    if (std::fmod(t, 2.0) > 1.7)
        return 0.0;
    return 160.0 + 70.0 * std::sin(2.0 * std::numbers::pi * 0.37 * t);
}

inline const std::vector<int16_t>& Speech() {
    static const std::vector<int16_t> pcm = test_signals::Harmonic({
        .sampleRateHz = kSpeechRateHz,
        .seconds = kSpeechSeconds,
        .f0Hz = SpeechF0,
        .harmonics = 40,
        .formants = true,
        .noiseToSignalRms = 0.02,
    });
    return pcm;
}

}  // namespace bench_signals

}  // namespace qm
