#pragma once

#include <cstddef>
#include <span>

namespace qm {

// Local wall-clock time of a recording's start, as the calendar shows it.
struct RecordingStartTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Length of every recording's file name, "AudYYYY_MM_DD_hh-mm-ss.mp3".
inline constexpr size_t kRecordingNameChars = 26;

// `folder` (ending in its separator, or empty for the current folder) followed directly by
// the recording's name for `start`, into `out`. False, with `out` emptied, when a field is
// out of its calendar range or the path does not fit `out` with its terminator: a recording
// must never be written under a cut name.
bool ComposeRecordingPath(std::span<char> out, const char* folder, const RecordingStartTime& start);

}  // namespace qm
