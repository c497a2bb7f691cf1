#pragma once

#include <windows.h>

#include <strmif.h>

#include <string>
#include <vector>

#include "streaming/win/com_ptr.h"

namespace qm {

// The system's audio input devices, in the device enumerator's order, counting only the
// devices whose friendly name can be read: position k of this list is device index k, both
// for the recorder and for the device menu. Enumerated afresh on every call.

// The capture filter of device `deviceIndex`, or null when there is no such device (no
// device at all, a negative index, or an index at or past the number of named devices: a
// device unplugged since the menu was shown must not silently become another one).
ComPtr<IBaseFilter> FindCaptureDevice(int deviceIndex);

// The friendly names of the named devices, in device-index order.
std::vector<std::wstring> CaptureDeviceNames();

}  // namespace qm
