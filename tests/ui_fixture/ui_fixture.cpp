#include "ui_fixture.h"

#include <filesystem>

namespace qm::test {
namespace {

// The posted message being dispatched by Pump: what reaches a window procedure otherwise was
// sent (InSendMessage cannot tell within one thread).
const MSG* g_dispatching = nullptr;

}  // namespace

TestWindow::TestWindow(RECT r) {
    const std::wstring cls = win::RegisterAnonymousClass(
        0, LoadCursorA(nullptr, IDC_ARROW), static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
    // Never active: Wine waits two seconds for the X server whenever an active window goes away
    // on a display without a window manager. Clicks reach a window that is not active alike.
    Create(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, cls.c_str(), L"test", WS_POPUP | WS_CLIPCHILDREN, r,
           nullptr, 0);
    ShowWindow(hwnd_, SW_SHOWNOACTIVATE);
    UpdateWindow(hwnd_);
    Pump();
}

TestWindow::~TestWindow() {
    Destroy();
}

int TestWindow::Count(UINT message, WPARAM wParam) const {
    int n = 0;
    for (const Received& r : received)
        if (r.message == message && (wParam == static_cast<WPARAM>(-1) || r.wParam == wParam))
            ++n;
    return n;
}

LRESULT TestWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (LRESULT result = 0; intercept && intercept(message, wParam, lParam, result))
        return result;
    if (message >= WM_USER || message == WM_COMMAND)
        received.push_back(
            {message, wParam, lParam,
             !(g_dispatching && g_dispatching->hwnd == hwnd_ && g_dispatching->message == message &&
               g_dispatching->wParam == wParam && g_dispatching->lParam == lParam)});
    if (message == WM_GETFONT)
        return reinterpret_cast<LRESULT>(font);
    if (message >= WM_USER)
        return 0;
    return Window::HandleMessage(message, wParam, lParam);
}

void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        const MSG* outer = g_dispatching;
        g_dispatching = &msg;
        DispatchMessageW(&msg);
        g_dispatching = outer;
    }
}

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        Pump();
        if (done())
            return true;
        if (GetTickCount() - start > timeoutMs)
            return false;
        // Wake on the next message, or re-check soon for conditions no message announces
        // (the pointer's position, a window's visibility).
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

namespace {

POINT ToScreen(HWND window, POINT client) {
    ClientToScreen(window, &client);
    return client;
}

bool SendPointer(POINT screen, DWORD buttonFlags) {
    const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    INPUT in{};
    in.type = INPUT_MOUSE;
    // Absolute coordinates are 0-65535 across the screen; aim at the pixel's centre.
    in.mi.dx = static_cast<LONG>((screen.x * 65536LL + 32768) / w);
    in.mi.dy = static_cast<LONG>((screen.y * 65536LL + 32768) / h);
    in.mi.dwFlags = MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE | buttonFlags;
    if (SendInput(1, &in, sizeof(in)) != 1)
        return false;
    return WaitUntil([screen] {
        POINT p{};
        GetCursorPos(&p);
        return p.x == screen.x && p.y == screen.y;
    });
}

}  // namespace

bool MoveTo(HWND window, POINT client) {
    return SendPointer(ToScreen(window, client), 0);
}

bool Press(HWND window, POINT client) {
    return SendPointer(ToScreen(window, client), MOUSEEVENTF_LEFTDOWN) &&
           WaitUntil([] { return GetAsyncKeyState(VK_LBUTTON) < 0; });
}

bool Release(HWND window, POINT client) {
    return SendPointer(ToScreen(window, client), MOUSEEVENTF_LEFTUP) &&
           WaitUntil([] { return GetAsyncKeyState(VK_LBUTTON) >= 0; });
}

bool Click(HWND window, POINT client) {
    return Press(window, client) && Release(window, client);
}

COLORREF PixelAt(HWND window, POINT client) {
    UpdateWindow(window);
    Pump();
    HDC dc = GetDC(window);
    const COLORREF c = GetPixel(dc, client.x, client.y);
    ReleaseDC(window, dc);
    return c;
}

DWORD GdiObjectCount() {
    if (DWORD n = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS))
        return n;
    // Wine accepts a GDI handle given by its slot number alone, so every slot can be asked.
    DWORD n = 0;
    for (UINT_PTR slot = 1; slot < 0x10000; ++slot)
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(slot)))
            ++n;
    return n;
}

std::wstring TempFolder(const wchar_t* name) {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    std::wstring folder = std::wstring(base) + L"quillmar-" + name + L"-" +
                          std::to_wstring(GetCurrentProcessId()) + L"\\";
    // Process ids repeat from run to run under Wine: start from an empty folder.
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    std::filesystem::create_directories(folder, ignored);
    return folder;
}

std::wstring ExeFolder() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path, n);
    return p.substr(0, p.find_last_of(L'\\') + 1);
}

}  // namespace qm::test
