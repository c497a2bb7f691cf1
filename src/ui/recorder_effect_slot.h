// The place of the effect panel (control 5555) in the recorder window: what the window needs
// of it, and nothing more. The panel lists the catalogue's categories and entries and posts
// WM_USER+102 when an entry is selected or deselected; the window then asks it for the
// entry's content file, whose [Content] IID names the effect.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

namespace qm::ui {

inline constexpr UINT kEffectPanelId = 5555;
inline constexpr UINT kShowCategoryMessage = WM_USER + 101;

class RecorderEffectPanel {
  public:
    virtual ~RecorderEffectPanel() = default;
    // Creates the panel as a child of `parent` with control id kEffectPanelId and fills it
    // from the category files under the program's "Effects\" folder.
    virtual bool Create(HWND parent) = 0;
    virtual HWND Handle() const = 0;
    // The content file of entry `index` of the category shown now; false when there is no
    // such entry.
    virtual bool ContentFileOf(int32_t index, std::string& path) const = 0;
};

// The panel this build offers, or none: the window then has an empty effect area and no
// effect can be chosen.
std::unique_ptr<RecorderEffectPanel> MakeRecorderEffectPanel();

}  // namespace qm::ui
