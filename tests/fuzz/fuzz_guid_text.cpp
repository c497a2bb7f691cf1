// Reads GUID text from the fuzzer's input. Whatever the parser accepts, the C library's scanf
// with the same pattern must accept with the same values (it also takes blanks, signs and 0x,
// which the parser refuses); a refusal must leave an all-zero GUID.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "filter/guid_text.h"

using namespace qm;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    EffectGuid guid;
    guid.data1 = 0xDEADBEEF;
    if (!GuidFromText(text, guid)) {
        if (!SameGuid(guid, EffectGuid{}))
            std::abort();
        return 0;
    }
    unsigned int f[11] = {};
    const int read =
        std::sscanf(text.c_str(), "{%8X-%4X-%4X-%2X%2X-%2X%2X%2X%2X%2X%2X}", &f[0], &f[1], &f[2],
                    &f[3], &f[4], &f[5], &f[6], &f[7], &f[8], &f[9], &f[10]);
    if (read != 11 || f[0] != guid.data1 || f[1] != guid.data2 || f[2] != guid.data3)
        std::abort();
    for (int i = 0; i < 8; ++i) {
        if (f[3 + i] != guid.data4[i])
            std::abort();
    }
    return 0;
}
