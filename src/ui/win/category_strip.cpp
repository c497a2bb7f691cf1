#include "ui/win/category_strip.h"

#include <windowsx.h>

#include "skin/win/theme.h"
#include "winbase/win/text.h"

namespace qm::ui {

CategoryStrip::~CategoryStrip() {
    Destroy();
}

bool CategoryStrip::Create(HWND parent, int id, int iconSize) {
    iconSize_ = iconSize;
    icons_.Reset(ImageList_Create(iconSize, iconSize, ILC_COLOR24 | ILC_MASK, 4, 4));
    const std::wstring cls =
        win::RegisterAnonymousClass(0, LoadCursorA(nullptr, IDC_ARROW), nullptr);
    return icons_ && !cls.empty() &&
           Window::Create(0, cls.c_str(), L"", WS_CHILD | WS_VISIBLE, RECT{0, 0, 1, 1}, parent,
                          static_cast<UINT_PTR>(id));
}

bool CategoryStrip::AddCategory(const std::string& iconPath, const std::wstring& name) {
    win::Icon icon(
        static_cast<HICON>(LoadImageW(nullptr, win::WidenUtf8(iconPath).c_str(), IMAGE_ICON,
                                      iconSize_, iconSize_, LR_LOADFROMFILE)));
    if (!icon || ImageList_AddIcon(icons_.Get(), icon.Get()) < 0)
        return false;
    names_.push_back(name);
    if (hwnd_)
        InvalidateRect(hwnd_, nullptr, TRUE);
    return true;
}

LRESULT CategoryStrip::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    // Cells: the icon plus 16 wide and plus 12 high, in one column.
    const int cellWidth = iconSize_ + 16, cellHeight = iconSize_ + 12;
    switch (message) {
        case WM_PAINT: {
            win::PaintDC dc(hwnd_);
            RECT client{};
            GetClientRect(hwnd_, &client);
            skin::FillWithBrush(dc.Get(), client, skin::ThemeFrameBrush().Get());
            for (int k = 0; k < Count(); ++k)
                ImageList_Draw(icons_.Get(), k, dc.Get(), 8, k * cellHeight + 6, ILD_TRANSPARENT);
            return 0;
        }
        case WM_LBUTTONUP: {
            const int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
            const int position = y / cellHeight;
            if (x >= 0 && x < cellWidth && y >= 0 && position < Count()) {
                PostMessageW(GetParent(hwnd_), kShowCategoryMessage, static_cast<WPARAM>(position),
                             static_cast<LPARAM>(current_));
            }
            return 0;
        }
        default:
            break;
    }
    return Window::HandleMessage(message, wParam, lParam);
}

}  // namespace qm::ui
