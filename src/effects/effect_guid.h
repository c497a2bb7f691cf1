#pragma once

#include <cstdint>
#include <cstring>

namespace qm {

// A 16-byte identifier in the standard GUID layout. Effects are matched on all 16 bytes.
struct EffectGuid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};
static_assert(sizeof(EffectGuid) == 16, "an effect GUID is exactly 16 bytes");

inline bool SameGuid(const EffectGuid& a, const EffectGuid& b) {
    return std::memcmp(&a, &b, sizeof(EffectGuid)) == 0;
}

}  // namespace qm
