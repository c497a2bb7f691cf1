#include "encoder/pcm_input.h"

#include <algorithm>

#include "encoder/mp3_frame.h"

namespace qm {

PcmInputCheck CheckPcmInput(const PcmInputFormat& format) {
    if (format.formatTag != kWaveFormatPcmTag) {
        return PcmInputCheck::kNotPcm;
    }
    if (format.bitsPerSample != 8 && format.bitsPerSample != 16) {
        return PcmInputCheck::kSampleWidth;
    }
    if (format.channels != 1 && format.channels != 2) {
        return PcmInputCheck::kChannelCount;
    }
    if (!IsLayer3SampleRate(format.samplesPerSecHz)) {
        return PcmInputCheck::kSampleRate;
    }
    const uint32_t frameBytes = uint32_t{format.channels} * format.bitsPerSample / 8;
    if (format.blockAlign != frameBytes ||
        format.avgBytesPerSec != frameBytes * format.samplesPerSecHz) {
        return PcmInputCheck::kInconsistent;
    }
    return PcmInputCheck::kAccepted;
}

uint32_t Mp3BitrateKbpsFor(uint32_t sampleRateHz) {
    return sampleRateHz <= 12000 ? kMp3LowRateBitrateKbps : kMp3BitrateKbps;
}

size_t DeinterleavePcm(const PcmInputFormat& format, std::span<const uint8_t> pcm,
                       std::span<int16_t> left, std::span<int16_t> right) {
    const size_t channels = format.channels;
    const size_t sampleBytes = format.bitsPerSample / 8;
    const size_t frameBytes = channels * sampleBytes;
    if (frameBytes == 0 || (channels == 2 && right.size() < left.size())) {
        return 0;
    }
    const size_t frames = std::min(pcm.size() / frameBytes, left.size());
    for (size_t i = 0; i < frames; ++i) {
        const uint8_t* frame = pcm.data() + i * frameBytes;
        for (size_t c = 0; c < channels; ++c) {
            const uint8_t* sample = frame + c * sampleBytes;
            int16_t value = 0;
            if (sampleBytes == 1) {
                // 8-bit PCM is unsigned around 128.
                value = static_cast<int16_t>((int{sample[0]} - 128) * 256);
            } else {
                value = static_cast<int16_t>(static_cast<uint16_t>(sample[0] | (sample[1] << 8)));
            }
            (c == 0 ? left : right)[i] = value;
        }
    }
    return frames;
}

}  // namespace qm
