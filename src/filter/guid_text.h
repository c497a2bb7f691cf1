#pragma once

#include <string_view>

#include "effects/effect_guid.h"

namespace qm {

// Reads registry-form GUID text "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}": eleven hexadecimal
// fields (either case) of at most 8, 4, 4 and then eight times 2 digits, separated exactly as
// shown. Each field takes as many digits as its width allows and needs at least one. Text after
// the eleventh field is not examined. On success fills `guid` and returns true; otherwise sets
// `guid` to all zero and returns false.
bool GuidFromText(std::string_view text, EffectGuid& guid);

}  // namespace qm
