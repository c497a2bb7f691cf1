// BarTooltip: the small pop-up that shows a button's tooltip text, measured and drawn with the
// font of the window it was created for (the bar's parent). Owns its window. GUI thread only.
#pragma once

#include <string>

#include "winbase/win/window.h"

namespace qm::skin {

class BarTooltip : public win::Window {
  public:
    ~BarTooltip() override;
    bool Create(HWND fontWindow);
    // Shows the text with its top-left corner at the screen point; an empty text hides it.
    void Show(const std::wstring& text, POINT screen);
    void Hide();

  protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    HFONT Font() const;

    HWND fontWindow_ = nullptr;
    std::wstring text_;
};

// Asks Windows for one hover notice (after `hoverMs`) and one leave notice for `hwnd`; each
// request yields one of each, so a window asks again on every mouse move.
void RequestHoverAndLeave(HWND hwnd, DWORD hoverMs);

// What a window with hover tooltips does on every mouse move: over one of its items it holds the
// capture so it sees the pointer leave, elsewhere it lets go and hides the tip; either way it asks
// again for the hover and leave notices.
void TrackPointer(HWND hwnd, bool overItem, BarTooltip& tooltip, DWORD hoverMs);

}  // namespace qm::skin
