// Theme pictures, the label and the forwarding pane, and the program's own theme and icon
// files, loaded and looked at under Wine.
#include <gtest/gtest.h>

#include <windows.h>

#include <objidl.h>

#include <gdiplus.h>

#include <filesystem>
#include <string>

#include "skin/win/skin_bitmap.h"
#include "skin/win/skin_label.h"
#include "skin/win/theme.h"
#include "ui_fixture.h"

namespace qm::skin {
namespace {

namespace fs = std::filesystem;

std::string Narrow(const std::wstring& w) {
    return fs::path(w).string();
}

COLORREF BitmapPixel(HBITMAP bitmap, int x, int y) {
    win::MemoryDC dc(CreateCompatibleDC(nullptr));
    win::Selection selected(dc.Get(), bitmap);
    return GetPixel(dc.Get(), x, y);
}

class ThemeTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&token_, &input, nullptr);
    }
    static void TearDownTestSuite() { Gdiplus::GdiplusShutdown(token_); }

    void SetUp() override {
        dir_ = Narrow(test::TempFolder(L"theme"));
        frame_ = Narrow(test::ExeFolder()) + "UI\\Themes\\Default\\Frame.bmp";
    }

    // 4 x 2: the left half fully transparent, the right half opaque red.
    bool WritePng(const std::string& path) {
        return CopyFileW((test::TestData(L"skin") + L"half.png").c_str(), fs::path(path).c_str(),
                         FALSE);
    }

    static inline ULONG_PTR token_ = 0;
    std::string dir_, frame_;
};

TEST_F(ThemeTest, PicturesLoadByTheirFileNamesExtension) {
    SkinBitmap bitmap;
    const std::string lower = dir_ + "frame.bmp";
    ASSERT_TRUE(fs::copy_file(frame_, lower, fs::copy_options::overwrite_existing));
    EXPECT_TRUE(bitmap.Attach(lower, 0));
    ThemeBrush brush;
    EXPECT_TRUE(brush.CreateFromBitmap(bitmap.Get()));

    // A name that is only ".BMP" has no extension, even though the file is a good bitmap.
    fs::copy_file(frame_, dir_ + ".BMP", fs::copy_options::overwrite_existing);
    SetCurrentDirectoryA(dir_.c_str());
    EXPECT_FALSE(bitmap.Attach(".BMP", 0));
    EXPECT_FALSE(brush.CreateFromBitmap(bitmap.Get()));

    // A PNG in a folder whose name ends in ".BMP" is a PNG; its transparent half over fill
    // colour 0 is black.
    fs::create_directories(dir_ + "x.BMP");
    const std::string png = dir_ + "x.BMP\\Frame.png";
    ASSERT_TRUE(WritePng(png));
    ASSERT_TRUE(bitmap.Attach(png, 0));
    EXPECT_EQ(BitmapPixel(bitmap.Get(), 0, 0), RGB(0, 0, 0));
    EXPECT_EQ(BitmapPixel(bitmap.Get(), 3, 1), RGB(255, 0, 0));
    ASSERT_TRUE(bitmap.Attach(png, RGB(0, 0, 255)));
    EXPECT_EQ(BitmapPixel(bitmap.Get(), 1, 0), RGB(0, 0, 255));

    fs::copy_file(png, dir_ + "frame.tif", fs::copy_options::overwrite_existing);
    EXPECT_FALSE(bitmap.Attach(dir_ + "frame.tif", 0));
    EXPECT_FALSE(brush.CreateFromBitmap(bitmap.Get()));
}

TEST_F(ThemeTest, BrokenFilesAreRefusedAndAttachLeaksNothing) {
    const std::string cut = dir_ + "cut.bmp";
    fs::copy_file(frame_, cut, fs::copy_options::overwrite_existing);
    fs::resize_file(cut, fs::file_size(cut) - 1);
    SkinBitmap bitmap;
    EXPECT_FALSE(bitmap.Attach(cut, 0));
    fs::resize_file(cut, 20);
    EXPECT_FALSE(bitmap.Attach(cut, 0));
    const std::string badPng = dir_ + "bad.png";
    fs::copy_file(cut, badPng, fs::copy_options::overwrite_existing);
    EXPECT_FALSE(bitmap.Attach(badPng, 0));
    EXPECT_FALSE(bitmap.Attach(dir_ + "missing.bmp", 0));

    const std::string png = dir_ + "ok.png";
    ASSERT_TRUE(WritePng(png));
    bitmap.Attach(frame_, 0);
    const DWORD before = test::GdiObjectCount();
    for (int i = 0; i < 1000; ++i)
        ASSERT_TRUE(bitmap.Attach(i % 2 ? png : frame_, 0)) << i;
    bitmap.Attach(frame_, 0);
    EXPECT_EQ(test::GdiObjectCount(), before);
}

