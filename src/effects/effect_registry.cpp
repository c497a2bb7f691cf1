#include "effects/effect_registry.h"

#include <cctype>
#include <new>

#include "effects/male_to_female.h"
#include "effects/phase_vocoder_effects.h"

namespace qm {

namespace {

// Members are constructed in declaration order, which is the registry order.
struct BuiltInEffects {
    MaleToFemaleEffect maleToFemale;
    PhaseVocoderEffect femaleToMale{VocoderEffectId::kFemaleToMale};
    PhaseVocoderEffect baby{VocoderEffectId::kBaby};
    PhaseVocoderEffect elder{VocoderEffectId::kElder};
    PhaseVocoderEffect robot{VocoderEffectId::kRobot};
    PhaseVocoderEffect monster{VocoderEffectId::kMonster};
    PhaseVocoderEffect ghost{VocoderEffectId::kGhost};
    PhaseVocoderEffect strangeVoice{VocoderEffectId::kStrangeVoice};
};

bool EqualsIgnoringCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) !=
            std::tolower(static_cast<unsigned char>(*b))) {
            return false;
        }
    }
    return *a == *b;
}

}  // namespace

EffectRegistry& EffectRegistry::Instance() {
    static EffectRegistry registry;
    return registry;
}

EffectRegistry::EffectRegistry() {
    // Built in static storage and never destroyed: the objects stay valid until the process
    // ends whoever holds them, and no destructor is left behind for a process exit to call
    // after a module that loaded the program has unloaded it again.
    alignas(BuiltInEffects) static unsigned char storage[sizeof(BuiltInEffects)];
    BuiltInEffects& builtIn = *new (storage) BuiltInEffects;
    effects_ = {&builtIn.maleToFemale, &builtIn.femaleToMale, &builtIn.baby,
                &builtIn.elder,        &builtIn.robot,        &builtIn.monster,
                &builtIn.ghost,        &builtIn.strangeVoice};
}

VoiceEffect* EffectRegistry::FindByGuid(const EffectGuid& guid) const {
    for (VoiceEffect* effect : effects_) {
        if (SameGuid(*effect->GetGUID(), guid))
            return effect;
    }
    return nullptr;
}

VoiceEffect* EffectRegistry::FindByName(const char* name) const {
    if (name == nullptr)
        return nullptr;
    for (VoiceEffect* effect : effects_) {
        if (EqualsIgnoringCase(effect->GetName(), name))
            return effect;
    }
    return nullptr;
}

VoiceEffect* FindEffectByGUID(const EffectGuid* guid) {
    if (guid == nullptr)
        return nullptr;
    return EffectRegistry::Instance().FindByGuid(*guid);
}

extern "C" int EnumEffect(VoiceEffect** effects, uint32_t* count) {
    if (count == nullptr)
        return 0;
    if (effects == nullptr || *count < EffectRegistry::kEffectCount) {
        *count = EffectRegistry::kEffectCount;
        return 0;
    }
    const auto& all = EffectRegistry::Instance().Effects();
    for (uint32_t i = 0; i < EffectRegistry::kEffectCount; ++i)
        effects[i] = all[i];
    *count = EffectRegistry::kEffectCount;
    return 1;
}

}  // namespace qm
