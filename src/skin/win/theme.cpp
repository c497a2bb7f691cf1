#include "skin/win/theme.h"

namespace qm::skin {
namespace {

HWND g_mainWindow = nullptr;

}  // namespace

bool ThemeBrush::CreateFromBitmap(HBITMAP bitmap) {
    brush_.Reset(bitmap ? CreatePatternBrush(bitmap) : nullptr);
    return static_cast<bool>(brush_);
}

ThemeBrush& ThemeFrameBrush() {
    static ThemeBrush brush;
    return brush;
}

ThemeBrush& ThemeContentBrush() {
    static ThemeBrush brush;
    return brush;
}

void FillWithBrush(HDC dc, const RECT& rect, HBRUSH brush) {
    if (brush)
        FillRect(dc, &rect, brush);
}

void SetMainWindow(HWND window) {
    g_mainWindow = window;
}
HWND MainWindow() {
    return g_mainWindow;
}

HFONT MainWindowFont() {
    if (!g_mainWindow || !IsWindow(g_mainWindow))
        return nullptr;
    return reinterpret_cast<HFONT>(SendMessageW(g_mainWindow, WM_GETFONT, 0, 0));
}

}  // namespace qm::skin
