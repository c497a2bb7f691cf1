// IconButtonBar: a borderless child window holding a row of buttons, each drawn from four
// icon faces (normal, hot, pressed, disabled) at its own rectangle, with an optional centred
// caption and, for toggles, a sunken or raised frame. Activations reach the parent only as
// posted messages:
//   kButtonActivatedMessage, wParam = id: a button was activated;
//   kToggleSelectedMessage, wParam = id: a toggle became the selected one of its group.
// The bar owns its buttons' image lists and its tooltip; it borrows ThemeFrameBrush for its
// background. GUI thread only.
#pragma once

#include <string>
#include <vector>

#include "platform/win/window_messages.h"
#include "skin/skin_rules.h"
#include "skin/win/bar_tooltip.h"
#include "winbase/win/handles.h"
#include "winbase/win/window.h"

namespace qm::skin {

constexpr UINT kBarHoverMs = 150;

class IconButtonBar : public win::Window {
  public:
    ~IconButtonBar() override;

    // Creates the bar at (0, 0, 1, 1) with the next control id (6000, 6001, ...) and its
    // tooltip; the owner positions it.
    bool Create(HWND parent);
    // Loads the faces at the rectangle's size; an absent or unloadable face is replaced by the
    // normal one. False, and nothing added, when the normal face cannot be loaded.
    bool AddButton(UINT id, const std::wstring& tooltip, const RECT& rect,
                   const std::wstring& normal, const std::wstring& hot = {},
                   const std::wstring& pressed = {}, const std::wstring& disabled = {});
    void EnableButton(UINT id, bool enable);
    void SetCaption(UINT id, const std::string& caption, COLORREF colour);
    // Change the first button with the id; nothing redraws until the bar is invalidated.
    void SetButtonKind(UINT id, int kind);
    void SetButtonState(UINT id, int state);

    int ControlId() const { return controlId_; }
    HWND TooltipWindow() const { return tooltip_.Handle(); }
    int ButtonState(std::size_t index) const;

  protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    struct Button {
        UINT id = 0;
        int state = kNormal;
        RECT rect{};
        win::ImageList faces;
        std::wstring tooltip;
        int kind = kPushButton;
        std::string caption;
        COLORREF captionColour = 0;
    };

    int HitTestAt(POINT client) const;
    Button* Find(UINT id);
    bool Enabled(int index) const;
    void DrawButton(HDC dc, const Button& button, int face) const;
    void Redraw(int index, int face);
    void Activate(int index);
    void OnMouseMove(POINT point);
    void OnHover(POINT point);
    void OnLeave();

    std::vector<Button> buttons_;
    int current_ = -1;
    int hot_ = -1;
    int pressed_ = -1;
    int controlId_ = 0;
    BarTooltip tooltip_;
};

}  // namespace qm::skin
