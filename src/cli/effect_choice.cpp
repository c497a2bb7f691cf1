#include "cli/effect_choice.h"

#include <cctype>
#include <cstring>

#include "cli/cli_args.h"
#include "effects/effect_registry.h"
#include "filter/effect_stage.h"

namespace qm {

namespace {

bool EqualsIgnoringCase(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b))
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::vector<EffectParam*> ParamsOf(VoiceEffect& effect) {
    uint32_t count = 0;
    effect.GetParams(nullptr, &count);
    std::vector<EffectParam*> params(count, nullptr);
    if (count > 0 && effect.GetParams(params.data(), &count) == 0)
        params.clear();
    return params;
}

bool ChooseEffect(const std::string& nameOrIndex, VoiceEffect*& effect, int32_t& index,
                  std::string& error) {
    index = 0;
    if (EqualsIgnoringCase(nameOrIndex, "none")) {
        effect = nullptr;
        return true;
    }
    effect = EffectRegistry::Instance().FindByName(nameOrIndex.c_str());
    int32_t number = 0;
    if (effect == nullptr && ParseInt32(nameOrIndex, number)) {
        effect = EffectForRecorderIndex(number);
        if (effect != nullptr)
            index = number;
    }
    if (effect == nullptr) {
        error = "unknown effect '" + nameOrIndex +
                "': give a name or an index 1..8 from 'quillmar list', or none";
        return false;
    }
    effect->Reset();
    return true;
}

bool ApplyParam(VoiceEffect& effect, const std::string& assignment, std::string& error) {
    const size_t eq = assignment.find('=');
    if (eq == std::string::npos) {
        error = "--param takes NAME=VALUE, got '" + assignment + "'";
        return false;
    }
    const std::string name = assignment.substr(0, eq);
    const std::string text = assignment.substr(eq + 1);
    for (EffectParam* param : ParamsOf(effect)) {
        if (!EqualsIgnoringCase(name, param->GetName()))
            continue;
        int32_t value = 0;
        int32_t min = 0, max = 0;
        param->GetRange(&min, &max, nullptr, nullptr);
        if (!ParseInt32(text, value)) {
            error = "parameter '" + name + "' takes a whole number, got '" + text + "'";
            return false;
        }
        if (!param->InRange(value)) {
            error = "parameter '" + std::string(param->GetName()) + "' must lie in " +
                    std::to_string(min) + ".." + std::to_string(max) + ", got " + text;
            return false;
        }
        param->SetValue(value);
        return true;
    }
    error = "effect '" + std::string(effect.GetName()) + "' has no parameter '" + name + "'";
    return false;
}

}  // namespace qm
