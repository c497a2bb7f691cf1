#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "effects/fixed_array.h"
#include "effects/voice_effect.h"
#include "effects/wave_format.h"

// Runs a block effect over a stream that arrives in pieces of any length: the host's float
// channels are gathered into the effect's fixed blocks, and what comes out is handed back one
// block later. The output is the effect's block-by-block output delayed by exactly
// LatencyFrames(), whatever the lengths of the pieces, so a host can compensate it.
//
// Prepare and Restart allocate (instantiation thread); Run allocates nothing, takes no lock
// and does no I/O (audio thread). One user at a time.
class BlockStream {
  public:
    // Takes the effect and sizes everything for `channels` at `rateHz`. False (holding nothing
    // usable) when the effect refuses the format or memory is short.
    bool Prepare(std::unique_ptr<VoiceEffect> effect, uint32_t channels, uint32_t rateHz);
    // Back to the start of a stream: the effect prepared afresh, the queues silent.
    bool Restart();

    VoiceEffect& Effect() { return *effect_; }
    uint32_t BlockFrames() const { return blockFrames_; }
    // One block of gathering plus the effect's own delay.
    uint32_t LatencyFrames() const { return latencyFrames_; }

    // `frames` frames of every channel; inputs and outputs may be the same buffers.
    void Run(std::span<const float* const> inputs, std::span<float* const> outputs,
             uint32_t frames);

  private:
    void ProcessBlock();

    std::unique_ptr<VoiceEffect> effect_;
    WaveFormat format_;
    uint32_t channels_ = 0;
    uint32_t blockFrames_ = 0;
    uint32_t blockBytes_ = 0;
    uint32_t latencyFrames_ = 0;

    FixedArray<float> gathered_;  // the block being filled, interleaved
    uint32_t gatheredFrames_ = 0;
    FixedArray<uint8_t> block_;  // the block in the effect's sample format
    FixedArray<float> queue_;    // processed frames waiting to go out: a ring of two blocks
    uint32_t queueRead_ = 0;     // in frames
    uint32_t queueFrames_ = 0;
};
