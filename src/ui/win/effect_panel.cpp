#include "ui/win/effect_panel.h"

#include <windows.h>

#include "platform/win/lang_strings.h"
#include "ui/win/windows_catalogue_files.h"
#include "winbase/win/text.h"

namespace qm::ui {
namespace {

constexpr int kStripIconSize = 24;

}  // namespace

EffectPanel::~EffectPanel() {
    panels_.clear();
    Destroy();
}

bool EffectPanel::Create(HWND parent, int id) {
    const std::wstring cls =
        win::RegisterAnonymousClass(0, LoadCursorA(nullptr, IDC_ARROW), nullptr);
    return !cls.empty() &&
           Window::Create(0, cls.c_str(), L"", WS_CHILD | WS_VISIBLE, RECT{0, 0, 1, 1}, parent,
                          static_cast<UINT_PTR>(id)) &&
           strip_.Create(hwnd_, kCategoryStripId, kStripIconSize);
}

void EffectPanel::AddCategory(const catalogue::CategoryRecord& record) {
    const std::wstring name = LangString(qm::win::Widen(record.name).c_str());
    strip_.AddCategory(record.thumbnailPath, name);
    if (panels_.count(record.number) == 0)
        panels_.emplace(record.number, std::make_unique<EffectCategoryPanel>(record, devices_));
}

void EffectPanel::AddCatalogue(const std::string& effectsFolder) {
    const auto trace = [](const std::string& path) { OutputDebugStringA(path.c_str()); };
    for (const catalogue::CategoryRecord& record :
         catalogue::AdmitCategories(WindowsCatalogueFiles(), effectsFolder, trace))
        AddCategory(record);
}

EffectCategoryPanel* EffectPanel::PanelOf(int32_t number) {
    const auto it = panels_.find(number);
    return it == panels_.end() ? nullptr : it->second.get();
}

EffectCategoryPanel* EffectPanel::CurrentPanel() {
    return PanelOf(KeyAt(strip_.Current()));
}

void EffectPanel::ShowCategory(int32_t newPosition, int32_t oldPosition) {
    const int32_t oldNumber = KeyAt(oldPosition), newNumber = KeyAt(newPosition);
    EffectCategoryPanel* old = catalogue::IsPanelNumber(oldNumber) ? PanelOf(oldNumber) : nullptr;
    if (old != nullptr && old->Handle() != nullptr)
        ShowWindow(old->Handle(), SW_HIDE);
    EffectCategoryPanel* shown = catalogue::IsPanelNumber(newNumber) ? PanelOf(newNumber) : nullptr;
    if (shown == nullptr)
        return;
    strip_.SetCurrent(newPosition);
    if (shown->Handle() == nullptr && !shown->Create(hwnd_, newNumber))
        return;
    RECT client{};
    GetClientRect(hwnd_, &client);
    MoveWindow(shown->Handle(), 0, 0, kCategoryPanelWidth, client.bottom, TRUE);
    ShowWindow(shown->Handle(), SW_SHOW);
}

bool EffectPanel::PreTranslateMessage(MSG& msg) {
    if (msg.message == kShowCategoryMessage && msg.hwnd == hwnd_)
        ShowCategory(static_cast<int32_t>(msg.wParam), static_cast<int32_t>(msg.lParam));
    return false;
}

LRESULT EffectPanel::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SIZE: {
            // The strip takes no visible room.
            const int height = HIWORD(lParam);
            MoveWindow(strip_.Handle(), kCategoryPanelWidth, 24, 0, std::max(height - 84, 0), TRUE);
            for (auto& [number, panel] : panels_) {
                if (panel->Handle() != nullptr)
                    MoveWindow(panel->Handle(), 0, 0, kCategoryPanelWidth, height, TRUE);
            }
            return 0;
        }
        case WM_NCHITTEST:
            return HTTRANSPARENT;
        case WM_ERASEBKGND:
            return 1;
        default:
            break;
    }
    return Window::HandleMessage(message, wParam, lParam);
}

}  // namespace qm::ui
