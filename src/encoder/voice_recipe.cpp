#include "encoder/voice_recipe.h"

#include <vector>

#include "effects/effect_param.h"
#include "effects/voice_effect.h"
#include "encoder/id3_tag.h"

namespace qm {

std::string VoiceRecipeOf(VoiceEffect* effect) {
    if (effect == nullptr) {
        return FormatVoiceRecipe({}, {});
    }
    uint32_t count = 0;
    effect->GetParams(nullptr, &count);
    std::vector<EffectParam*> params(count, nullptr);
    VoiceParams values;
    if (count > 0 && effect->GetParams(params.data(), &count) != 0) {
        for (uint32_t i = 0; i < count && i < params.size(); ++i) {
            if (params[i] != nullptr) {
                values.emplace_back(params[i]->GetName(), params[i]->GetValue());
            }
        }
    }
    return FormatVoiceRecipe(effect->GetName(), values);
}

}  // namespace qm
