#pragma once

#include <cstdint>
#include <span>

#include "effects/fixed_array.h"
#include "effects/voice_effect.h"
#include "effects/wave_format.h"

namespace qm {

class PhaseVocoderEffect;

// Runs a voice effect over a live stream that arrives in pieces of any length, with the least
// delay the effect allows. An engine voice is fed a hop at a time, so its output lags the input
// by one frame (N samples: one hop of gathering and the engine's N - hop); any other effect
// (Male2Female) is fed whole blocks and lags by a block plus its own delay. Either way the
// output stream is the effect's block output, sample for sample, only earlier.
//
// Prepare and Release allocate and free (never on the audio path). Transform allocates
// nothing, takes no lock and never blocks. One thread at a time.
class EffectStream {
  public:
    EffectStream() = default;
    // Releases the effect it prepared.
    ~EffectStream();
    EffectStream(const EffectStream&) = delete;
    EffectStream& operator=(const EffectStream&) = delete;

    // Prepares `effect` (fresh processing state) for `format`; false, holding nothing, when the
    // effect refuses the format or memory is short.
    bool Prepare(VoiceEffect& effect, const WaveFormat& format);
    void Release();

    // Replaces `chunk` by the same number of bytes of the output stream. A step the effect
    // refuses passes unchanged and is counted.
    void Transform(std::span<uint8_t> chunk);

    // Bytes by which the output stream lags the input stream.
    uint64_t DelayBytes() const { return delayBytes_; }
    // Bytes gathered before each run of the effect: a hop, or a block.
    uint32_t StepBytes() const { return stepBytes_; }
    uint64_t RefusedSteps() const { return refused_; }
    // True when the effect runs hop by hop: short, even steps, fit for a server's callback.
    bool ByHops() const { return vocoder_ != nullptr; }

  private:
    void RunStep(uint8_t* step);

    VoiceEffect* effect_ = nullptr;
    PhaseVocoderEffect* vocoder_ = nullptr;  // the same effect when it streams by hops
    WaveFormat format_{};
    FixedArray<uint8_t> buffers_;  // two steps: the one being filled, the last one done
    uint8_t* filling_ = nullptr;
    uint8_t* done_ = nullptr;
    uint32_t stepBytes_ = 0;
    uint32_t fill_ = 0;
    uint64_t delayBytes_ = 0;
    uint64_t refused_ = 0;
};

}  // namespace qm
