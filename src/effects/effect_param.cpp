#include "effects/effect_param.h"

#include <cstdio>

namespace qm {

EffectParam::EffectParam(int32_t min, int32_t max, int32_t defaultValue, int32_t step,
                         const char* name)
    : value_(defaultValue), min_(min), max_(max), step_(step), default_(defaultValue) {
    std::snprintf(name_, sizeof(name_), "%s", name != nullptr ? name : "");
}

int32_t EffectParam::GetValue() const {
    return value_;
}

void EffectParam::SetValue(int32_t value) {
    value_ = value;
}

void EffectParam::GetRange(int32_t* min, int32_t* max, int32_t* defaultValue, int32_t* step) const {
    if (min != nullptr)
        *min = min_;
    if (max != nullptr)
        *max = max_;
    if (defaultValue != nullptr)
        *defaultValue = default_;
    if (step != nullptr)
        *step = step_;
}

const char* EffectParam::GetName() const {
    return name_;
}

void EffectParam::ResetToDefault() {
    value_ = default_;
}

}  // namespace qm
