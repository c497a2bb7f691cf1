#include "ui/win/effect_panel.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <gdiplus.h>

#include <string>
#include <vector>

#include "platform/win/lang_strings.h"
#include "platform/win/module_paths.h"
#include "skin/win/theme.h"

using namespace qm;

namespace {

std::vector<std::wstring> ElevenMicrophones() {
    std::vector<std::wstring> names;
    for (int i = 0; i < 11; ++i)
        names.push_back(L"Microphone " + std::to_wstring(i));
    return names;
}

// The panel in a top-level window over the program's generated catalogue, with the dialog's
// loop: every message goes first to the pre-translation of each window from its target up.
class PanelWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&token_, &input, nullptr), Gdiplus::Ok);
        wchar_t lang[MAX_PATH] = {};
        SetLanguage(0x0409, ModulePathOf(L"lang.ini", lang));
        // A plain content pattern, so the entry cells' colour is known.
        const COLORREF cell[64] = {};
        tile_.Reset(CreateBitmap(8, 8, 1, 32, cell));
        skin::ThemeContentBrush().CreateFromBitmap(tile_.Get());
        const std::wstring cls =
            win::RegisterAnonymousClass(0, nullptr, skin::ThemeContentBrush().Get());
        host_ = CreateWindowExW(WS_EX_TOPMOST, cls.c_str(), L"panel", WS_POPUP | WS_VISIBLE, 0, 0,
                                460, 200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(host_, nullptr);
        skin::SetMainWindow(host_);
        ASSERT_TRUE(panel_.Create(host_, ui::kEffectPanelId));
        MoveWindow(panel_.Handle(), 10, 10, 440, 180, TRUE);
        char effects[MAX_PATH] = {};
        panel_.AddCatalogue(ModulePathOf("Effects\\", effects));
        PostMessageW(panel_.Handle(), kShowCategoryMessage, 0, 0);
        Pump();
        category_ = panel_.CurrentPanel();
        ASSERT_NE(category_, nullptr);
        list_ = category_->List().Handle();
    }
    void TearDown() override {
        panel_.Destroy();
        DestroyWindow(host_);
        Gdiplus::GdiplusShutdown(token_);
    }

    // Runs the queue dry; returns the entry notifications the panel's parent chain saw.
    std::vector<std::pair<int, int>> Pump() {
        std::vector<std::pair<int, int>> toggled;
        MSG msg;
        for (int idle = 0; idle < 5;) {
            if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                ++idle;
                Sleep(20);
                continue;
            }
            idle = 0;
            if (msg.message == kEntryToggledMessage)
                toggled.emplace_back(static_cast<int>(msg.wParam), static_cast<int>(msg.lParam));
            bool stop = false;
            for (HWND h = msg.hwnd; h != nullptr && !stop; h = GetParent(h)) {
                if (win::Window* w = win::Window::FromHandle(h))
                    stop = w->PreTranslateMessage(msg);
            }
            if (!stop) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
        UpdateWindow(host_);
        return toggled;
    }
    std::vector<std::pair<int, int>> DoubleClick(int position) {
        const LPARAM at = MAKELPARAM(position * 88 + 40, 36);
        PostMessageW(list_, WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageW(list_, WM_LBUTTONUP, 0, at);
        PostMessageW(list_, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
        return Pump();
    }
    COLORREF Pixel(int x, int y) {
        HDC dc = GetDC(list_);
        const COLORREF c = GetPixel(dc, x, y);
        ReleaseDC(list_, dc);
        return c;
    }
    bool Near(COLORREF c, COLORREF want) {
        return std::abs(GetRValue(c) - GetRValue(want)) < 14 &&
               std::abs(GetGValue(c) - GetGValue(want)) < 14 &&
               std::abs(GetBValue(c) - GetBValue(want)) < 14;
    }
    // The selected mark: the green disc at the picture's top-left corner.
    bool Marked(int position) {
        const COLORREF c = Pixel(position * 88 + 4 + 5, 6 + 14);
        return GetGValue(c) > GetRValue(c) + 60 && GetGValue(c) > GetBValue(c) + 40;
    }

    ULONG_PTR token_ = 0;
    win::Bitmap tile_;
    HWND host_ = nullptr;
    ui::EffectPanel panel_{&ElevenMicrophones};
    ui::EffectCategoryPanel* category_ = nullptr;
    HWND list_ = nullptr;
};

// Five pictures, most used voice first (each picture's top row is its backdrop colour), and a
// key past the end that is no category number.
TEST_F(PanelWindow, ShowsTheFirstFiveVoicesInOrder) {
    EXPECT_EQ(panel_.KeyAt(0), 1);
    EXPECT_EQ(panel_.KeyAt(1), -1);
    ASSERT_TRUE(IsWindowVisible(category_->Handle()));
    const COLORREF tops[] = {RGB(0x5b, 0x8f, 0xd6), RGB(0xe0, 0x7b, 0xb5), RGB(0xfd, 0xe8, 0xa8),
                             RGB(0xc9, 0xd3, 0xdc), RGB(0x3b, 0x4b, 0x5e)};
    for (int k = 0; k < 5; ++k)
        EXPECT_TRUE(Near(Pixel(k * 88 + 4 + 40, 6), tops[k]))
            << k << " " << std::hex << Pixel(k * 88 + 44, 6);
}

// With MaxUse 1 a second choice pushes the first out: (-1, 2) then (2, 3); the mark follows,
// the clicked entry gets the two-pixel hot frame; a double click on a margin does nothing.
TEST_F(PanelWindow, DoubleClicksSelectOneEntryAtATime) {
    EXPECT_EQ(DoubleClick(2), (std::vector<std::pair<int, int>>{{-1, 2}}));
    EXPECT_TRUE(Marked(2));
    EXPECT_EQ(Pixel(2 * 88 + 2, 36), RGB(29, 60, 167));
    EXPECT_EQ(Pixel(2 * 88 + 3, 36), RGB(29, 60, 167));
    EXPECT_EQ(DoubleClick(3), (std::vector<std::pair<int, int>>{{2, 3}}));
    EXPECT_FALSE(Marked(2));
    EXPECT_TRUE(Marked(3));
    EXPECT_EQ(Pixel(2 * 88 + 3, 36), RGB(120, 120, 120));
    PostMessageW(list_, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(88 + 2, 36));
    EXPECT_TRUE(Pump().empty());
}

// The wheel pages by two and stops on the first page; choosing a device names the button, and
// a position the menu never listed (the eleventh device) is refused.
TEST_F(PanelWindow, WheelPagesAndTheDeviceMenuNamesTheButton) {
    PostMessageW(list_, WM_MOUSEWHEEL, MAKEWPARAM(0, 120), 0);
    Pump();
    EXPECT_EQ(category_->List().Catalogue().ScrollPosition(), 0);
    PostMessageW(list_, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-120)), 0);
    Pump();
    EXPECT_EQ(category_->List().Catalogue().ScrollPosition(), 2);
    EXPECT_TRUE(Near(Pixel(4 + 40, 6), RGB(0xfd, 0xe8, 0xa8)));  // Baby leads the page

    EXPECT_EQ(category_->DeviceCaptionText(), "Select Device");
    // The menu runs its own loop: a timer inside it counts the items and picks the second.
    static int items = 0;
    SetTimer(nullptr, 0, 300, [](HWND, UINT, UINT_PTR id, DWORD) {
        KillTimer(nullptr, id);
        HWND menu = FindWindowW(L"#32768", nullptr);
        items = GetMenuItemCount(reinterpret_cast<HMENU>(SendMessageW(menu, MN_GETHMENU, 0, 0)));
        for (WPARAM key : {VK_DOWN, VK_DOWN, VK_RETURN})
            PostMessageW(menu, WM_KEYDOWN, key, 0);
    });
    PostMessageW(category_->Handle(), kButtonActivatedMessage, kDeviceButton, 0);
    Pump();
    EXPECT_EQ(items, 10);
    EXPECT_EQ(category_->DeviceCaptionText(), "Microphone 1");
    PostMessageW(category_->Handle(), kDeviceChosenMessage, 10, 0);
    Pump();
    EXPECT_EQ(category_->DeviceCaptionText(), "Microphone 1");
}

}  // namespace
