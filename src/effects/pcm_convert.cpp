#include "effects/pcm_convert.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace qm {

namespace {

constexpr float kFrom8Bit = 0.0078125f;          // 1/128
constexpr float kFrom16Bit = 3.0517578125e-05f;  // 1/32768

int16_t ReadInt16(const uint8_t* p) {
    return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
}

void WriteInt16(uint8_t* p, int16_t v) {
    const auto u = static_cast<uint16_t>(v);
    p[0] = static_cast<uint8_t>(u & 0xFF);
    p[1] = static_cast<uint8_t>(u >> 8);
}

// Truncation toward zero that cannot overflow: NaN becomes 0, and the caller clips first.
int TruncateClipped(double v, double low, double high, int lowValue, int highValue) {
    if (std::isnan(v))
        return 0;
    if (v >= high)
        return highValue;
    if (v < low)
        return lowValue;
    return static_cast<int>(v);
}

}  // namespace

void PcmToFloat(const uint8_t* data, uint32_t byteCount, uint16_t bitsPerSample,
                std::span<float> samples) {
    std::fill(samples.begin(), samples.end(), 0.0f);
    const size_t n = samples.size();
    switch (bitsPerSample) {
        case 8:
            if (n < byteCount)
                return;
            for (uint32_t i = 0; i < byteCount; ++i) {
                // Unsigned 8-bit samples sit around 128.
                samples[i] = static_cast<float>(static_cast<int>(data[i]) - 128) * kFrom8Bit;
            }
            return;
        case 16:
            if (2 * n < byteCount)
                return;
            for (size_t i = 0; i < n; ++i) {
                samples[i] = static_cast<float>(ReadInt16(data + 2 * i)) * kFrom16Bit;
            }
            return;
        case 32:
            if (4 * n < byteCount)
                return;
            std::memcpy(samples.data(), data, 4 * n);
            return;
        default:
            return;
    }
}

void FloatToPcm(std::span<const float> samples, uint16_t bitsPerSample, uint8_t* data,
                uint32_t byteCount) {
    std::memset(data, 0, byteCount);
    const size_t n = samples.size();
    switch (bitsPerSample) {
        case 8:
            for (size_t i = 0; i < n; ++i) {
                // Unsigned 8-bit: silence at 128, full scale 128 steps either way.
                const double v = (static_cast<double>(samples[i]) + 1.0) * 128.0;
                data[i] = static_cast<uint8_t>(TruncateClipped(v, 0.0, 256.0, 0, 255));
            }
            return;
        case 16:
            for (size_t i = 0; i < n; ++i) {
                // Signed 16-bit full scale, clipped symmetrically to +-32767.
                const double v = static_cast<double>(samples[i]) * 32768.0;
                WriteInt16(data + 2 * i, static_cast<int16_t>(
                                             TruncateClipped(v, -32767.0, 32768.0, -32767, 32767)));
            }
            return;
        case 32:
            if (4 * n < byteCount)
                return;
            std::memcpy(data, samples.data(), 4 * n);
            return;
        default:
            return;
    }
}

}  // namespace qm
