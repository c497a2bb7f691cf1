// What `quillmar info` reads from any file: the ID3 tag, the first frame, the Info tag and the
// length. Nothing may read past the bytes given, and a length that is claimed must add up.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "encoder/mp3_file.h"

using namespace qm;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    if (const auto tag = ReadId3Tag(bytes)) {
        if (tag->majorVersion != 3 && tag->majorVersion != 4) {
            std::abort();
        }
    }
    if (const auto summary = ReadMp3FileSummary(bytes)) {
        if (summary->id3Bytes > size || summary->seconds < 0.0) {
            std::abort();
        }
    }
    std::string name;
    VoiceParams params;
    ParseVoiceRecipe(std::string_view(reinterpret_cast<const char*>(data), size), &name, &params);
    return 0;
}
