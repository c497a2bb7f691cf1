#include "app/single_instance.h"

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
        claimed_ = true;  // no kernel object: fall back on the window search alone
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

void WakeInstanceBeingStarted(DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!WakeRunningInstance() && GetTickCount() - start < timeoutMs)
        Sleep(50);
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
