// GetUpdate.exe: the recorder's companion program.
//
//   GetUpdate.exe -ABOUT   a small About window with the product name and version
//   GetUpdate.exe -R | -P  (and anything else) says that the service is not available here
//
// It reads no files and makes no connection. The window closes on OK, Escape, its close box
// or by itself after a while, so a started copy can never be left hanging; it always exits 0.
// QUILLMAR_GETUPDATE_CLOSE_MS shortens the self-closing delay for tests.
#include <windows.h>

#include <shellapi.h>

#include <cstdlib>
#include <cwchar>
#include <string>

#include "quillmar_version.h"

namespace {

constexpr UINT_PTR kCloseTimer = 1;
constexpr UINT kDefaultCloseMs = 60000;
constexpr int kOkId = IDOK;
constexpr int kWidth = 320;
constexpr int kHeight = 140;

const wchar_t kAboutTitle[] = L"About Quillmar Recorder";
const wchar_t kAboutText[] = L"Quillmar Recorder\r\nVersion " QUILLMAR_SHORT_VERSION;
const wchar_t kServiceTitle[] = L"Quillmar Recorder";
const wchar_t kServiceText[] =
    L"This service is not available here.\r\nQuillmar Recorder needs no registration.";

UINT CloseDelayMs() {
    const char* text = std::getenv("QUILLMAR_GETUPDATE_CLOSE_MS");
    if (text == nullptr)
        return kDefaultCloseMs;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (end == text || *end != '\0' || value == 0 || value > kDefaultCloseMs)
        return kDefaultCloseMs;
    return static_cast<UINT>(value);
}

// True when the command line asks for the About window: its first argument is "-ABOUT" in any
// case.
bool WantsAbout(const wchar_t* commandLine) {
    int count = 0;
    wchar_t** args = CommandLineToArgvW(commandLine, &count);
    if (args == nullptr)
        return false;
    const bool about = count >= 2 && _wcsicmp(args[1], L"-ABOUT") == 0;
    LocalFree(args);
    return about;
}

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (LOWORD(wParam) == kOkId || LOWORD(wParam) == IDCANCEL)
                DestroyWindow(window);
            return 0;
        case WM_TIMER:
            if (wParam == kCloseTimer)
                DestroyWindow(window);
            return 0;
        case WM_CLOSE:
            DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            KillTimer(window, kCloseTimer);
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

void ShowNotice(HINSTANCE instance, const wchar_t* title, const wchar_t* text) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &Procedure;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"QuillmarGetUpdate";
    if (!RegisterClassW(&wc))
        return;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - kWidth) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - kHeight) / 2;
    HWND window = CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_TOPMOST, wc.lpszClassName, title,
                                  WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, x, y, kWidth,
                                  kHeight, nullptr, nullptr, instance, nullptr);
    if (window == nullptr)
        return;
    RECT client{};
    GetClientRect(window, &client);
    HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    HWND label = CreateWindowExW(0, L"STATIC", text, WS_CHILD | WS_VISIBLE | SS_CENTER, 10, 14,
                                 client.right - 20, 40, window, nullptr, instance, nullptr);
    HWND ok =
        CreateWindowExW(0, L"BUTTON", L"OK", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
                        (client.right - 80) / 2, client.bottom - 36, 80, 26, window,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kOkId)), instance, nullptr);
    for (HWND child : {label, ok}) {
        if (child != nullptr)
            SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    SetTimer(window, kCloseTimer, CloseDelayMs(), nullptr);
    if (ok != nullptr)
        SetFocus(ok);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (IsDialogMessageW(window, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    if (WantsAbout(GetCommandLineW()))
        ShowNotice(instance, kAboutTitle, kAboutText);
    else
        ShowNotice(instance, kServiceTitle, kServiceText);
    return 0;
}
