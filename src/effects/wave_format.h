#pragma once

#include <cstdint>

namespace qm {

// The standard wave-format record as a stream announces it. Effects read only the channel
// count, the sample rate and the sample width; the other fields travel along unchanged.
struct WaveFormat {
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint32_t avgBytesPerSec = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    uint16_t extraSize = 0;
};

// The format tags this project writes: integer PCM, and IEEE float for 32-bit samples.
inline constexpr uint16_t kWaveFormatPcm = 1;
inline constexpr uint16_t kWaveFormatFloat = 3;

// An interleaved stream of `bits`-bit samples (32: float), every field derived from the three.
inline WaveFormat InterleavedWaveFormat(uint16_t channels, uint32_t rateHz, uint16_t bits) {
    WaveFormat format;
    format.formatTag = bits == 32 ? kWaveFormatFloat : kWaveFormatPcm;
    format.channels = channels;
    format.samplesPerSec = rateHz;
    format.bitsPerSample = bits;
    format.blockAlign = static_cast<uint16_t>(channels * bits / 8);
    format.avgBytesPerSec = rateHz * format.blockAlign;
    return format;
}

// Bounds of a format an effect will prepare for: anything outside them describes no real
// capture stream and would only size absurd buffers.
inline constexpr uint32_t kMaxSampleRateHz = 384000;
inline constexpr uint16_t kMaxChannels = 8;

inline bool IsPlausibleStreamFormat(const WaveFormat& format) {
    return format.samplesPerSec != 0 && format.samplesPerSec <= kMaxSampleRateHz &&
           format.channels != 0 && format.channels <= kMaxChannels;
}

}  // namespace qm
