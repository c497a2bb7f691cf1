#include "cli/stage_render.h"

#include <algorithm>

namespace qm {

size_t DefaultStageBufferBytes(const WaveFormat& format) {
    const size_t frameBytes =
        std::max<size_t>(1, size_t{format.channels} * format.bitsPerSample / 8);
    const size_t frames = std::max<size_t>(1, format.samplesPerSec / 100);
    return frames * frameBytes;
}

StageRenderResult RenderThroughStage(EffectStage& stage, const WaveFormat& format,
                                     std::span<const uint8_t> input, size_t bufferBytes) {
    StageRenderResult result;
    if (!stage.Allocated()) {
        result.error = "the effect stage has no memory for its block ring";
        return result;
    }
    const auto formatBlock = WaveFormatToBytes(format);
    stage.SetFormat(kWaveFormatType, formatBlock.data(), formatBlock.size());
    if (!stage.Processing()) {
        result.error = stage.CurrentEffect() == nullptr ? "no effect is selected"
                                                        : "the effect cannot run on this format";
        return result;
    }
    if (bufferBytes == 0)
        bufferBytes = DefaultStageBufferBytes(format);
    result.leadInBytes = stage.PendingBytes();
    result.pcm.reserve(result.leadInBytes + input.size());

    std::vector<uint8_t> buffer(bufferBytes);
    for (size_t at = 0; at < input.size(); at += bufferBytes) {
        const size_t n = std::min(bufferBytes, input.size() - at);
        std::copy_n(input.begin() + static_cast<std::ptrdiff_t>(at), n, buffer.begin());
        stage.Transform(std::span<uint8_t>(buffer.data(), n));
        result.pcm.insert(result.pcm.end(), buffer.begin(),
                          buffer.begin() + static_cast<std::ptrdiff_t>(n));
    }
    while (const size_t n = stage.Drain(buffer)) {
        result.pcm.insert(result.pcm.end(), buffer.begin(),
                          buffer.begin() + static_cast<std::ptrdiff_t>(n));
    }
    if (result.pcm.size() != result.leadInBytes + input.size()) {
        result.error = "the effect stage lost audio";
        return result;
    }
    result.ok = true;
    return result;
}

}  // namespace qm
