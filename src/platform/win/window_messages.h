// The program's own window messages and command ids, each under the one name its sender and
// its receiver both use. Windows post these to each other on the user-interface thread; a
// message's parameters are described beside it.
#pragma once

#include <windows.h>

namespace qm {

// Category strip -> effect panel: wParam the new strip position, lParam the old one. The
// recorder posts it once with (0, 0) to show the first category.
inline constexpr UINT kShowCategoryMessage = WM_USER + 101;
// Entry list -> its category panel and on to the recorder: wParam the entry that left the
// selection (catalogue::kNoneRemoved, or catalogue::kDeselected when the clicked entry was
// deselected), lParam the clicked entry.
inline constexpr UINT kEntryToggledMessage = WM_USER + 102;
// Button bar -> its parent: wParam the button id; lParam kTimeLimitStop when the recorder
// posts its own four-hour stop, 0 otherwise.
inline constexpr UINT kButtonActivatedMessage = WM_USER + 103;
// A second start of the program -> the running window: come to the front (wParam, lParam 0).
inline constexpr UINT kComeToFrontMessage = WM_USER + 104;
// Capture recorder -> its notify window at the end of every Stop (wParam, lParam 0).
inline constexpr UINT kRecordingStoppedMessage = WM_USER + 106;
// Entry list -> itself, acted on by its category panel: wParam 0 next page, 1 previous.
inline constexpr UINT kPageRequestMessage = WM_USER + 107;
// Content browser -> the recorder: open one of the program's folders, wParam an OpenFolder.
inline constexpr UINT kOpenFolderMessage = WM_USER + 108;
// Button bar -> its parent: wParam the toggle that became the selected one of its group.
inline constexpr UINT kToggleSelectedMessage = WM_USER + 109;
// Category panel -> itself: wParam the position of the device chosen from its menu.
inline constexpr UINT kDeviceChosenMessage = WM_USER + 111;

// kButtonActivatedMessage's lParam on the stop the recorder posts itself at the time limit, so
// that it can never start a recording when a click has stopped it first.
inline constexpr LPARAM kTimeLimitStop = 1;

// kOpenFolderMessage's requests.
enum class OpenFolder : WPARAM {
    kStoredRecording = 0,  // the recording folder the settings file names
    kRecording = 1,        // the recording folder in use
    kSharedEffects = 2,    // the shared effects folder beside the shared data file
};

// Button ids: the title bar, the menu button and the capture bar.
enum ButtonId : UINT {
    kCloseButton = 6301,
    kMinimizeButton = 6302,
    kHelpButton = 6303,
    kMenuButton = 6311,
    kDeviceButton = 6332,
    kRecordButton = 6501,
    kTimeDisplay = 6508,
};

// WM_COMMAND ids of the menus.
enum CommandId : UINT {
    kRegisterCommand = 7004,
    kPurchaseCommand = 7005,
    kAboutCommand = 7006,
    kUpgradeCommand = 7016,
    kFirstDeviceCommand = 7030,  // the device menu: one id per device position
    kLastDeviceCommand = 7040,
};

// WM_SYSCOMMAND id of the About entry in the window's system menu.
inline constexpr UINT kAboutSystemCommand = 16;

}  // namespace qm
