#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "effects/voice_effect.h"

namespace qm {

// Runs one effect over a whole stream the way the effect stage drives it (GetBlockSize,
// Prepare, one Process per block, Release), then removes the effect's own delay so that the
// result is time-aligned with the input and exactly as long.
struct RenderResult {
    bool ok = false;
    std::string error;         // one line, set when !ok
    std::vector<uint8_t> pcm;  // same length as the input when ok
};

// `progress`, when given, hears the fraction done (0..1) after each block.
RenderResult RenderEffect(VoiceEffect& effect, const WaveFormat& format,
                          std::span<const uint8_t> input,
                          const std::function<void(double)>& progress = {});

// The byte that means silence at this width: 0x80 for unsigned 8-bit, 0 otherwise.
uint8_t SilenceByte(uint16_t bitsPerSample);

}  // namespace qm
