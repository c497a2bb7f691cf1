// CategoryStrip: the row of category icons (24 x 24) with their names. A click on a cell posts
// kShowCategoryMessage (new position, old position) to the parent. The effect panel lays it out
// with no width, so the user never sees or clicks it; it keeps the positions the panel switches by.
// GUI thread only.
#pragma once

#include <string>
#include <vector>

#include "platform/win/window_messages.h"
#include "winbase/win/handles.h"
#include "winbase/win/window.h"

namespace qm::ui {

constexpr int kCategoryStripId = 894;

class CategoryStrip : public win::Window {
  public:
    ~CategoryStrip() override;
    bool Create(HWND parent, int id, int iconSize);
    // Loads the icon file at the strip's icon size and appends it with the name; false, and
    // nothing added, when the icon cannot be loaded.
    bool AddCategory(const std::string& iconPath, const std::wstring& name);
    int Count() const { return static_cast<int>(names_.size()); }
    int Current() const { return current_; }
    void SetCurrent(int position) { current_ = position; }

  protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    win::ImageList icons_;
    std::vector<std::wstring> names_;
    int iconSize_ = 24;
    int current_ = 0;
};

}  // namespace qm::ui
