#include "effects/effect_stream.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "effects/effect_latency.h"
#include "effects/phase_vocoder_effects.h"

namespace qm {

namespace {

// Silence of 8-bit PCM is the middle code; every other width is signed.
constexpr uint8_t kSilence8Bit = 0x80;

}  // namespace

EffectStream::~EffectStream() {
    Release();
}

void EffectStream::Release() {
    if (effect_ != nullptr)
        effect_->Release();
    effect_ = nullptr;
    vocoder_ = nullptr;
    buffers_.Free();
    filling_ = done_ = nullptr;
    stepBytes_ = fill_ = 0;
    delayBytes_ = refused_ = 0;
}

bool EffectStream::Prepare(VoiceEffect& effect, const WaveFormat& format) {
    Release();
    const uint32_t blockBytes = effect.GetBlockSize(&format);
    auto* vocoder = dynamic_cast<PhaseVocoderEffect*>(&effect);
    // The engine treats the interleaved stream as one sequence, so its hops need not hold
    // whole sample frames (3, 5, 6 or 7 channels); a block effect works on whole frames.
    const bool whole = format.blockAlign != 0 && blockBytes % format.blockAlign == 0;
    if (blockBytes == 0 || (vocoder == nullptr && !whole) || effect.Prepare(&format) == 0) {
        effect.Release();
        return false;
    }
    effect_ = &effect;
    vocoder_ = vocoder;
    format_ = format;
    stepBytes_ = blockBytes;
    if (vocoder_ != nullptr)
        stepBytes_ = vocoder_->HopLength() * (format.bitsPerSample / 8u);
    if (stepBytes_ == 0 || !buffers_.Allocate(2 * size_t{stepBytes_})) {
        Release();
        return false;
    }
    filling_ = buffers_.Data();
    done_ = filling_ + stepBytes_;
    // Until the first step is done the output is silence.
    std::fill_n(done_, stepBytes_, format.bitsPerSample == 8 ? kSilence8Bit : uint8_t{0});
    delayBytes_ = stepBytes_ + EffectLatencyBytes(effect, format);
    return true;
}

void EffectStream::RunStep(uint8_t* step) {
    const int ok = vocoder_ != nullptr ? vocoder_->ProcessHop(&format_, step, stepBytes_)
                                       : effect_->Process(&format_, step, &stepBytes_);
    if (ok == 0)
        ++refused_;
}

void EffectStream::Transform(std::span<uint8_t> chunk) {
    if (effect_ == nullptr)
        return;
    for (size_t at = 0; at < chunk.size();) {
        const size_t n = std::min<size_t>(chunk.size() - at, stepBytes_ - fill_);
        // The input goes into the step being filled; the step done last comes out.
        std::memcpy(filling_ + fill_, chunk.data() + at, n);
        std::memcpy(chunk.data() + at, done_ + fill_, n);
        fill_ += static_cast<uint32_t>(n);
        at += n;
        if (fill_ == stepBytes_) {
            RunStep(filling_);
            std::swap(filling_, done_);
            fill_ = 0;
        }
    }
}

}  // namespace qm
