#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace qm {

// The PCM the MP3 encoder takes, described by the fields of a wave format record, and its
// conversion to the 16-bit channel arrays the encoder reads. No platform types.

struct PcmInputFormat {
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t samplesPerSecHz = 0;
    uint32_t avgBytesPerSec = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
};

inline constexpr uint16_t kWaveFormatPcmTag = 1;

enum class PcmInputCheck {
    kAccepted,
    kNotPcm,        // another format tag (float, compressed, extensible)
    kSampleWidth,   // not 8 or 16 bits
    kChannelCount,  // not mono or stereo
    kSampleRate,    // not a rate Layer III carries
    kInconsistent,  // block alignment or byte rate disagree with the fields above
};

PcmInputCheck CheckPcmInput(const PcmInputFormat& format);

// The constant bit rate the encoder writes at `sampleRateHz`: 128 kbit/s, except at the
// MPEG-2.5 rates (8, 11.025 and 12 kHz), where LAME encodes at most 64 kbit/s.
inline constexpr uint32_t kMp3BitrateKbps = 128;
inline constexpr uint32_t kMp3LowRateBitrateKbps = 64;
uint32_t Mp3BitrateKbpsFor(uint32_t sampleRateHz);

// Splits whole frames of interleaved PCM (8-bit unsigned or 16-bit little-endian signed) into
// 16-bit channel arrays; a mono stream fills only `left`. Converts as many frames as `pcm`
// holds whole and the arrays have room for, and returns that count. The format must have
// passed CheckPcmInput.
size_t DeinterleavePcm(const PcmInputFormat& format, std::span<const uint8_t> pcm,
                       std::span<int16_t> left, std::span<int16_t> right);

}  // namespace qm
