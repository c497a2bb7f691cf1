#include "capture/recording_name.h"

#include <cstdio>
#include <cstring>

namespace qm {

namespace {

bool InRange(int value, int low, int high) {
    return value >= low && value <= high;
}

}  // namespace

bool ComposeRecordingPath(std::span<char> out, const char* folder,
                          const RecordingStartTime& start) {
    if (out.empty()) {
        return false;
    }
    out[0] = '\0';
    // The ranges keep the name at its fixed width, so the length check below is exact.
    if (folder == nullptr || !InRange(start.year, 0, 9999) || !InRange(start.month, 1, 12) ||
        !InRange(start.day, 1, 31) || !InRange(start.hour, 0, 23) ||
        !InRange(start.minute, 0, 59) || !InRange(start.second, 0, 60)) {
        return false;
    }
    const size_t folderChars = std::strlen(folder);
    if (folderChars + kRecordingNameChars + 1 > out.size()) {
        return false;
    }
    std::memcpy(out.data(), folder, folderChars);
    std::snprintf(out.data() + folderChars, out.size() - folderChars,
                  "Aud%04d_%02d_%02d_%02d-%02d-%02d.mp3", start.year, start.month, start.day,
                  start.hour, start.minute, start.second);
    return true;
}

}  // namespace qm
