#include "ui/win/recorder_dialog.h"

#include <shlobj.h>

#include <cstring>
#include <string>
#include <utility>

#include "capture/win/capture_devices.h"
#include "platform/win/lang_strings.h"
#include "platform/win/module_paths.h"
#include "platform/win/settings.h"
#include "skin/win/skin_menu.h"
#include "skin/win/theme.h"
#include "ui/content_browser_rule.h"
#include "ui/recorder_elapsed.h"
#include "ui/win/recorder_resources.h"
#include "winbase/win/text.h"

namespace qm::ui {
namespace {

// How long the time field says why a recording did not start.
constexpr UINT_PTR kNoticeTimer = 24;
constexpr UINT kNoticeMs = 3000;

constexpr COLORREF kTitleColour = RGB(120, 120, 120);
constexpr COLORREF kTimeColour = RGB(230, 230, 230);
constexpr char kZeroTime[] = "00:00:00";
// Short enough for the time field.
constexpr char kNoMicrophone[] = "No mic";
constexpr char kDiskFull[] = "Disk full";

struct ButtonSpec {
    UINT id;
    const wchar_t* tooltipKey;  // null: no tooltip
    RECT rect;
    const wchar_t* normal;
    const wchar_t* hot;
    const wchar_t* pressed;
};

constexpr ButtonSpec kTitleButtons[] = {
    {kHelpButton,
     L"Help",
     {0, 4, 20, 24},
     L"Help\\Normal.ico",
     L"Help\\HighLight.ico",
     L"Help\\Pressed.ico"},
    {kMinimizeButton,
     L"Minimize",
     {22, 0, 46, 24},
     L"Minimize\\Normal.ico",
     L"Minimize\\HighLight.ico",
     L"Minimize\\Pressed.ico"},
    {kCloseButton,
     L"Close",
     {51, 0, 75, 24},
     L"close\\Normal.ico",
     L"close\\HighLight.ico",
     L"close\\Pressed.ico"},
};
constexpr ButtonSpec kMenuButtons[] = {
    {kMenuButton,
     L"ShowMenu",
     {0, 0, 32, 32},
     L"Menu\\Normal.ico",
     L"Menu\\HighLight.ico",
     L"Menu\\Pressed.ico"},
};
constexpr ButtonSpec kCaptureButtons[] = {
    {kRecordButton,
     L"Capture",
     {0, 0, 42, 42},
     L"DoCapture\\Normal.ico",
     L"DoCapture\\HighLight.ico",
     L"DoCapture\\Pressed.ico"},
    {kTimeDisplay,
     nullptr,
     {52, 18, 132, 42},
     L"RecordTime.ico",
     L"RecordTime.ico",
     L"RecordTime.ico"},
};

template <std::size_t N>
void AddButtons(skin::IconButtonBar& bar, const std::wstring& folder,
                const ButtonSpec (&specs)[N]) {
    for (const ButtonSpec& b : specs) {
        // The lookup's result lives in a shared buffer: copy it before the next lookup.
        const std::wstring tooltip = b.tooltipKey ? LangString(b.tooltipKey) : L"";
        bar.AddButton(b.id, tooltip, b.rect, folder + b.normal, folder + b.hot, folder + b.pressed);
    }
}

// The update program's place: "<all users' application data>\Quillmar\Audio\upgrade.exe".
bool UpgradeProgramPath(char* path) {
    if (!SHGetSpecialFolderPathA(nullptr, path, CSIDL_COMMON_APPDATA, FALSE))
        return false;
    const char tail[] = "\\Quillmar\\Audio\\upgrade.exe";
    if (std::strlen(path) + sizeof(tail) > MAX_PATH)
        return false;
    std::strcat(path, tail);
    return true;
}

bool IsFile(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

RecorderDialog::RecorderDialog(HINSTANCE instance)
    : instance_(instance),
      effectPanel_(&CaptureDeviceNames),
      icon_(LoadIconW(instance, MAKEINTRESOURCEW(IDI_APPLICATION_ICON))) {}

RecorderDialog::~RecorderDialog() {
    CloseRecorder();
}

INT_PTR RecorderDialog::Run() {
    const INT_PTR result = RunModal(instance_, IDD_RECORDER, nullptr);
    CloseRecorder();
    return result;
}

void RecorderDialog::CloseRecorder() {
    OnRecordingEvent(RecordingEvent::kClose);
}

BOOL RecorderDialog::OnInitDialog() {
    AppFolders& folders = Folders();
    RunSettingsStep(folders);
    char shared[MAX_PATH] = {};
    WideCharToMultiByte(CP_ACP, 0, SharedDataFilePath(), -1, shared, MAX_PATH - 1, nullptr,
                        nullptr);
    ReplaceFileName("Effects\\", shared);
    std::memcpy(folders.sharedEffects, shared, sizeof(shared));
    ModulePathOf(L"lang.ini", folders.languageFile);
    SetLanguage(GetUserDefaultLangID(), folders.languageFile);

    skin::SetMainWindow(hwnd_);
    font_.Reset(CreateFontW(-15, 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                            OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                            DEFAULT_PITCH | FF_DONTCARE, L"Arial"));
    SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);

    LoadTheme();
    BuildTitle();
    BuildEffectPanel();
    BuildCapturePanel();
    BuildContentBrowser();

    if (HMENU system = GetSystemMenu(hwnd_, FALSE)) {
        char about[128] = {};
        if (LoadStringA(instance_, IDS_ABOUT_RECORDER, about, sizeof(about)) > 0) {
            AppendMenuA(system, MF_SEPARATOR, 0, nullptr);
            AppendMenuA(system, MF_STRING, kAboutSystemCommand, about);
        }
    }
    SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));

