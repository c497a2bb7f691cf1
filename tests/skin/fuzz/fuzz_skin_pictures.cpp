// Theme file names and BMP headers from the fuzzer's input: the checks must never read outside
// the input, and a bitmap they accept must really hold its pixel rows.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "skin/skin_rules.h"

using namespace qm;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qm::skin::PictureKindOf(std::string_view(reinterpret_cast<const char*>(data), size));
    if (qm::skin::BitmapFileIsWhole(std::span(data, size)) && size < 54)
        std::abort();
    return 0;
}
