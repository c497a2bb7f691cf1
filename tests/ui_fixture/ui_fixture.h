// Click and look: the fixture every window test of the Windows build stands on.
//
// A TestWindow is a plain top-level window at a fixed place on the (Xvfb) screen that records
// every message from WM_USER up, and WM_COMMAND, that reaches it, with whether it was sent or
// posted. Input is real: SendInput moves the pointer and presses its button, so the controls
// see exactly the messages a user would give them. Nothing sleeps to synchronise: WaitUntil
// pumps messages until a condition holds or the timeout passes (the caller then fails).
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "winbase/win/window.h"

namespace qm::test {

struct Received {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool sent;
};

class TestWindow : public win::Window {
  public:
    explicit TestWindow(RECT screenRect = {100, 100, 500, 300});
    ~TestWindow() override;

    std::vector<Received> received;
    // Count of received messages with this number (and wParam, unless -1).
    int Count(UINT message, WPARAM wParam = static_cast<WPARAM>(-1)) const;
    HFONT font = nullptr;  // what WM_GETFONT answers
    // Sees every message first; returns true when it handled it (result in the last argument).
    std::function<bool(UINT, WPARAM, LPARAM, LRESULT&)> intercept;

  protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
};

// Dispatches every pending message of the thread.
void Pump();
// Pumps until `done` holds; false after timeoutMs.
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000);

// Real pointer input at a point in a window's client coordinates; each returns once the
// pointer is there (or false after a timeout).
bool MoveTo(HWND window, POINT client);
bool Press(HWND window, POINT client);
bool Release(HWND window, POINT client);
bool Click(HWND window, POINT client);

// The colour on screen at a point of a window's client area, after pending paints ran.
COLORREF PixelAt(HWND window, POINT client);

// Live GDI objects of the process: GetGuiResources, or where that answers 0 (Wine 8), the
// number of GDI handle slots that name a live object.
DWORD GdiObjectCount();

// A fresh folder for one test's files.
std::wstring TempFolder(const wchar_t* name);
// The folder of the running executable, with a trailing backslash.
std::wstring ExeFolder();
// The generated test pictures of one test folder ("skin"), with a trailing backslash.
inline std::wstring TestData(const wchar_t* folder) {
    return ExeFolder() + L"testdata\\" + folder + L"\\";
}

}  // namespace qm::test
