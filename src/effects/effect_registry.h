#pragma once

#include <array>
#include <cstdint>

#include "effects/voice_effect.h"

namespace qm {

// The eight built-in effects, constructed once and alive until process exit. The order is
// fixed: it is the order of EnumEffect and of the GUID search.
class EffectRegistry {
  public:
    static constexpr uint32_t kEffectCount = 8;

    static EffectRegistry& Instance();

    const std::array<VoiceEffect*, kEffectCount>& Effects() const { return effects_; }
    VoiceEffect* FindByGuid(const EffectGuid& guid) const;
    // Case-insensitive lookup by the effect's own name; null when none has it.
    VoiceEffect* FindByName(const char* name) const;

  private:
    EffectRegistry();
    std::array<VoiceEffect*, kEffectCount> effects_{};
};

// The first registry entry whose GUID matches all 16 bytes, or null.
VoiceEffect* FindEffectByGUID(const EffectGuid* guid);

// Hands out the eight effect objects in registry order. With a null array or *count below 8
// it stores 8 in *count and returns 0; otherwise it fills the array, stores 8 and returns 1.
extern "C" int EnumEffect(VoiceEffect** effects, uint32_t* count);

}  // namespace qm
