// EffectEntryList: one row of effect entries of a category, each an 80 x 60 picture with its
// caption as tooltip, five to a page. A double click selects or deselects an entry under the
// category's MaxUse rule and posts kEntryToggledMessage (wParam: the entry that left the selection,
// -1 or -2; lParam: the entry) to the parent; the wheel posts kPageRequestMessage (0 next, 1
// previous) to the list itself, which the category panel acts on. GUI thread only.
#pragma once

#include <array>
#include <string>

#include "platform/win/window_messages.h"
#include "skin/win/bar_tooltip.h"
#include "ui/catalogue_rules.h"
#include "winbase/win/handles.h"
#include "winbase/win/window.h"

namespace qm::ui {

constexpr int kEntryListId = 202;
// The icon resource of the mark drawn over a selected entry's picture.
constexpr int kSelectedMarkIcon = 134;

class EffectEntryList : public win::Window {
  public:
    ~EffectEntryList() override;

    bool Create(HWND parent, int id);
    // Loads the category file's entries (scroll position 0, nothing selected) and the pictures
    // of the first page; false when the category has nothing to load.
    bool LoadCategory(const std::string& categoryPath);
    // Pages by two (0 next, 1 previous) and reloads the visible pictures; false at the ends.
    bool Page(int command);
    bool EntryAt(int32_t index, catalogue::EffectCatalogItem& item) const;
    const catalogue::EffectCatalogue& Catalogue() const { return catalogue_; }
    int HotIndex() const { return hot_; }

  protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    void ReloadVisible();
    void DrawEntry(HDC dc, int32_t index) const;
    void RedrawEntry(int32_t index);
    int32_t HitTest(POINT point) const;
    void OnDoubleClick(POINT point);
    void OnMouseMove(POINT point);
    void OnHover(POINT point);

    catalogue::EffectCatalogue catalogue_;
    win::ImageList pictures_;
    win::ImageList mark_;
    std::array<bool, catalogue::kPageEntries> hasPicture_{};
    std::array<std::wstring, catalogue::kPageEntries> captions_;
    int32_t hot_ = -1;
    int32_t pressed_ = -1;
    int32_t hover_ = -1;
    skin::BarTooltip tooltip_;
};

}  // namespace qm::ui