    // No caption and no frame: the program draws its own. The frame change makes the new style
    // take effect, and the size is the one the min/max rule allows.
    SetWindowLongPtrW(hwnd_, GWL_STYLE, 0);
    SetWindowPos(hwnd_, nullptr, 0, 0, kWindowWidth, kWindowHeight,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    if (contentBrowser_)
        ShowWindow(contentBrowser_, SW_HIDE);
    ShowWindow(captureLabel_.Handle(), SW_SHOW);
    // No size message is promised after the title label exists: lay out once here.
    Layout();
    return TRUE;
}

void RecorderDialog::LoadTheme() {
    wchar_t folder[MAX_PATH] = {};
    ModulePathOf(L"UI\\Themes\\Default\\", folder);
    const std::string theme = win::NarrowUtf8(folder);  // any folder name, see win::WidenUtf8
    frameBitmap_.Attach(theme + "Frame.bmp", 0);
    contentBitmap_.Attach(theme + "Content.bmp", 0);
    skin::ThemeFrameBrush().Reset();
    skin::ThemeContentBrush().Reset();
    skin::ThemeFrameBrush().CreateFromBitmap(frameBitmap_.Get());
    skin::ThemeContentBrush().CreateFromBitmap(contentBitmap_.Get());

    wchar_t buttons[MAX_PATH] = {};
    ModulePathOf(L"UI\\Buttons\\", buttons);
    // Kept wide: a folder name outside ASCII must reach the icon loader unchanged.
    buttonFolder_ = buttons;
}

void RecorderDialog::BuildTitle() {
    char title[101] = {};
    LoadStringA(instance_, IDS_PRODUCT_TITLE, title, sizeof(title));
    titleLabel_.Subclass(GetDlgItem(hwnd_, IDC_TITLE_PANEL));
    titleLabel_.SetText(title, 40, kTitleColour, font_.Get());
    titleLabel_.SetBackground(skin::ThemeFrameBrush().Get());
    SetWindowTextA(hwnd_, title);

    const std::wstring& folder = buttonFolder_;
    if (titleBar_.Create(titleLabel_.Handle()))
        AddButtons(titleBar_, folder, kTitleButtons);
    if (menuBar_.Create(titleLabel_.Handle()))
        AddButtons(menuBar_, folder, kMenuButtons);
}

void RecorderDialog::BuildEffectPanel() {
    if (!effectPanel_.Create(hwnd_, kEffectPanelId))
        return;
    wchar_t effects[MAX_PATH] = {};
    effectPanel_.AddCatalogue(win::NarrowUtf8(ModulePathOf(L"Effects\\", effects)));
    PostMessageW(effectPanel_.Handle(), kShowCategoryMessage, 0, 0);
}

void RecorderDialog::BuildCapturePanel() {
    captureLabel_.Subclass(GetDlgItem(hwnd_, IDC_CAPTURE_PANEL));
    captureLabel_.SetBackground(skin::ThemeFrameBrush().Get());
    spareLabel_.Subclass(GetDlgItem(hwnd_, IDC_SPARE_PANEL));

    const std::wstring& folder = buttonFolder_;
    if (captureBar_.Create(captureLabel_.Handle())) {
        AddButtons(captureBar_, folder, kCaptureButtons);
        HideTimeDisplay();
    }
    ShowWindow(captureLabel_.Handle(), SW_SHOW);
    recorderReady_ = recorder_.Init(captureLabel_.Handle()) == 1;
}

void RecorderDialog::BuildContentBrowser() {
    // The template holds only a place for the content browser; the control itself, when the
    // system has one, is made at run time over that place, so its absence changes nothing else.
    contentBrowser_ = GetDlgItem(hwnd_, IDC_CONTENT_BROWSER);
    if (!contentBrowser_)
        return;
    RECT place{};
    GetWindowRect(contentBrowser_, &place);
    MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&place), 2);
    const bool created = contentSite_.Create(hwnd_, place, [this](const wchar_t* location) {
        if (ShowsContentBrowserAfter(location))
            ShowWindow(contentBrowser_, SW_SHOW);
    });
    if (!created)
        return;
    if (HWND control = contentSite_.Window())
        contentBrowser_ = control;
    ShowWindow(contentBrowser_, SW_HIDE);
}

