#pragma once

#include <cstdint>
#include <span>

namespace qm {

// Conversions between one PCM block and the N-sample float frame an effect works on.
// Both directions follow the block's sample width; a width other than 8, 16 or 32 bits
// converts to silence. The caller guarantees `data` holds at least the block's bytes.

// Fills `samples` (N entries) from the block. The frame stays silent when the byte count is
// larger than N samples of this width occupy, or the width is unknown. A shorter count is the
// caller's fault: N samples are read whatever it says.
void PcmToFloat(const uint8_t* data, uint32_t byteCount, uint16_t bitsPerSample,
                std::span<float> samples);

// Zeroes the block's `byteCount` bytes, then writes the N samples back, clipped to the
// width's range (16-bit: symmetric, -32768 is never produced).
void FloatToPcm(std::span<const float> samples, uint16_t bitsPerSample, uint8_t* data,
                uint32_t byteCount);

}  // namespace qm
