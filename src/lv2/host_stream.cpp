#include "lv2/host_stream.h"

#include <algorithm>
#include <utility>

#include "effects/pcm_convert.h"
#include "effects/phase_vocoder_effects.h"

namespace qm {

namespace {

// The engine voices work on floats and take them as they are; Male2Female takes 16-bit PCM.
uint16_t SampleBits(const VoiceEffect& effect) {
    return dynamic_cast<const PhaseVocoderEffect*>(&effect) != nullptr ? 32 : 16;
}

// A host's block is converted this many frames at a time, so any block length needs only
// this much room.
constexpr uint32_t kPieceFrames = 512;

}  // namespace

bool HostStream::Prepare(std::unique_ptr<VoiceEffect> effect, uint32_t channels, uint32_t rateHz) {
    stream_.Release();
    ready_ = false;
    effect_ = std::move(effect);
    if (effect_ == nullptr || channels == 0 || channels > kMaxChannels)
        return false;
    const uint16_t bits = SampleBits(*effect_);
    format_ = InterleavedWaveFormat(static_cast<uint16_t>(channels), rateHz, bits);
    channels_ = channels;
    if (!IsPlausibleStreamFormat(format_))
        return false;
    if (!frames_.Allocate(size_t{kPieceFrames} * channels) ||
        !bytes_.Allocate(size_t{kPieceFrames} * format_.blockAlign)) {
        return false;
    }
    return Restart();
}

bool HostStream::Restart() {
    ready_ = false;
    if (effect_ == nullptr || frames_.Size() == 0)
        return false;
    // Preparing the stream prepares the effect afresh: every tail and history starts over.
    if (!stream_.Prepare(*effect_, format_))
        return false;
    // A delay of part of a frame could not be reported, nor compensated by a host.
    if (stream_.DelayBytes() % format_.blockAlign != 0) {
        stream_.Release();
        return false;
    }
    latencyFrames_ = static_cast<uint32_t>(stream_.DelayBytes() / format_.blockAlign);
    ready_ = true;
    return true;
}

void HostStream::Run(std::span<const float* const> inputs, std::span<float* const> outputs,
                     uint32_t frames) {
    if (!ready_) {
        // Not prepared (a restart that ran out of memory): silence, never the undisguised voice.
        for (float* out : outputs)
            std::fill_n(out, frames, 0.0f);
        return;
    }
    if (inputs.size() < channels_ || outputs.size() < channels_)
        return;
    for (uint32_t done = 0; done < frames;) {
        const uint32_t piece = std::min(frames - done, kPieceFrames);
        float* interleaved = frames_.Data();
        for (uint32_t c = 0; c < channels_; ++c) {
            const float* in = inputs[c] + done;
            for (uint32_t f = 0; f < piece; ++f)
                interleaved[size_t{f} * channels_ + c] = in[f];
        }
        const size_t samples = size_t{piece} * channels_;
        const auto byteCount = static_cast<uint32_t>(piece * format_.blockAlign);
        FloatToPcm(frames_.Span().first(samples), format_.bitsPerSample, bytes_.Data(), byteCount);
        stream_.Transform(std::span(bytes_.Data(), byteCount));
        PcmToFloat(bytes_.Data(), byteCount, format_.bitsPerSample, frames_.Span().first(samples));
        for (uint32_t c = 0; c < channels_; ++c) {
            float* out = outputs[c] + done;
            for (uint32_t f = 0; f < piece; ++f)
                out[f] = interleaved[size_t{f} * channels_ + c];
        }
        done += piece;
    }
}

}  // namespace qm