TEST(SkinLabelTest, PaintsBackgroundAloneWhenEmptyAndTextInTheParentsFontOrItsOwn) {
    test::TestWindow window;
    win::Font big(CreateFontW(-30, 0, 0, 0, FW_BOLD, 0, 0, 0, 0, 0, 0, 0, 0, L"Tahoma"));
    win::Font small(CreateFontW(-8, 0, 0, 0, FW_BOLD, 0, 0, 0, 0, 0, 0, 0, 0, L"Tahoma"));
    window.font = big.Get();
    win::Brush green(CreateSolidBrush(RGB(0, 120, 0)));
    SkinLabel label;
    ASSERT_TRUE(label.Create(window.Handle(), 300, RECT{10, 10, 210, 50}));
    label.SetBackground(green.Get());
    InvalidateRect(label.Handle(), nullptr, TRUE);
    auto inkRows = [&] {
        int rows = 0, other = 0;
        test::PixelAt(label.Handle(), {0, 0});  // after the pending paint
        win::WindowDC dc(label.Handle());
        for (int y = 0; y < 40; ++y) {
            bool ink = false;
            for (int x = 0; x < 200; ++x) {
                const COLORREF c = GetPixel(dc.Get(), x, y);
                ink |= c == RGB(255, 255, 255);
                other += c != RGB(255, 255, 255) && c != RGB(0, 120, 0);
            }
            rows += ink;
        }
        return std::pair{rows, other};
    };
    EXPECT_EQ(inkRows(), (std::pair{0, 0}));  // empty: only the background

    label.SetText("HHHH", 4, RGB(255, 255, 255), nullptr);
    InvalidateRect(label.Handle(), nullptr, TRUE);
    const int parentFontRows = inkRows().first;
    EXPECT_GE(parentFontRows, 18);
    label.SetText("HHHH", 4, RGB(255, 255, 255), small.Get());
    InvalidateRect(label.Handle(), nullptr, TRUE);
    const int ownFontRows = inkRows().first;
    EXPECT_GT(ownFontRows, 0);
    EXPECT_LT(ownFontRows, 12);

    SendMessageW(label.Handle(), WM_COMMAND, 4242, 0);
    EXPECT_EQ(window.Count(WM_COMMAND, 4242), 1);
}

TEST(ForwardingPaneTest, ForwardsToALiveTargetOnlyAndPaintsTheContentPattern) {
    test::TestWindow window;
    const DWORD pixel = 0x3C4650;  // RGB(60, 70, 80) stored blue, green, red
    win::Bitmap tile(CreateBitmap(1, 1, 1, 32, &pixel));
    ThemeContentBrush().CreateFromBitmap(tile.Get());
    ForwardingPane pane;
    ASSERT_TRUE(pane.Create(window.Handle(), 301));
    SetWindowPos(pane.Handle(), nullptr, 0, 0, 50, 50, SWP_NOZORDER);
    InvalidateRect(pane.Handle(), nullptr, TRUE);
    EXPECT_EQ(test::PixelAt(pane.Handle(), {25, 25}), RGB(60, 70, 80));

    MSG msg{pane.Handle(), WM_USER + 7, 11, 22, 0, {}};
    EXPECT_FALSE(pane.PreTranslateMessage(msg));  // no target: nothing happens
    auto target = std::make_unique<test::TestWindow>(RECT{600, 100, 650, 150});
    int leaves = 0;
    target->intercept = [&](UINT m, WPARAM w, LPARAM l, LRESULT&) {
        leaves += m == WM_MOUSELEAVE && w == 0 && l == 0;
        return false;
    };
    pane.SetTarget(target->Handle());
    pane.PreTranslateMessage(msg);
    ASSERT_EQ(target->Count(WM_USER + 7, 11), 1);
    EXPECT_EQ(target->received[0].lParam, 22);
    SendMessageW(pane.Handle(), WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(leaves, 1);

    target.reset();  // the target goes first; the pane must not touch it
    pane.PreTranslateMessage(msg);
    SendMessageW(pane.Handle(), WM_MOUSELEAVE, 0, 0);
    ThemeContentBrush().Reset();
}

TEST(AssetsTest, EveryButtonFaceLoadsAtItsButtonsSizeAndTheThemeTilesLoad) {
    const std::wstring ui = test::ExeFolder() + L"UI\\";
    struct Face {
        const wchar_t* folder;
        int width, height;
    } faces[] = {{L"Help", 20, 20}, {L"Minimize", 24, 24},  {L"close", 24, 24},
                 {L"Menu", 32, 32}, {L"DoCapture", 42, 42}, {L"Register", 400, 30}};
    std::vector<std::pair<std::wstring, SIZE>> files;
    for (const Face& f : faces)
        for (const wchar_t* name : {L"Normal.ico", L"HighLight.ico", L"Pressed.ico"})
            files.push_back({ui + L"Buttons\\" + f.folder + L"\\" + name, SIZE{f.width, f.height}});
    files.push_back({ui + L"Buttons\\RecordTime.ico", SIZE{80, 24}});
    for (const auto& [path, size] : files) {
        win::Icon icon(static_cast<HICON>(
            LoadImageW(nullptr, path.c_str(), IMAGE_ICON, size.cx, size.cy, LR_LOADFROMFILE)));
        ASSERT_TRUE(icon) << fs::path(path).string();
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon.Get(), &info));
        win::Bitmap colour(info.hbmColor), mask(info.hbmMask);
        BITMAP bm{};
        GetObjectW(colour.Get(), sizeof(bm), &bm);
        EXPECT_EQ(bm.bmWidth, size.cx) << fs::path(path).string();
        EXPECT_EQ(bm.bmHeight, size.cy) << fs::path(path).string();
        EXPECT_EQ(bm.bmBitsPixel, 32);
    }
    for (const char* tile : {"Frame.bmp", "Content.bmp"}) {
        SkinBitmap bitmap;
        EXPECT_TRUE(bitmap.Attach(Narrow(ui) + "Themes\\Default\\" + tile, 0)) << tile;
    }
}

}  // namespace
}  // namespace qm::skin
