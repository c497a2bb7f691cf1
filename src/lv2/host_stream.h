#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "effects/effect_stream.h"
#include "effects/fixed_array.h"
#include "effects/voice_effect.h"
#include "effects/wave_format.h"

namespace qm {

// A voice as a host runs it: separate float channels in pieces of any length, interleaved into
// the voice's own sample format and streamed through the effect with the least delay the voice
// allows. The output is the effect's block-by-block output delayed by exactly LatencyFrames(),
// whatever the lengths of the pieces, so a host can compensate it.
//
// Prepare and Restart allocate (instantiation thread); Run allocates nothing, takes no lock
// and does no I/O (audio thread). One user at a time.
class HostStream {
  public:
    // Takes the effect and sizes everything for `channels` at `rateHz`. False (holding nothing
    // usable) when the effect refuses the format, its delay is not whole frames, or memory is
    // short.
    bool Prepare(std::unique_ptr<VoiceEffect> effect, uint32_t channels, uint32_t rateHz);
    // Back to the start of a stream: the effect prepared afresh, its delay line silent.
    bool Restart();

    VoiceEffect& Effect() { return *effect_; }
    uint32_t LatencyFrames() const { return latencyFrames_; }

    // `frames` frames of every channel; inputs and outputs may be the same buffers.
    void Run(std::span<const float* const> inputs, std::span<float* const> outputs,
             uint32_t frames);

  private:
    std::unique_ptr<VoiceEffect> effect_;  // outlives stream_, which releases it
    EffectStream stream_;
    bool ready_ = false;
    WaveFormat format_{};
    uint32_t channels_ = 0;
    uint32_t latencyFrames_ = 0;

    FixedArray<float> frames_;   // one piece, interleaved
    FixedArray<uint8_t> bytes_;  // the same piece in the voice's sample format
};

}  // namespace qm
