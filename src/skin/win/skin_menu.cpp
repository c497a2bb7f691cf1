#include "skin/win/skin_menu.h"

#include <cstring>

#include "skin/win/theme.h"

namespace qm::skin {
namespace {

const CSkinMenu* g_shown = nullptr;  // the menu inside Track, for owner-draw routing

RECT ToRECT(const Rect& r) {
    return {r.left, r.top, r.right, r.bottom};
}

void FrameWith(HDC dc, const RECT& r, COLORREF colour) {
    win::Brush brush(CreateSolidBrush(colour));
    FrameRect(dc, &r, brush.Get());
}

void FillWith(HDC dc, const RECT& r, COLORREF colour) {
    win::Brush brush(CreateSolidBrush(colour));
    FillRect(dc, &r, brush.Get());
}

}  // namespace

CSkinMenu::~CSkinMenu() {
    if (g_shown == this)
        g_shown = nullptr;
}

bool CSkinMenu::CreatePopup() {
    menu_.Reset(CreatePopupMenu());
    return static_cast<bool>(menu_);
}

bool CSkinMenu::AppendItem(UINT id, const char* text, UINT flags) {
    return menu_ && AppendMenuA(menu_.Get(), MF_OWNERDRAW | flags, id, text) != 0;
}

BOOL CSkinMenu::Track(HWND owner, POINT screen, UINT flags) {
    if (!menu_)
        return FALSE;
    const CSkinMenu* outer = g_shown;
    g_shown = this;
    const BOOL result = TrackPopupMenu(menu_.Get(), flags, screen.x, screen.y, 0, owner, nullptr);
    g_shown = outer;
    return result;
}

void CSkinMenu::MeasureItem(MEASUREITEMSTRUCT& m) const {
    int textWidth = 0;
    if (m.itemID != 1) {
        // Measured in a plain context of the main window: its default font, not the window's.
        win::WindowDC dc(MainWindow());
        const char* text = reinterpret_cast<const char*>(m.itemData);
        SIZE extent{};
        if (dc && text && *text) {
            GetTextExtentPoint32A(dc.Get(), text, static_cast<int>(std::strlen(text)), &extent);
        }
        textWidth = extent.cx;
    }
    const Size size = MeasureMenuItem(m.itemID, textWidth);
    if (m.itemID != 1)
        m.itemWidth = static_cast<UINT>(size.width);
    m.itemHeight = static_cast<UINT>(size.height);
}

void CSkinMenu::DrawItem(const DRAWITEMSTRUCT& d) const {
    if (d.itemID == 1)
        return;
    HDC dc = d.hDC;
    RECT r =
        ToRECT(GrowMenuItemRect({d.rcItem.left, d.rcItem.top, d.rcItem.right, d.rcItem.bottom}));
    FillWithBrush(dc, r, ThemeFrameBrush().Get());
    const RECT strip{r.left, r.top, r.left + kMenuStripWidth, r.bottom};
    FillWithBrush(dc, strip, ThemeContentBrush().Get());
    SetBkMode(dc, TRANSPARENT);

    const bool selected = (d.itemState & ODS_SELECTED) != 0;
    if (selected && (d.itemAction & (ODA_DRAWENTIRE | ODA_SELECT))) {
        RECT f{r.left + 1 + kMenuStripWidth, r.top + 1, r.right - 1, r.bottom - 1};
        FrameWith(dc, f, colours_[kItemFrame]);
        InflateRect(&f, -1, -1);
        FillWith(dc, f, colours_[kCheckBlend]);
    }
    if (d.itemState & ODS_CHECKED) {
        const Colour base = colours_[kCheckBase];
        const Colour blend = colours_[kCheckBlend];
        const Colour mark = selected ? ColourBlend(blend, ColourBlend(blend, base, 140), 140)
                                     : ColourBlend(blend, base, 140);
        RECT box = strip;
        InflateRect(&box, -3, -3);
        FrameWith(dc, box, colours_[kItemFrame]);
        InflateRect(&box, -1, -1);
        FillWith(dc, box, mark);
        SetTextColor(dc, RGB(0, 0, 0));
        const char cross = static_cast<char>(0xD7);
        DrawTextA(dc, &cross, 1, &box, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_EXPANDTABS);
    }
    SetTextColor(dc, selected ? colours_[kSelectedText] : RGB(250, 250, 250));
    const char* text = reinterpret_cast<const char*>(d.itemData);
    if (text && *text) {
        win::Selection font(dc, MainWindowFont());
        RECT t{31, r.top, r.right, r.bottom};
        DrawTextA(dc, text, -1, &t, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
    }
}

bool CSkinMenu::RouteOwnerDraw(UINT message, LPARAM lParam) {
    if (!g_shown)
        return false;
    if (message == WM_MEASUREITEM) {
        auto* m = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        if (m->CtlType != ODT_MENU)
            return false;
        g_shown->MeasureItem(*m);
        return true;
    }
    if (message == WM_DRAWITEM) {
        auto* d = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        if (d->CtlType != ODT_MENU)
            return false;
        g_shown->DrawItem(*d);
        return true;
    }
    return false;
}

// --- the hook --------------------------------------------------------------------------------

namespace {

win::Hook g_hook;
// All popup-menu windows share one class and therefore one previous procedure.
WNDPROC g_menuProcedure = nullptr;

LRESULT CALLBACK MenuWindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    const WNDPROC saved = g_menuProcedure;
    if (!saved)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    switch (message) {
        case WM_CREATE: {
            const LRESULT result = CallWindowProcW(saved, hwnd, message, wParam, lParam);
            SetWindowLongPtrW(hwnd, GWL_STYLE, GetWindowLongPtrW(hwnd, GWL_STYLE) & ~WS_BORDER);
            SetWindowLongPtrW(hwnd, GWL_EXSTYLE,
                              GetWindowLongPtrW(hwnd, GWL_EXSTYLE) &
                                  ~static_cast<LONG_PTR>(WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE));
            return result;
        }
        case WM_WINDOWPOSCHANGING: {
            auto* pos = reinterpret_cast<WINDOWPOS*>(lParam);
            if (pos && !(pos->flags & SWP_NOSIZE)) {
                const Size s = ShrinkMenuWindow({pos->cx, pos->cy}, GetSystemMetrics(SM_CXBORDER),
                                                GetSystemMetrics(SM_CYBORDER));
                pos->cx = s.width;
                pos->cy = s.height;
            }
            CallWindowProcW(saved, hwnd, message, wParam, lParam);
            return 0;
        }
        case WM_NCPAINT:
            return 1;
        case WM_PRINT:
            return CallWindowProcW(saved, hwnd, WM_PRINTCLIENT, wParam, lParam);
        default:
            return CallWindowProcW(saved, hwnd, message, wParam, lParam);
    }
}

LRESULT CALLBACK HookProcedure(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
        wchar_t name[8] = {};
        if (call->message == WM_CREATE && GetClassNameW(call->hwnd, name, 8) == 6 &&
            std::wcscmp(name, L"#32768") == 0) {
            const auto current =
                reinterpret_cast<WNDPROC>(GetWindowLongPtrW(call->hwnd, GWLP_WNDPROC));
            // Subclass once: a second time would save our own procedure as the previous one
            // and every message would recurse into it.
            if (current && current != &MenuWindowProcedure) {
                g_menuProcedure = current;
                SetWindowLongPtrW(call->hwnd, GWLP_WNDPROC,
                                  reinterpret_cast<LONG_PTR>(&MenuWindowProcedure));
            }
        }
    }
    return CallNextHookEx(g_hook.Get(), code, wParam, lParam);
}

}  // namespace

bool MenuWindowHook::Install() {
    g_hook.Reset();
    g_hook.Reset(SetWindowsHookExW(WH_CALLWNDPROC, &HookProcedure, nullptr, GetCurrentThreadId()));
    return static_cast<bool>(g_hook);
}

void MenuWindowHook::Uninstall() {
    g_hook.Reset();
}

}  // namespace qm::skin
