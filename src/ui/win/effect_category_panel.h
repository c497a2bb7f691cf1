// EffectCategoryPanel: one category's page, the device bar ("Select Device", button 6332) on
// top and the category's EffectEntryList below. It acts on what passes through its
// pre-translation and lets every message go on up to the dialog:
//   kButtonActivatedMessage kDeviceButton from the device bar: shows the device menu (ids
//   kFirstDeviceCommand ...);
//   WM_COMMAND kFirstDeviceCommand ... kLastDeviceCommand: posts kDeviceChosenMessage with the
//   device position to itself;
//   kDeviceChosenMessage: the device at that position names the button, when it still exists;
//   kPageRequestMessage from the entry list: pages the list.
// GUI thread only.
#pragma once

#include <string>
#include <vector>

#include "platform/win/window_messages.h"
#include "skin/win/icon_button_bar.h"
#include "ui/catalogue_rules.h"
#include "ui/win/effect_entry_list.h"
#include "winbase/win/window.h"

namespace qm::ui {

constexpr size_t kMenuDevices = 10;
constexpr COLORREF kDeviceCaptionColour = RGB(230, 230, 230);

// Where the panel's device names come from: the capture device list in the program, a fixed
// list in tests. Position k is device index k for the recorder too.
using DeviceNameSource = std::vector<std::wstring> (*)();

// A device name in the ANSI code page, cut to fit 260 bytes with its terminator.
std::string DeviceCaption(const std::wstring& name);

class EffectCategoryPanel : public win::Window {
  public:
    EffectCategoryPanel(catalogue::CategoryRecord record, DeviceNameSource devices);
    ~EffectCategoryPanel() override;

    bool Create(HWND parent, int id);
    bool PreTranslateMessage(MSG& msg) override;

    const catalogue::CategoryRecord& Record() const { return record_; }
    EffectEntryList& List() { return list_; }
    skin::IconButtonBar& DeviceBar() { return deviceBar_; }
    const std::string& DeviceCaptionText() const { return caption_; }

  protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    void ShowDeviceMenu();
    void ShowDevice(WPARAM position);
    void Layout();

    catalogue::CategoryRecord record_;
    DeviceNameSource devices_;
    skin::IconButtonBar deviceBar_;
    EffectEntryList list_;
    std::string caption_;
};

}  // namespace qm::ui