void RecorderDialog::Layout() {
    if (!titleLabel_.Handle())
        return;
    RECT window{};
    GetWindowRect(hwnd_, &window);
    const int w = window.right - window.left;
    const int h = window.bottom - window.top;
    // The window owns the region once it is set.
    SetWindowRgn(hwnd_, CreateRoundRectRgn(0, 0, w, h, 5, 5), TRUE);

    MoveWindow(titleLabel_.Handle(), 0, 0, w, 40, TRUE);
    MoveWindow(titleBar_.Handle(), w - 90, 5, 135, 24, TRUE);
    MoveWindow(menuBar_.Handle(), 6, 5, 32, 48, TRUE);
    MoveWindow(effectPanel_.Handle(), 10, 40, 440, h - 100, TRUE);
    ShowWindow(spareLabel_.Handle(), SW_HIDE);
    MoveWindow(captureLabel_.Handle(), 10, h - 60, 440, 60, TRUE);
    MoveWindow(captureBar_.Handle(), 202, 8, 132, 42, TRUE);

    for (HWND panel : {titleLabel_.Handle(), captureLabel_.Handle(), effectPanel_.Handle()}) {
        if (panel)
            Redraw(panel);
    }
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void RecorderDialog::Redraw(HWND window) const {
    if (window)
        RedrawWindow(window, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

LRESULT RecorderDialog::Result(LRESULT value) {
    SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, value);
    return TRUE;
}

LRESULT RecorderDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == kAboutSystemCommand) {
                win::ModalDialog about;
                about.RunModal(instance_, IDD_ABOUT, hwnd_);
                return TRUE;
            }
            return FALSE;
        case WM_PAINT: {
            // Always validated: an unvalidated paint comes back for ever.
            win::PaintDC dc(hwnd_);
            if (IsIconic(hwnd_) && icon_) {
                SendMessageW(hwnd_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.Get()), 0);
                RECT client{};
                GetClientRect(hwnd_, &client);
                const int x = (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2;
                const int y = (client.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2;
                DrawIcon(dc.Get(), x, y, icon_);
            }
            return Result(0);
        }
        case WM_QUERYDRAGICON:
            return reinterpret_cast<LRESULT>(icon_);
        case WM_SIZE:
            Layout();
            return Result(0);
        case WM_GETMINMAXINFO: {
            auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
            info->ptMinTrackSize.x = kWindowWidth;
            info->ptMaxTrackSize.x = kWindowWidth;
            info->ptMaxTrackSize.y = kWindowHeight;
            return Result(0);
        }
        case WM_NCHITTEST: {
            // Drag the window by any background point.
            const LRESULT hit = DefWindowProcW(hwnd_, message, wParam, lParam);
            return Result(hit == HTCLIENT ? HTCAPTION : hit);
        }
        case WM_ERASEBKGND: {
            RECT client{};
            GetClientRect(hwnd_, &client);
            skin::FillWithBrush(reinterpret_cast<HDC>(wParam), client,
                                skin::ThemeFrameBrush().Get());
            return Result(TRUE);
        }
        case WM_MEASUREITEM:
        case WM_DRAWITEM:
            if (skin::CSkinMenu::RouteOwnerDraw(message, lParam))
                return Result(TRUE);
            break;
        case WM_DESTROY:
            // The control goes while its window and COM are still there.
            contentSite_.Destroy();
            break;
        case WM_TIMER:
            if (wParam == kNoticeTimer) {
                OnRecordingEvent(RecordingEvent::kNoticeTimeUp);
                return TRUE;
            }
            if (wParam == kElapsedTimer) {
                // A tick the program's own loop took is done. One that a loop of the system's
                // dispatched (the window being dragged, a menu open) never passed that way:
                // the time display and the four-hour stop go on from here.
                if (!std::exchange(tickPretranslated_, false))
                    OnRecordingEvent(RecordingEvent::kElapsedTick);
                return TRUE;
            }
            break;
        case kButtonActivatedMessage:
            // Reaches the window only when a loop of the system's dispatched it: the time
            // limit's stop must not be lost there.
            if (wParam == kRecordButton && lParam == kTimeLimitStop) {
                OnRecordingEvent(RecordingEvent::kLimitStopArrived);
                return TRUE;
            }
            break;
        default:
            break;
    }
    return ModalDialog::HandleMessage(message, wParam, lParam);
}

