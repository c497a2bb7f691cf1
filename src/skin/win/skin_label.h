// SkinLabel: a static control that shows one line of text over a borrowed background brush.
// ForwardingPane: an empty themed child window that hands every message it pre-translates,
// and its mouse-leave notifications, to a target window chosen by its owner.
// Neither owns the brush, the font or the target. GUI thread only.
#pragma once

#include <string>

#include "winbase/win/window.h"

namespace qm::skin {

class SkinLabel : public win::Window {
  public:
    ~SkinLabel() override;
    bool Create(HWND parent, UINT id, const RECT& rect);
    // The next paint shows them; a null font means the parent's font.
    void SetText(const std::string& text, int leftOffset, COLORREF colour, HFONT font);
    void SetBackground(HBRUSH brush) { background_ = brush; }

  protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    std::string text_;
    int leftOffset_ = 0;
    COLORREF colour_ = 0;
    HFONT font_ = nullptr;
    HBRUSH background_ = nullptr;
};

class ForwardingPane : public win::Window {
  public:
    ~ForwardingPane() override;
    bool Create(HWND parent, UINT id);
    // The target is held by its handle: it may be destroyed first, and then nothing is
    // forwarded.
    void SetTarget(HWND target) { target_ = target; }
    bool PreTranslateMessage(MSG& msg) override;

  protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    bool HasTarget() const { return target_ && IsWindow(target_); }
    HWND target_ = nullptr;
};

}  // namespace qm::skin
