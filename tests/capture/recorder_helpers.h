#pragma once
// What the recorder tests share: the clock they name recordings by, the virtual microphone's
// device index and a count of the files a recording left.
#include <windows.h>

#include <string>
#include <vector>

#include "capture/recording_name.h"
#include "capture/win/capture_devices.h"
#include "virtual_mic/virtual_mic_ids.h"

namespace qm {

// Every recording of these tests starts at 2013-02-08 09:05:03.
inline RecordingStartTime FixedClock() {
    return {2013, 2, 8, 9, 5, 3};
}
inline constexpr const char* kFixedClockName = "Aud2013_02_08_09-05-03.mp3";

// The virtual microphone's index in the capture device list, or -1 when it is not listed.
inline int VirtualMicIndex() {
    const std::vector<std::wstring> names = CaptureDeviceNames();
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i] == kVirtualMicName) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// The files (not folders) in `folder` (ending in a backslash) that match `pattern`.
inline int FilesIn(const std::string& folder, const char* pattern = "*") {
    int count = 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return 0;
    }
    do {
        count += (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ? 1 : 0;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return count;
}

}  // namespace qm
