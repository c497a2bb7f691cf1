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

// Bounds of a format an effect will prepare for: anything outside them describes no real
// capture stream and would only size absurd buffers.
inline constexpr uint32_t kMaxSampleRateHz = 384000;
inline constexpr uint16_t kMaxChannels = 8;

inline bool IsPlausibleStreamFormat(const WaveFormat& format) {
    return format.samplesPerSec != 0 && format.samplesPerSec <= kMaxSampleRateHz &&
           format.channels != 0 && format.channels <= kMaxChannels;
}

}  // namespace qm
