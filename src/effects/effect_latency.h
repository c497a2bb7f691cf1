#pragma once

#include <cstdint>

#include "effects/voice_effect.h"

namespace qm {

// How many bytes of the stream an effect holds back before its output starts: the delay to
// remove when a whole file is rendered, and what a drain must flush. 0 for unknown effects.
uint64_t EffectLatencyBytes(const VoiceEffect& effect, const WaveFormat& format);

}  // namespace qm
