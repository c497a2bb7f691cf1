// The owner-drawn menu shown for real by TrackPopupMenu, with the hook that flattens every
// popup menu of the thread, looked at while it is open.
#include <gtest/gtest.h>

#include <cstring>

#include "skin/win/skin_menu.h"
#include "skin/win/theme.h"
#include "ui_fixture.h"

namespace qm::skin {
namespace {

const COLORREF kFrame = RGB(20, 30, 40);
const COLORREF kContent = RGB(60, 70, 80);
const std::array<COLORREF, 6> kDialogColours = {RGB(64, 64, 64),    RGB(86, 106, 130),
                                                RGB(164, 164, 164), RGB(86, 106, 130),
                                                RGB(86, 106, 130),  RGB(250, 250, 250)};

// A one-pixel 32-bit tile of the colour (the pixel is stored blue, green, red).
HBITMAP SolidBitmap(COLORREF c) {
    const DWORD bgr = GetBValue(c) | GetGValue(c) << 8 | GetRValue(c) << 16;
    return CreateBitmap(1, 1, 1, 32, &bgr);
}

struct Probe {
    int item, dx, dy;  // a pixel of an item, relative to its top-left corner
};

struct OpenMenu {
    HWND window = nullptr;
    RECT windowRect{};
    std::vector<RECT> items;  // in the menu window's client coordinates
    std::vector<COLORREF> pixels;
};

class SkinMenuTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        frame_.Reset(SolidBitmap(kFrame));
        content_.Reset(SolidBitmap(kContent));
        ThemeFrameBrush().CreateFromBitmap(frame_.Get());
        ThemeContentBrush().CreateFromBitmap(content_.Get());
        ASSERT_TRUE(MenuWindowHook::Install());
    }
    static void TearDownTestSuite() { MenuWindowHook::Uninstall(); }

    void SetUp() override {
        SetMainWindow(window_.Handle());
        window_.intercept = [this](UINT m, WPARAM, LPARAM l, LRESULT& result) {
            if (CSkinMenu::RouteOwnerDraw(m, l)) {
                if (m == WM_MEASUREITEM)
                    measured_.push_back(reinterpret_cast<MEASUREITEMSTRUCT*>(l)->itemWidth);
                result = TRUE;
                return true;
            }
            if (m == WM_TIMER)
                Inspect();
            return false;
        };
    }

    // Shows the menu and, once its window is up, records what it looks like and closes it.
    OpenMenu Show(CSkinMenu* skinned, HMENU menu, const std::vector<Probe>& probes = {}) {
        open_ = {};
        probes_ = probes;
        menu_ = menu;
        SetTimer(window_.Handle(), 1, 30, nullptr);
        if (skinned)
            skinned->Track(window_.Handle(), {200, 200}, TPM_LEFTALIGN);
        else
            TrackPopupMenu(menu, TPM_LEFTALIGN, 200, 200, 0, window_.Handle(), nullptr);
        KillTimer(window_.Handle(), 1);
        return open_;
    }

    void Inspect() {
        HWND w = FindWindowW(L"#32768", nullptr);
        if (!w || !IsWindowVisible(w) || open_.window)
            return;
        UpdateWindow(w);
        open_.window = w;
        GetWindowRect(w, &open_.windowRect);
        for (int i = 0; i < GetMenuItemCount(menu_); ++i) {
            RECT r{};
            GetMenuItemRect(nullptr, menu_, i, &r);
            MapWindowPoints(nullptr, w, reinterpret_cast<POINT*>(&r), 2);  // screen to menu
            open_.items.push_back(r);
        }
        HDC dc = GetDC(w);
        for (Probe p : probes_) {
            const RECT& item = open_.items.at(p.item);
            open_.pixels.push_back(GetPixel(dc, item.left + p.dx, item.top + p.dy));
        }
        ReleaseDC(w, dc);
        EndMenu();
    }

    static int TextWidth(const char* text) {
        win::WindowDC dc(MainWindow());
        SIZE s{};
        GetTextExtentPoint32A(dc.Get(), text, static_cast<int>(std::strlen(text)), &s);
        return s.cx;
    }

    static inline win::Bitmap frame_, content_;
    test::TestWindow window_;
    OpenMenu open_;
    std::vector<Probe> probes_;
    HMENU menu_ = nullptr;
    std::vector<UINT> measured_;
};

