#include "app/win/single_instance.h"

namespace qm::app {
namespace {

// "Local\": one recorder per user session, as the window search sees one desktop.
const wchar_t kInstanceMutex[] = L"Local\\QuillmarMicrophoneRecordKit.Instance";

}  // namespace

bool WakeRunningInstance() {
    HWND window = FindWindowW(kMainWindowClass, nullptr);
    if (window == nullptr)
        return false;
    PostMessageW(window, kComeToFrontMessage, 0, 0);
    return true;
}

InstanceClaim::InstanceClaim() {
    mutex_ = CreateMutexW(nullptr, FALSE, kInstanceMutex);
    if (mutex_ == nullptr) {
        // Refused access means another process holds it; no kernel object at all: fall back
        // on the window search alone.
        claimed_ = GetLastError() != ERROR_ACCESS_DENIED;
        return;
    }
    // The mutex is never released by its owner before exit; a wait that succeeds at once
    // (or finds it abandoned by a crashed owner) makes this process the instance.
    const DWORD waited = WaitForSingleObject(mutex_, 0);
    claimed_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

InstanceClaim::~InstanceClaim() {
    if (mutex_ == nullptr)
        return;
    if (claimed_)
        ReleaseMutex(mutex_);
    CloseHandle(mutex_);
}

bool InstanceClaim::WaitForWindowOrClaim(DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        if (WakeRunningInstance())
            return false;
        // The holder may be an instance whose window is gone while it finishes a recording:
        // once it exits, this start is the one the user made, not a lost one.
        const DWORD waited = mutex_ != nullptr ? WaitForSingleObject(mutex_, 50) : WAIT_TIMEOUT;
        if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
            claimed_ = true;
            return true;
        }
        if (mutex_ == nullptr)
            Sleep(50);
    }
    return false;
}

bool RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    if (!GetClassInfoExW(instance, L"#32770", &wc))
        return false;
    wc.hInstance = instance;
    wc.lpszClassName = kMainWindowClass;
    return RegisterClassExW(&wc) != 0;
}

}  // namespace qm::app
