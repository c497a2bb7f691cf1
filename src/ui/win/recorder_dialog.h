// RecorderDialog: the program's main window, a borderless skinned modal dialog made from
// template 102. It shows the title bar, the effect panel and the capture panel with the Record
// button and the elapsed time; it owns the capture recorder, starts and stops recordings,
// stops one by itself at four hours, opens the recording folder after each stop and starts the
// companion programs. Its children post their notifications; it acts on them in its message
// pre-translation, and only on those addressed to the program's own windows.
// GUI thread only.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "capture/win/capture_recorder.h"
#include "platform/win/window_messages.h"
#include "skin/win/icon_button_bar.h"
#include "skin/win/skin_bitmap.h"
#include "skin/win/skin_label.h"
#include "ui/win/effect_panel.h"
#include "ui/win/recorder_seams.h"
#include "winbase/win/browser_site.h"
#include "winbase/win/handles.h"
#include "winbase/win/modal_dialog.h"

namespace qm::ui {

inline constexpr UINT_PTR kElapsedTimer = 23;
inline constexpr int kWindowWidth = 465;
inline constexpr int kWindowHeight = 200;

// Where the recording stands. Every change of state happens in RecorderDialog::OnRecordingEvent.
enum class RecordingState {
    kIdle,          // nothing records; Record starts a take
    kStarting,      // the recorder builds and runs its capture graph
    kRecording,     // a take runs; the time display counts each second
    kLimitReached,  // the take reached four hours: its stop is posted and on its way
    kStopping,      // the recorder finishes the file and tears its graph down
    kNoMic,         // a start failed: "No mic" shows in the time field until its timer ends
    kDiskFull,      // the disk was about to fill: the take stopped, "Disk full" shows as "No mic"
    kClosed,        // the recorder is shut down with the window: nothing starts again
};

// What moves the recording from one state to another.
enum class RecordingEvent {
    kRecordPressed,     // a click on Record
    kLimitStopArrived,  // the stop the window posted itself at the time limit
    kElapsedTick,       // the elapsed timer's tick, once a second while a take runs
    kNoticeTimeUp,      // the "No mic" or "Disk full" notice has been shown long enough
    kClose,             // the window closes
};

class RecorderDialog : public win::ModalDialog {
  public:
    explicit RecorderDialog(HINSTANCE instance);
    ~RecorderDialog() override;

    // Shows the window until it is closed; the recorder is stopped and shut down before this
    // returns, recording or not.
    INT_PTR Run();

    bool PreTranslateMessage(MSG& msg) override;

  protected:
    BOOL OnInitDialog() override;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    void LoadTheme();
    void BuildTitle();
    void BuildEffectPanel();
    void BuildCapturePanel();
    void BuildContentBrowser();
    void Layout();
    bool OwnWindow(HWND hwnd) const;

    void OnButton(UINT id, LPARAM lParam);
    void OnCommand(UINT id);
    void OnEffectSelected(int32_t removed, int32_t index);
    void OnOpenFolder(WPARAM request);
    // The recording's transitions, all in one place.
    void OnRecordingEvent(RecordingEvent event);
    // The steps the transitions take; each returns the state it leaves the recording in.
    RecordingState StartRecording();
    RecordingState StopRecording();
    RecordingState ShowElapsed();
    void ShutDownRecorder();
    void ShowTimeDisplay(const char* text);
    void HideTimeDisplay();
    void ShowNotice(const char* text);
    void HideNotice();
    void ShowMainMenu();
    void StartCompanion(const char* parameters);
    void StartUpgrade();
    void CloseRecorder();
    void Redraw(HWND window) const;
    // Sets DWLP_MSGRESULT and reports the message handled, as a dialog procedure must.
    LRESULT Result(LRESULT value);

    HINSTANCE instance_;
    win::Font font_;
    skin::SkinBitmap frameBitmap_;
    skin::SkinBitmap contentBitmap_;
    CaptureRecorder recorder_;
    EffectPanel effectPanel_;
    skin::IconButtonBar titleBar_;
    skin::IconButtonBar menuBar_;
    skin::IconButtonBar captureBar_;
    skin::SkinLabel titleLabel_;
    skin::SkinLabel captureLabel_;
    skin::SkinLabel spareLabel_;
    win::BrowserSite contentSite_;
    // The browser control's window, or the template's place for it when there is no control.
    HWND contentBrowser_ = nullptr;
    HICON icon_ = nullptr;
    std::string menuText_;
    std::wstring buttonFolder_;
    TickClock clock_;
    Shell shell_;
    RecordingState state_ = RecordingState::kIdle;
    // Whether the recorder initialised; a start without it shows "No mic".
    bool recorderReady_ = false;
    // The last elapsed-time tick was taken in pre-translation, before its dispatch.
    bool tickPretranslated_ = false;
    uint32_t startTick_ = 0;  // the running take's start; 0 outside a take
};

}  // namespace qm::ui
