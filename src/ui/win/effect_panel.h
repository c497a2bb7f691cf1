// EffectPanel (control id 5555): the main window's area for picking voice effects. It keeps the
// admitted categories in the CategoryStrip and, by category number, one EffectCategoryPanel
// each, created the first time it is shown. kShowCategoryMessage (new, old strip position) switches
// the shown category; hits on its own background fall through to the main window. GUI thread only.
#pragma once

#include <map>
#include <memory>

#include "ui/catalogue_rules.h"
#include "ui/win/category_strip.h"
#include "ui/win/effect_category_panel.h"
#include "winbase/win/window.h"

namespace qm::ui {

constexpr int kEffectPanelId = 5555;
constexpr int kCategoryPanelWidth = 440;

class EffectPanel : public win::Window {
  public:
    explicit EffectPanel(DeviceNameSource devices) : devices_(devices) {}
    ~EffectPanel() override;

    bool Create(HWND parent, int id);
    // The category's icon goes into the strip (nothing added when it cannot be loaded) and its
    // record under its number; a second record of a number leaves the first in place.
    void AddCategory(const catalogue::CategoryRecord& record);
    // Admits the category files under the module folder's "Effects\" (a UTF-8 path, as every
    // catalogue path is: see win::WidenUtf8).
    void AddCatalogue(const std::string& effectsFolder);

    // The category number at a strip position, -1 past the end.
    int32_t KeyAt(int32_t position) const { return catalogue::KeyAtPosition(panels_, position); }
    // The panel of the strip's current category, or null.
    EffectCategoryPanel* CurrentPanel();
    EffectCategoryPanel* PanelOf(int32_t number);
    bool PreTranslateMessage(MSG& msg) override;

  protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    void ShowCategory(int32_t newPosition, int32_t oldPosition);

    DeviceNameSource devices_;
    CategoryStrip strip_;
    std::map<int32_t, std::unique_ptr<EffectCategoryPanel>> panels_;
};

}  // namespace qm::ui
