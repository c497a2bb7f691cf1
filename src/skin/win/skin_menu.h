// CSkinMenu: a popup menu whose items the program draws itself in the theme (frame pattern
// behind, a 28-pixel content strip on the left, light text). MenuWindowHook: the per-thread
// hook that strips the border and non-client painting from every popup-menu window ("#32768")
// of the thread, ours and the system's alike.
//
// The menu owns its menu handle and destroys it with itself. Item data is a pointer to the
// item's narrow text, owned by the caller, which must outlive the display. The window that
// owns the display passes WM_MEASUREITEM and WM_DRAWITEM of menus to RouteOwnerDraw.
// GUI thread only.
#pragma once

#include <array>

#include "skin/skin_rules.h"
#include "winbase/win/handles.h"

namespace qm::skin {

class CSkinMenu {
  public:
    enum ColourSlot { kCheckBase, kCheckBlend, kUnused1, kUnused2, kItemFrame, kSelectedText };

    CSkinMenu() = default;
    CSkinMenu(const CSkinMenu&) = delete;
    CSkinMenu& operator=(const CSkinMenu&) = delete;
    ~CSkinMenu();

    bool CreatePopup();
    HMENU Handle() const { return menu_.Get(); }
    // An owner-drawn item whose data is the text pointer.
    bool AppendItem(UINT id, const char* text, UINT flags = 0);
    void SetColours(const std::array<COLORREF, 6>& colours) { colours_ = colours; }

    // TrackPopupMenu with this menu routed for measuring and drawing; returns its result.
    BOOL Track(HWND owner, POINT screen, UINT flags = TPM_LEFTALIGN | TPM_RIGHTBUTTON);

    void MeasureItem(MEASUREITEMSTRUCT& measure) const;
    void DrawItem(const DRAWITEMSTRUCT& draw) const;

    // For a window procedure: handles WM_MEASUREITEM / WM_DRAWITEM of the menu being shown.
    static bool RouteOwnerDraw(UINT message, LPARAM lParam);

  private:
    win::Menu menu_;
    std::array<COLORREF, 6> colours_{};
};

class MenuWindowHook {
  public:
    // Replaces any earlier hook of this object with a call-window-procedure hook on the
    // calling thread.
    static bool Install();
    static void Uninstall();
};

}  // namespace qm::skin
