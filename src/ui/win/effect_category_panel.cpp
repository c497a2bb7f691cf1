#include "ui/win/effect_category_panel.h"

#include <algorithm>

#include "platform/win/lang_strings.h"
#include "platform/win/module_paths.h"
#include "skin/win/skin_menu.h"
#include "skin/win/theme.h"

namespace qm::ui {
namespace {

constexpr RECT kDeviceButtonRect{0, 0, 400, 30};
constexpr int kDeviceBarHeight = 30;
constexpr int kListTopOverlap = 24;  // the list is as high as the panel less 24

std::wstring ButtonIcon(const wchar_t* face) {
    wchar_t path[MAX_PATH] = {};
    std::wstring name = L"UI\\Buttons\\Register\\";
    name += face;
    ModulePathOf(name.c_str(), path);
    return path;
}

}  // namespace

std::string DeviceCaption(const std::wstring& name) {
    const int n = WideCharToMultiByte(CP_ACP, 0, name.c_str(), static_cast<int>(name.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(std::max(n, 0)), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, 0, name.c_str(), static_cast<int>(name.size()), text.data(), n,
                            nullptr, nullptr);
    // Room for the terminator within 260 bytes: a long name is cut, never left open.
    text.resize(std::min<size_t>(text.size(), catalogue::kMaxPathChars - 1));
    return text;
}

EffectCategoryPanel::EffectCategoryPanel(catalogue::CategoryRecord record, DeviceNameSource devices)
    : record_(std::move(record)), devices_(devices) {}

EffectCategoryPanel::~EffectCategoryPanel() {
    Destroy();
}

bool EffectCategoryPanel::Create(HWND parent, int id) {
    const std::wstring cls =
        win::RegisterAnonymousClass(0, LoadCursorA(nullptr, IDC_ARROW), nullptr);
    if (cls.empty() || !Window::Create(0, cls.c_str(), L"", WS_CHILD | WS_CLIPCHILDREN,
                                       RECT{0, 0, 1, 1}, parent, static_cast<UINT_PTR>(id)))
        return false;
    if (!list_.Create(hwnd_, kEntryListId))
        return false;
    list_.LoadCategory(record_.filePath);
    if (!deviceBar_.Create(hwnd_))
        return false;
    caption_ = LangStringA(L"Select Device");
    deviceBar_.AddButton(kDeviceButton, LangString(L"Select Device"), kDeviceButtonRect,
                         ButtonIcon(L"Normal.ico"), ButtonIcon(L"HighLight.ico"),
                         ButtonIcon(L"Pressed.ico"));
    deviceBar_.SetCaption(kDeviceButton, caption_, kDeviceCaptionColour);
    Layout();
    return true;
}

void EffectCategoryPanel::Layout() {
    RECT client{};
    GetClientRect(hwnd_, &client);
    MoveWindow(deviceBar_.Handle(), 0, 0, kDeviceButtonRect.right, kDeviceBarHeight, TRUE);
    MoveWindow(list_.Handle(), 0, kDeviceBarHeight, 440,
               std::max<LONG>(client.bottom - kListTopOverlap, 0), TRUE);
}

void EffectCategoryPanel::ShowDeviceMenu() {
    skin::CSkinMenu menu;
    if (!menu.CreatePopup())
        return;
    menu.SetColours({RGB(64, 64, 64), RGB(86, 106, 130), RGB(164, 164, 164), RGB(86, 106, 130),
                     RGB(86, 106, 130), RGB(250, 250, 250)});
    // The item texts must outlive the display.
    std::vector<std::string> names;
    for (const std::wstring& name : devices_()) {
        if (names.size() == kMenuDevices)
            break;
        names.push_back(DeviceCaption(name));
    }
    for (size_t i = 0; i < names.size(); ++i)
        menu.AppendItem(kFirstDeviceCommand + static_cast<UINT>(i), names[i].c_str());
    RECT client{};
    GetClientRect(hwnd_, &client);
    POINT at{client.left, client.top + kDeviceBarHeight};
    ClientToScreen(hwnd_, &at);
    menu.Track(hwnd_, at);
}

void EffectCategoryPanel::ShowDevice(WPARAM position) {
    // Enumerated again: a device unplugged since the menu was shown leaves the caption as it
    // was, and the recorder finds no device at that position either.
    const std::vector<std::wstring> names = devices_();
    if (position >= names.size() || position >= kMenuDevices)
        return;
    caption_ = DeviceCaption(names[position]);
    deviceBar_.SetCaption(kDeviceButton, caption_, kDeviceCaptionColour);
    RedrawWindow(deviceBar_.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

bool EffectCategoryPanel::PreTranslateMessage(MSG& msg) {
    if (msg.message == kButtonActivatedMessage && msg.hwnd == hwnd_ &&
        msg.wParam == kDeviceButton) {
        ShowDeviceMenu();
    } else if (msg.message == WM_COMMAND && msg.hwnd == hwnd_ &&
               LOWORD(msg.wParam) >= kFirstDeviceCommand &&
               LOWORD(msg.wParam) <= kLastDeviceCommand) {
        PostMessageW(hwnd_, kDeviceChosenMessage, LOWORD(msg.wParam) - kFirstDeviceCommand, 0);
    } else if (msg.message == kDeviceChosenMessage && msg.hwnd == hwnd_) {
        ShowDevice(msg.wParam);
    } else if (msg.message == kPageRequestMessage && msg.hwnd == list_.Handle()) {
        list_.Page(static_cast<int>(msg.wParam));
    }
    return false;
}

LRESULT EffectCategoryPanel::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SIZE:
            Layout();
            return 0;
        case WM_ERASEBKGND: {
            RECT client{};
            GetClientRect(hwnd_, &client);
            skin::FillWithBrush(reinterpret_cast<HDC>(wParam), client,
                                skin::ThemeFrameBrush().Get());
            return 1;
        }
        case WM_MEASUREITEM:
        case WM_DRAWITEM:
            if (skin::CSkinMenu::RouteOwnerDraw(message, lParam))
                return TRUE;
            break;
        default:
            break;
    }
    return Window::HandleMessage(message, wParam, lParam);
}

}  // namespace qm::ui