TEST_F(SkinMenuTest, ItemsAreMeasuredAndDrawnInTheTheme) {
    const char* about = "About Quillmar";
    const char* record = "Record";
    CSkinMenu menu;
    ASSERT_TRUE(menu.CreatePopup());
    menu.SetColours(kDialogColours);
    ASSERT_TRUE(menu.AppendItem(7006, about));
    ASSERT_TRUE(menu.AppendItem(1, nullptr));  // separator-like item with no text
    ASSERT_TRUE(menu.AppendItem(7030, record, MF_CHECKED));

    // Probes: strip and body of the first item, the check mark's box, the text's row.
    std::vector<Probe> probes = {{0, 10, 14}, {0, 60, 3}, {2, 5, 5}};
    for (int x = 31; x < 100; ++x)
        probes.push_back({0, x, 14});
    const OpenMenu open = Show(&menu, menu.Handle(), probes);
    ASSERT_NE(open.window, nullptr) << "the menu window never showed";
    ASSERT_EQ(open.items.size(), 3u);
    EXPECT_EQ(open.items[0].bottom - open.items[0].top, 28);
    EXPECT_EQ(open.items[1].bottom - open.items[1].top, 7);
    EXPECT_EQ(open.items[2].bottom - open.items[2].top, 28);
    ASSERT_EQ(measured_.size(), 3u);
    EXPECT_EQ(measured_[0], static_cast<UINT>(TextWidth(about) + 28));
    EXPECT_EQ(measured_[2], static_cast<UINT>(TextWidth(record) + 28));
    // The platform adds its check-mark margin to the widest item.
    EXPECT_GE(open.items[0].right - open.items[0].left, TextWidth(about) + 28);

    ASSERT_EQ(open.pixels.size(), probes.size());
    EXPECT_EQ(open.pixels[0], kContent);
    EXPECT_EQ(open.pixels[1], kFrame);
    EXPECT_EQ(open.pixels[2], ColourBlend(kDialogColours[1], kDialogColours[0], 140));
    int light = 0;
    for (std::size_t i = 3; i < open.pixels.size(); ++i)
        light += GetRValue(open.pixels[i]) > 200 && GetGValue(open.pixels[i]) > 200;
    EXPECT_GT(light, 0) << "no light text on the first item";
}

TEST_F(SkinMenuTest, TheHookFlattensOurAndSystemMenusAndRepeatedDisplaysLeakNothing) {
    // The flattened window is smaller by the frame it no longer has, for our menus and for a
    // window's system menu, which the platform makes.
    HWND owner = CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"", WS_POPUP | WS_SYSMENU, 0, 0, 10,
                                 10, nullptr, nullptr, nullptr, nullptr);
    CSkinMenu plain;
    ASSERT_TRUE(plain.CreatePopup());
    ASSERT_TRUE(plain.AppendItem(7006, "About"));
    auto size = [](const OpenMenu& m) {
        return SIZE{m.windowRect.right - m.windowRect.left, m.windowRect.bottom - m.windowRect.top};
    };
    const SIZE flatOurs = size(Show(&plain, plain.Handle()));
    const SIZE flatSystem = size(Show(nullptr, GetSystemMenu(owner, FALSE)));
    MenuWindowHook::Uninstall();
    const SIZE framedOurs = size(Show(&plain, plain.Handle()));
    const SIZE framedSystem = size(Show(nullptr, GetSystemMenu(owner, FALSE)));
    ASSERT_TRUE(MenuWindowHook::Install());
    DestroyWindow(owner);
    const int dx = 2 * (2 + GetSystemMetrics(SM_CXBORDER));
    const int dy = 2 * (2 + GetSystemMetrics(SM_CYBORDER));
    EXPECT_EQ(framedOurs.cx - flatOurs.cx, dx);
    EXPECT_EQ(framedOurs.cy - flatOurs.cy, dy);
    EXPECT_EQ(framedSystem.cx - flatSystem.cx, dx);
    EXPECT_EQ(framedSystem.cy - flatSystem.cy, dy);
    EXPECT_GT(flatSystem.cy, 0);

    // Many displays, each subclassing a new menu window once and destroying its menu.
    const DWORD before = test::GdiObjectCount();
    for (int i = 0; i < 100; ++i) {
        CSkinMenu menu;
        ASSERT_TRUE(menu.CreatePopup());
        menu.SetColours(kDialogColours);
        ASSERT_TRUE(menu.AppendItem(7006, "About", i % 2 ? MF_CHECKED : 0));
        ASSERT_NE(Show(&menu, menu.Handle()).window, nullptr) << i;
    }
    EXPECT_EQ(test::GdiObjectCount(), before);
}

}  // namespace
}  // namespace qm::skin
