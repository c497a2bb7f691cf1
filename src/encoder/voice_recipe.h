#pragma once

#include <string>

namespace qm {

class VoiceEffect;

// The recipe a recording or a rendered file records (FormatVoiceRecipe): the effect's name and
// its parameters' current values; "none" for no effect.
std::string VoiceRecipeOf(VoiceEffect* effect);

}  // namespace qm