bool RecorderDialog::OwnWindow(HWND hwnd) const {
    // The dialog and every window bound to one of the program's objects; the windows of a
    // hosted control (the browser's, for one) are not ours and keep their messages.
    return hwnd == hwnd_ || (hwnd && IsChild(hwnd_, hwnd) && win::Window::FromHandle(hwnd));
}

bool RecorderDialog::PreTranslateMessage(MSG& msg) {
    switch (msg.message) {
        case kButtonActivatedMessage:
            if (!OwnWindow(msg.hwnd))
                return false;
            OnButton(static_cast<UINT>(msg.wParam), msg.lParam);
            return true;
        case kEntryToggledMessage:
            if (!OwnWindow(msg.hwnd))
                return false;
            OnEffectSelected(static_cast<int32_t>(msg.wParam), static_cast<int32_t>(msg.lParam));
            return true;
        case kComeToFrontMessage:
            if (msg.hwnd == hwnd_) {
                // Re-ordered only: a minimised window stays minimised.
                SetWindowPos(hwnd_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
                SetWindowPos(hwnd_, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
            }
            return false;
        case WM_TIMER:
            // Only the window's own timer: other windows of the chain may use the same number.
            if (msg.hwnd == hwnd_ && msg.wParam == kElapsedTimer) {
                OnRecordingEvent(RecordingEvent::kElapsedTick);
                tickPretranslated_ = true;
            }
            return false;
        case kOpenFolderMessage:
            if (msg.hwnd == hwnd_)
                OnOpenFolder(msg.wParam);
            return false;
        case WM_COMMAND: {
            if (!OwnWindow(msg.hwnd))
                return false;
            const UINT id = LOWORD(msg.wParam);
            OnCommand(id);
            return id == kAboutCommand || id == kRegisterCommand || id == kPurchaseCommand;
        }
        default:
            return false;
    }
}

void RecorderDialog::OnButton(UINT id, LPARAM lParam) {
    switch (id) {
        case kCloseButton:
            EndDialog(IDOK);
            break;
        case kMinimizeButton:
            ShowWindow(hwnd_, SW_MINIMIZE);
            break;
        case kMenuButton:
            ShowMainMenu();
            break;
        case kRecordButton:
            OnRecordingEvent(lParam == kTimeLimitStop ? RecordingEvent::kLimitStopArrived
                                                      : RecordingEvent::kRecordPressed);
            break;
        default:
            break;  // Help and the time display: nothing
    }
}

void RecorderDialog::OnCommand(UINT id) {
    if (id == kAboutCommand)
        StartCompanion("-ABOUT");
    else if (id == kRegisterCommand)
        StartCompanion("-R");
    else if (id == kPurchaseCommand)
        StartCompanion("-P");
    else if (id == kUpgradeCommand)
        StartUpgrade();
    else if (id >= kFirstDeviceCommand && id <= kLastDeviceCommand)
        recorder_.deviceIndex = static_cast<int>(id - kFirstDeviceCommand);
}

void RecorderDialog::StartCompanion(const char* parameters) {
    char program[MAX_PATH] = {};
    ModulePathOf("GetUpdate.exe", program);
    shell_.StartProgram(hwnd_, program, parameters);
}

void RecorderDialog::StartUpgrade() {
    char program[MAX_PATH] = {};
    // Started only when it is there; its folder is never made or opened up from here.
    if (UpgradeProgramPath(program) && IsFile(program))
        shell_.StartProgram(hwnd_, program, "-doupgradep");
}

void RecorderDialog::OnOpenFolder(WPARAM request) {
    const AppFolders& folders = Folders();
    const char* folder = nullptr;
    switch (static_cast<OpenFolder>(request)) {
        case OpenFolder::kStoredRecording:
            folder = folders.storedRecording;
            break;
        case OpenFolder::kRecording:
            folder = folders.recording;
            break;
        case OpenFolder::kSharedEffects:
            folder = folders.sharedEffects;
            break;
    }
    // The stored folder comes from the settings file: a planted value naming a program must
    // not be run, so only an existing folder is opened.
    if (folder && *folder && IsDirectory(folder))
        shell_.OpenFolder(hwnd_, folder);
}

void RecorderDialog::OnEffectSelected(int32_t removed, int32_t index) {
    IVoiceEffectControl* control = recorder_.EffectControl();
    // A recorder that failed to initialise has no effect stage to call.
    if (!recorderReady_ || control == nullptr)
        return;
    if (removed == catalogue::kDeselected) {
        control->SelectEffect(-1, 0);
        return;
    }
    EffectCategoryPanel* category = effectPanel_.CurrentPanel();
    if (category == nullptr)
        return;
    catalogue::EffectCatalogItem item;
    if (removed != -1 && !category->List().EntryAt(removed, item))
        return;
    if (!category->List().EntryAt(index, item))
        return;
    const int number = static_cast<int>(
        GetPrivateProfileIntW(L"Content", L"IID", 0, win::WidenUtf8(item.contentPath).c_str()));
    control->SelectEffect(number, 0);
}

void RecorderDialog::OnRecordingEvent(RecordingEvent event) {
    using enum RecordingState;
    switch (event) {
        case RecordingEvent::kRecordPressed:
            if (state_ == kIdle || state_ == kNoMic || state_ == kDiskFull)
                state_ = StartRecording();
            else if (state_ == kRecording || state_ == kLimitReached)
                state_ = StopRecording();
            break;
        case RecordingEvent::kLimitStopArrived:
            // A click that stopped the take before the limit's own stop arrived leaves nothing
            // to do: the posted stop never starts a recording.
            if (state_ == kLimitReached)
                state_ = StopRecording();
            break;
        case RecordingEvent::kElapsedTick:
            // An idle tick would measure from start tick 0; one already queued when the limit
            // killed the timer still shows the time.
            if (state_ == kRecording || state_ == kLimitReached)
                state_ = ShowElapsed();
            break;
        case RecordingEvent::kNoticeTimeUp:
            KillTimer(hwnd_, kNoticeTimer);  // one notice, one tick
            if (state_ == kNoMic || state_ == kDiskFull) {
                HideNotice();
                state_ = kIdle;
            }
            break;
        case RecordingEvent::kClose:
            if (state_ != kClosed) {
                ShutDownRecorder();
                state_ = kClosed;
            }
            break;
    }
}

RecordingState RecorderDialog::StartRecording() {
    if (state_ == RecordingState::kNoMic || state_ == RecordingState::kDiskFull)
        HideNotice();
    state_ = RecordingState::kStarting;
    startTick_ = 0;
    if (!recorderReady_ || !recorder_.Start()) {
        ShowNotice(kNoMicrophone);
        return RecordingState::kNoMic;
    }
    captureBar_.SetButtonKind(kRecordButton, skin::kToggle);
    captureBar_.SetButtonState(kRecordButton, skin::kHot);  // state 1: the selected toggle
    ShowTimeDisplay(kZeroTime);
    SetTimer(hwnd_, kElapsedTimer, 1000, nullptr);
    startTick_ = clock_.StartTick();
    InvalidateRect(captureBar_.Handle(), nullptr, TRUE);
    return RecordingState::kRecording;
}

RecordingState RecorderDialog::StopRecording() {
    state_ = RecordingState::kStopping;
    KillTimer(hwnd_, kElapsedTimer);
    HideTimeDisplay();
    recorder_.Stop();
    captureBar_.SetButtonKind(kRecordButton, skin::kPushButton);
    // Back to the plain face: a push button left in state 1 would stay highlighted.
    captureBar_.SetButtonState(kRecordButton, skin::kNormal);
    InvalidateRect(captureBar_.Handle(), nullptr, TRUE);
    InvalidateRect(captureLabel_.Handle(), nullptr, TRUE);
    startTick_ = 0;
    const char* folder = Folders().recording;
    if (*folder && IsDirectory(folder))
        shell_.OpenFolder(nullptr, folder);
    return RecordingState::kIdle;
}

RecordingState RecorderDialog::ShowElapsed() {
    if (recorder_.OutOfRoom()) {
        // Stopped while the file can still be finished: everything recorded is kept.
        StopRecording();
        ShowNotice(kDiskFull);
        return RecordingState::kDiskFull;
    }
    const ElapsedTime t = ElapsedBetween(startTick_, clock_.Now());
    char text[16];
    FormatElapsed(t, text, sizeof(text));
    ShowTimeDisplay(text);
    Redraw(captureBar_.Handle());
    if (t.hours < kRecordingLimitHours || state_ != RecordingState::kRecording)
        return state_;
    // Exactly one stop: no further ticks, and the posted stop is marked as the limit's.
    KillTimer(hwnd_, kElapsedTimer);
    PostMessageW(hwnd_, kButtonActivatedMessage, kRecordButton, kTimeLimitStop);
    return RecordingState::kLimitReached;
}

void RecorderDialog::ShutDownRecorder() {
    // Stop always runs, recording or not: it finishes any file and keeps its pause.
    recorder_.Stop();
    recorder_.Shutdown();
}

// The bar draws the time itself; its window text says the same, so assistive tools (and the
// end-to-end tests) read what the user sees.
void RecorderDialog::ShowTimeDisplay(const char* text) {
    captureBar_.SetCaption(kTimeDisplay, text, kTimeColour);
    captureBar_.SetButtonKind(kTimeDisplay, skin::kPushButton);
    SetWindowTextA(captureBar_.Handle(), text);
}

void RecorderDialog::HideTimeDisplay() {
    captureBar_.SetButtonKind(kTimeDisplay, skin::kHidden);
    captureBar_.SetCaption(kTimeDisplay, kZeroTime, kTimeColour);
    SetWindowTextA(captureBar_.Handle(), "");
}

void RecorderDialog::ShowNotice(const char* text) {
    ShowTimeDisplay(text);
    Redraw(captureBar_.Handle());
    SetTimer(hwnd_, kNoticeTimer, kNoticeMs, nullptr);
}

void RecorderDialog::HideNotice() {
    KillTimer(hwnd_, kNoticeTimer);
    HideTimeDisplay();
    // The bar does not paint what a hidden button leaves: the label behind it repaints.
    Redraw(captureLabel_.Handle());
}

void RecorderDialog::ShowMainMenu() {
    skin::CSkinMenu menu;
    if (!menu.CreatePopup())
        return;
    // The lookup's buffer is shared: the menu shows a copy of its own.
    menuText_ = LangStringA(L"About Corvessa");
    menu.AppendItem(kAboutCommand, menuText_.c_str());
    menu.SetColours({RGB(64, 64, 64), RGB(86, 106, 130), RGB(164, 164, 164), RGB(86, 106, 130),
                     RGB(86, 106, 130), RGB(250, 250, 250)});
    RECT title{};
    GetWindowRect(titleLabel_.Handle(), &title);
    menu.Track(hwnd_, POINT{title.left + 8, title.top + 45});
}

}  // namespace qm::ui
