#pragma once

#include <cstdint>
#include <memory>

#include "effects/voice_effect.h"

namespace qm {

// A new object of the built-in voice at `registryIndex` (the order of EnumEffect), independent
// of the registry's own object and of every other instance: its own parameters, buffers and
// random phases. Null for an index past the last voice. Allocates; not for the audio thread.
std::unique_ptr<VoiceEffect> NewEffectInstance(uint32_t registryIndex);

}  // namespace qm
