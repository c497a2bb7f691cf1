#include "skin/win/skin_label.h"

#include "skin/win/bar_tooltip.h"
#include "skin/win/icon_button_bar.h"
#include "skin/win/theme.h"
#include "winbase/win/handles.h"

namespace qm::skin {

SkinLabel::~SkinLabel() {
    Destroy();
}

bool SkinLabel::Create(HWND parent, UINT id, const RECT& rect) {
    HWND hwnd = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_NOTIFY, rect.left,
                                rect.top, rect.right - rect.left, rect.bottom - rect.top, parent,
                                reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)),
                                GetModuleHandleW(nullptr), nullptr);
    if (!hwnd)
        return false;
    if (!Subclass(hwnd)) {
        DestroyWindow(hwnd);
        return false;
    }
    return true;
}

void SkinLabel::SetText(const std::string& text, int leftOffset, COLORREF colour, HFONT font) {
    text_ = text;
    leftOffset_ = leftOffset;
    colour_ = colour;
    font_ = font;
}

LRESULT SkinLabel::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_ERASEBKGND: {
            RECT client;
            GetClientRect(hwnd_, &client);
            FillWithBrush(reinterpret_cast<HDC>(wParam), client, background_);
            return 1;
        }
        case WM_PAINT: {
            win::PaintDC dc(hwnd_);
            if (text_.empty())
                return 0;
            RECT r;
            GetClientRect(hwnd_, &r);
            r.left = leftOffset_;
            HFONT font =
                font_ ? font_
                      : reinterpret_cast<HFONT>(SendMessageW(GetParent(hwnd_), WM_GETFONT, 0, 0));
            win::Selection selected(dc.Get(), font);
            SetTextColor(dc.Get(), colour_);
            SetBkMode(dc.Get(), TRANSPARENT);
            DrawTextA(dc.Get(), text_.c_str(), static_cast<int>(text_.size()), &r,
                      DT_LEFT | DT_VCENTER | DT_SINGLELINE);
            return 0;
        }
        case WM_COMMAND:
            SendMessageW(GetParent(hwnd_), WM_COMMAND, wParam, lParam);
            break;
        default:
            break;
    }
    return Window::HandleMessage(message, wParam, lParam);
}

ForwardingPane::~ForwardingPane() {
    Destroy();
}

bool ForwardingPane::Create(HWND parent, UINT id) {
    const std::wstring cls =
        win::RegisterAnonymousClass(CS_DBLCLKS, LoadCursorA(nullptr, IDC_ARROW), nullptr);
    if (cls.empty())
        return false;
    return Window::Create(0, cls.c_str(), L"", WS_CHILD | WS_VISIBLE, RECT{0, 0, 1, 1}, parent, id);
}

bool ForwardingPane::PreTranslateMessage(MSG& msg) {
    if (HasTarget())
        SendMessageW(target_, msg.message, msg.wParam, msg.lParam);
    return Window::PreTranslateMessage(msg);
}

LRESULT ForwardingPane::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_ERASEBKGND: {
            RECT client;
            GetClientRect(hwnd_, &client);
            FillWithBrush(reinterpret_cast<HDC>(wParam), client, ThemeContentBrush().Get());
            return 1;
        }
        case WM_LBUTTONDOWN:
            SetFocus(hwnd_);
            break;
        case WM_MOUSEMOVE:
            RequestHoverAndLeave(hwnd_, kBarHoverMs);
            break;
        case WM_MOUSELEAVE:
            if (HasTarget())
                SendMessageW(target_, WM_MOUSELEAVE, 0, 0);
            break;
        default:
            break;
    }
    return Window::HandleMessage(message, wParam, lParam);
}

}  // namespace qm::skin
