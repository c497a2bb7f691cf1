#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "effects/wave_format.h"
#include "filter/effect_stage.h"

namespace qm {

inline WaveFormat Pcm(uint32_t rateHz, uint16_t channels, uint16_t bits) {
    WaveFormat f;
    f.formatTag = 1;
    f.channels = channels;
    f.samplesPerSec = rateHz;
    f.blockAlign = static_cast<uint16_t>(channels * bits / 8);
    f.avgBytesPerSec = rateHz * f.blockAlign;
    f.bitsPerSample = bits;
    return f;
}

inline void Connect(EffectStage& stage, const WaveFormat& format) {
    const auto bytes = WaveFormatToBytes(format);
    stage.SetFormat(kWaveFormatType, bytes.data(), bytes.size());
}

inline std::vector<uint8_t> Noise(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (uint8_t& x : v)
        x = static_cast<uint8_t>(rng());
    return v;
}

// What the stage must deliver for AddEffect: the lead-in, then every input byte plus `delta`.
inline std::vector<uint8_t> LeadInThen(size_t leadIn, uint8_t silence,
                                       const std::vector<uint8_t>& input, uint8_t delta) {
    std::vector<uint8_t> v(leadIn, silence);
    for (uint8_t x : input)
        v.push_back(static_cast<uint8_t>(x + delta));
    return v;
}

// Index of the first byte where the two differ (or the shorter length), SIZE_MAX when equal:
// a readable failure message for streams of hundreds of kilobytes.
inline size_t FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    const auto [x, y] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    return x == a.end() && y == b.end() ? SIZE_MAX : static_cast<size_t>(x - a.begin());
}

}  // namespace qm
