#include "effects/effect_instances.h"

#include "effects/effect_registry.h"
#include "effects/male_to_female.h"
#include "effects/phase_vocoder_effects.h"

namespace qm {

std::unique_ptr<VoiceEffect> NewEffectInstance(uint32_t registryIndex) {
    // The registry order: Male2Female first, then the engine voices in their table's order.
    if (registryIndex >= EffectRegistry::kEffectCount)
        return nullptr;
    if (registryIndex == 0)
        return std::make_unique<MaleToFemaleEffect>();
    return std::make_unique<PhaseVocoderEffect>(static_cast<VocoderEffectId>(registryIndex - 1));
}

}  // namespace qm
