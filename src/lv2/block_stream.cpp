#include "lv2/block_stream.h"

#include <algorithm>
#include <utility>

#include "effects/effect_latency.h"
#include "effects/pcm_convert.h"
#include "effects/phase_vocoder_effects.h"

namespace {

// The engine voices work on floats and take them as they are; Male2Female takes 16-bit PCM.
uint16_t SampleBits(const VoiceEffect& effect) {
    return dynamic_cast<const PhaseVocoderEffect*>(&effect) != nullptr ? 32 : 16;
}

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatFloat = 3;

}  // namespace

bool BlockStream::Prepare(std::unique_ptr<VoiceEffect> effect, uint32_t channels, uint32_t rateHz) {
    effect_ = std::move(effect);
    blockFrames_ = 0;
    if (effect_ == nullptr || channels == 0 || channels > kMaxChannels)
        return false;
    const uint16_t bits = SampleBits(*effect_);
    format_ = WaveFormat{};
    format_.formatTag = bits == 32 ? kFormatFloat : kFormatPcm;
    format_.channels = static_cast<uint16_t>(channels);
    format_.samplesPerSec = rateHz;
    format_.bitsPerSample = bits;
    format_.blockAlign = static_cast<uint16_t>(channels * bits / 8);
    format_.avgBytesPerSec = rateHz * format_.blockAlign;
    channels_ = channels;
    if (!IsPlausibleStreamFormat(format_))
        return false;
    const uint32_t blockBytes = effect_->GetBlockSize(&format_);
    if (blockBytes == 0 || blockBytes % format_.blockAlign != 0)
        return false;
    blockBytes_ = blockBytes;
    const uint32_t frames = blockBytes / format_.blockAlign;
    const uint64_t delayBytes = EffectLatencyBytes(*effect_, format_);
    if (delayBytes % format_.blockAlign != 0)
        return false;
    if (!gathered_.Allocate(size_t{frames} * channels) || !block_.Allocate(blockBytes) ||
        !queue_.Allocate(size_t{2} * frames * channels)) {
        return false;
    }
    blockFrames_ = frames;
    latencyFrames_ = frames + static_cast<uint32_t>(delayBytes / format_.blockAlign);
    return Restart();
}

bool BlockStream::Restart() {
    if (effect_ == nullptr || blockFrames_ == 0)
        return false;
    // The effect's own stream state starts over too: Prepare clears every tail and history.
    if (effect_->GetBlockSize(&format_) != blockBytes_ || effect_->Prepare(&format_) == 0) {
        effect_->Release();
        blockFrames_ = 0;
        return false;
    }
    std::fill_n(gathered_.Data(), gathered_.Size(), 0.0f);
    gatheredFrames_ = 0;
    // One block of silence ahead of the first processed block: from then on every piece of
    // input finds as much output waiting as it brings (see Run).
    std::fill_n(queue_.Data(), queue_.Size(), 0.0f);
    queueRead_ = 0;
    queueFrames_ = blockFrames_;
    return true;
}

void BlockStream::ProcessBlock() {
    FloatToPcm(gathered_.Span(), format_.bitsPerSample, block_.Data(), blockBytes_);
    const size_t samples = gathered_.Size();
    float* processed = gathered_.Data();
    if (effect_->Process(&format_, block_.Data(), &blockBytes_) != 0) {
        PcmToFloat(block_.Data(), blockBytes_, format_.bitsPerSample, gathered_.Span());
    } else {
        // A refused block would otherwise leave the undisguised voice in the output.
        std::fill_n(processed, samples, 0.0f);
    }
    const uint32_t capacity = 2 * blockFrames_;
    uint32_t frame = (queueRead_ + queueFrames_) % capacity;
    for (uint32_t f = 0; f < blockFrames_; ++f) {
        std::copy_n(processed + size_t{f} * channels_, channels_,
                    queue_.Data() + size_t{frame} * channels_);
        frame = frame + 1 == capacity ? 0 : frame + 1;
    }
    queueFrames_ += blockFrames_;
}

void BlockStream::Run(std::span<const float* const> inputs, std::span<float* const> outputs,
                      uint32_t frames) {
    if (blockFrames_ == 0) {
        // Not prepared (a restart that ran out of memory): silence, never stale buffers.
        for (float* out : outputs)
            std::fill_n(out, frames, 0.0f);
        return;
    }
    if (inputs.size() < channels_ || outputs.size() < channels_)
        return;
    const uint32_t capacity = 2 * blockFrames_;
    uint32_t done = 0;
    while (done < frames) {
        // Never past the end of the block being gathered: after this piece the queue holds
        // one block minus what is gathered plus the piece, which is at least the piece and at
        // most two blocks.
        const uint32_t piece = std::min(frames - done, blockFrames_ - gatheredFrames_);
        float* gathered = gathered_.Data() + size_t{gatheredFrames_} * channels_;
        for (uint32_t c = 0; c < channels_; ++c) {
            const float* in = inputs[c] + done;
            for (uint32_t f = 0; f < piece; ++f)
                gathered[size_t{f} * channels_ + c] = in[f];
        }
        gatheredFrames_ += piece;
        if (gatheredFrames_ == blockFrames_) {
            ProcessBlock();
            gatheredFrames_ = 0;
        }
        for (uint32_t f = 0; f < piece; ++f) {
            const float* from = queue_.Data() + size_t{queueRead_} * channels_;
            for (uint32_t c = 0; c < channels_; ++c)
                outputs[c][done + f] = from[c];
            queueRead_ = queueRead_ + 1 == capacity ? 0 : queueRead_ + 1;
        }
        queueFrames_ -= piece;
        done += piece;
    }
}
