#pragma once

#include <cstdint>

namespace qm {

// One adjustable integer parameter of an effect. The value is stored as given, without a
// range check: callers that take values from the user must keep them within GetRange.
class EffectParam {
  public:
    static constexpr int kNameCapacity = 260;

    EffectParam(int32_t min, int32_t max, int32_t defaultValue, int32_t step, const char* name);
    virtual int32_t GetValue() const;
    virtual void SetValue(int32_t value);
    virtual void GetRange(int32_t* min, int32_t* max, int32_t* defaultValue, int32_t* step) const;
    virtual const char* GetName() const;
    virtual void ResetToDefault();
    virtual ~EffectParam() = default;

    EffectParam(const EffectParam&) = delete;
    EffectParam& operator=(const EffectParam&) = delete;

    bool InRange(int32_t value) const { return value >= min_ && value <= max_; }

  private:
    int32_t value_;
    int32_t min_;
    int32_t max_;
    int32_t step_;
    int32_t default_;
    char name_[kNameCapacity];
};

}  // namespace qm
