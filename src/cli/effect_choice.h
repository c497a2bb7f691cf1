#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "effects/voice_effect.h"

namespace qm {

// The effect a user names on the command line: its registry name (any case), its index 1..8 as
// 'quillmar list' numbers them, or "none" (any case) for the voice unchanged, which gives a null
// `effect`.
// `index` is the recorder index when one was given, else 0. The effect is reset to its defaults.
// False with `error` naming the choices when nothing matches.
bool ChooseEffect(const std::string& nameOrIndex, VoiceEffect*& effect, int32_t& index,
                  std::string& error);

// Applies "NAME=VALUE" to the effect's parameter of that name (any case), within its range;
// the error names the parameter and its range.
bool ApplyParam(VoiceEffect& effect, const std::string& assignment, std::string& error);

std::vector<EffectParam*> ParamsOf(VoiceEffect& effect);

}  // namespace qm
