#include "cli/render.h"

#include <algorithm>

#include "effects/effect_latency.h"

namespace qm {

uint8_t SilenceByte(uint16_t bitsPerSample) {
    return bitsPerSample == 8 ? 0x80 : 0x00;
}

RenderResult RenderEffect(VoiceEffect& effect, const WaveFormat& format,
                          std::span<const uint8_t> input,
                          const std::function<void(double)>& progress) {
    RenderResult result;
    const uint32_t blockBytes = effect.GetBlockSize(&format);
    if (blockBytes == 0) {
        result.error = "the effect has no block size for this format";
        return result;
    }
    if (effect.Prepare(&format) == 0) {
        effect.Release();
        result.error = "the effect cannot be prepared for this format";
        return result;
    }
    const uint64_t latency = EffectLatencyBytes(effect, format);
    // Enough blocks to carry the input and then flush the effect's delay out of it.
    const uint64_t needed = input.size() + latency;
    const uint64_t blocks = (needed + blockBytes - 1) / blockBytes;
    std::vector<uint8_t> stream(blocks * blockBytes, SilenceByte(format.bitsPerSample));
    std::copy(input.begin(), input.end(), stream.begin());
    for (uint64_t b = 0; b < blocks; ++b) {
        if (effect.Process(&format, stream.data() + b * blockBytes, &blockBytes) == 0) {
            effect.Release();
            result.error = "the effect refused a block";
            return result;
        }
        if (progress && b % 64 == 63)
            progress(static_cast<double>(b + 1) / static_cast<double>(blocks));
    }
    effect.Release();
    result.pcm.assign(stream.begin() + static_cast<std::ptrdiff_t>(latency),
                      stream.begin() + static_cast<std::ptrdiff_t>(needed));
    result.ok = true;
    return result;
}

}  // namespace qm
