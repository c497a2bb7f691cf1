#include "skin/win/bar_tooltip.h"

#include "winbase/win/handles.h"

namespace qm::skin {

BarTooltip::~BarTooltip() {
    Destroy();
}

bool BarTooltip::Create(HWND fontWindow) {
    fontWindow_ = fontWindow;
    const std::wstring cls = win::RegisterAnonymousClass(
        CS_SAVEBITS, LoadCursorA(nullptr, IDC_ARROW), reinterpret_cast<HBRUSH>(COLOR_INFOBK + 1));
    if (cls.empty())
        return false;
    return Window::Create(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, cls.c_str(), L"", WS_POPUP | WS_BORDER,
                          RECT{0, 0, 1, 1}, nullptr, 0);
}

HFONT BarTooltip::Font() const {
    if (!fontWindow_ || !IsWindow(fontWindow_))
        return nullptr;
    return reinterpret_cast<HFONT>(SendMessageW(fontWindow_, WM_GETFONT, 0, 0));
}

void BarTooltip::Show(const std::wstring& text, POINT screen) {
    if (!hwnd_)
        return;
    if (text.empty()) {
        Hide();
        return;
    }
    text_ = text;
    SIZE extent{};
    {
        win::WindowDC dc(hwnd_);
        win::Selection font(dc.Get(), Font());
        GetTextExtentPoint32W(dc.Get(), text_.c_str(), static_cast<int>(text_.size()), &extent);
    }
    SetWindowPos(hwnd_, HWND_TOPMOST, screen.x, screen.y, extent.cx + 10, extent.cy + 10,
                 SWP_NOACTIVATE | SWP_SHOWWINDOW);
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void BarTooltip::Hide() {
    if (hwnd_ && IsWindowVisible(hwnd_))
        ShowWindow(hwnd_, SW_HIDE);
}

void RequestHoverAndLeave(HWND hwnd, DWORD hoverMs) {
    TRACKMOUSEEVENT track{};
    track.cbSize = sizeof(track);
    track.dwFlags = TME_HOVER | TME_LEAVE;
    track.hwndTrack = hwnd;
    track.dwHoverTime = hoverMs;
    TrackMouseEvent(&track);
}

void TrackPointer(HWND hwnd, bool overItem, BarTooltip& tooltip, DWORD hoverMs) {
    if (!overItem) {
        tooltip.Hide();
        if (GetCapture() == hwnd)
            ReleaseCapture();
    } else if (GetCapture() != hwnd) {
        SetCapture(hwnd);
    }
    RequestHoverAndLeave(hwnd, hoverMs);
}

LRESULT BarTooltip::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        win::PaintDC dc(hwnd_);
        RECT client;
        GetClientRect(hwnd_, &client);
        FillRect(dc.Get(), &client, GetSysColorBrush(COLOR_INFOBK));
        win::Selection font(dc.Get(), Font());
        SetBkMode(dc.Get(), TRANSPARENT);
        SetTextColor(dc.Get(), GetSysColor(COLOR_INFOTEXT));
        DrawTextW(dc.Get(), text_.c_str(), static_cast<int>(text_.size()), &client,
                  DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        return 0;
    }
    if (message == WM_MOUSEACTIVATE)
        return MA_NOACTIVATE;
    return Window::HandleMessage(message, wParam, lParam);
}

}  // namespace qm::skin
