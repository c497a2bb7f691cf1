// The single-instance rule. A second process finds the first by its main window's class and
// asks it to come to the front; a named mutex in the user's session settles the race of two
// processes started at the same moment, which the window search alone lets both pass.
#pragma once

#include <windows.h>

#include "platform/win/window_messages.h"

namespace qm::app {

inline constexpr wchar_t kMainWindowClass[] = L"QuillmarMicrophoneRecordKitWindowClass";

// Posts kComeToFrontMessage to a top-level window of the main class, if there is one.
bool WakeRunningInstance();

// Holds the instance mutex while alive. Claimed() is false when another process holds it.
class InstanceClaim {
  public:
    InstanceClaim();
    ~InstanceClaim();
    InstanceClaim(const InstanceClaim&) = delete;
    InstanceClaim& operator=(const InstanceClaim&) = delete;
    bool Claimed() const { return claimed_; }
    // For the process that lost the claim: waits (bounded) until either the holder's window
    // exists, which it then wakes (false: this process ends), or the holder has exited and the
    // claim is this process's (true: it becomes the instance).
    bool WaitForWindowOrClaim(DWORD timeoutMs);

  private:
    HANDLE mutex_ = nullptr;
    bool claimed_ = false;
};

// Registers the main window class as a copy of the standard dialog class under our name.
bool RegisterMainWindowClass(HINSTANCE instance);

}  // namespace qm::app
