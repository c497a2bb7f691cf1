#include "skin/skin_rules.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace qm::skin {
namespace {

TEST(SkinRules, HitTestExcludesLastColumnAndRowAndHiddenButtons) {
    const Rect client{0, 0, 100, 30};
    const std::vector<ButtonShape> buttons = {
        {{0, 0, 20, 20}, kPushButton},
        {{10, 0, 30, 20}, kPushButton},  // overlaps the first: the first in list order wins
        {{40, 0, 60, 30}, kHidden},
        {{40, 0, 100, 30}, kToggle},
    };
    struct Case {
        Point p;
        int expected;
    } cases[] = {
        {{0, 0}, 0},   {{19, 19}, 0}, {{20, 19}, 1},  {{15, 5}, 0},   {{29, 5}, 1},
        {{30, 5}, -1}, {{45, 5}, 3},  {{99, 5}, -1},  {{98, 29}, -1}, {{98, 28}, 3},
        {{-1, 5}, -1}, {{5, -1}, -1}, {{20, 20}, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HitTest(client, buttons, c.p), c.expected) << c.p.x << "," << c.p.y;
    EXPECT_EQ(HitTest({0, 0, 0, 0}, buttons, {0, 0}), -1);
}

TEST(SkinRules, FacesAndToggleFrames) {
    for (int s = 0; s < 4; ++s)
        EXPECT_EQ(FaceForState(s), s);
    for (int s : {-1, 4, 1000})
        EXPECT_EQ(FaceForState(s), 0);

    const ToggleFrame sunken = ToggleFrameColours(kHot);
    EXPECT_EQ(sunken.topLeft, Rgb(0, 0, 0));
    EXPECT_EQ(sunken.bottomRight, Rgb(200, 200, 200));
    for (int s : {0, 2, 3}) {
        EXPECT_EQ(ToggleFrameColours(s).topLeft, Rgb(200, 200, 200));
        EXPECT_EQ(ToggleFrameColours(s).bottomRight, Rgb(0, 0, 0));
    }
    Rect outer, inner;
    ToggleFrameRects({0, 0, 42, 42}, outer, inner);
    EXPECT_EQ(outer.right, 41);
    EXPECT_EQ(outer.bottom, 41);
    EXPECT_EQ(inner.left, 1);
    EXPECT_EQ(inner.right, 40);
}

TEST(SkinRules, ColourBlendMatchesPerChannelFormula) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<Colour> colour(0, 0xFFFFFF);
    for (int i = 0; i < 2000; ++i) {
        const Colour c1 = colour(rng), c2 = colour(rng);
        const int a = static_cast<int>(rng() % 256);
        EXPECT_EQ(ColourBlend(c1, c1, a), c1);
        EXPECT_EQ(ColourBlend(c1, c2, 0), c1);
        EXPECT_EQ(ColourBlend(c1, c2, 255), c2);
        const Colour b = ColourBlend(c1, c2, a);
        for (int shift = 0; shift <= 16; shift += 8) {
            const unsigned x = (c1 >> shift) & 0xFF, y = (c2 >> shift) & 0xFF;
            EXPECT_EQ((b >> shift) & 0xFF, (x * (255 - a) + y * a) / 255);
        }
        EXPECT_EQ(b >> 24, 0u);
    }
    // The dialog's check mark: blend of RGB(86, 106, 130) toward RGB(64, 64, 64) by 140.
    EXPECT_EQ(ColourBlend(Rgb(86, 106, 130), Rgb(64, 64, 64), 140), Rgb(73, 82, 93));
    EXPECT_EQ(ColourBlend(Rgb(1, 2, 3), Rgb(4, 5, 6), 999), Rgb(4, 5, 6));
}

TEST(SkinRules, MenuMeasuresAndWindowShrink) {
    EXPECT_EQ(MeasureMenuItem(1, 100).height, 7);
    EXPECT_EQ(MeasureMenuItem(1, 100).width, 0);
    EXPECT_EQ(MeasureMenuItem(7006, 37).width, 65);
    EXPECT_EQ(MeasureMenuItem(7006, 37).height, 28);
    EXPECT_EQ(MeasureMenuItem(7006, 0).width, 28);

    EXPECT_EQ(GrowMenuItemRect({0, 10, 50, 17}).top, 0);  // 21 short: 10 each side
    EXPECT_EQ(GrowMenuItemRect({0, 10, 50, 17}).bottom, 27);
    EXPECT_EQ(GrowMenuItemRect({0, 0, 50, 40}).bottom, 40);

    EXPECT_EQ(ShrinkMenuWindow({100, 60}, 1, 1).width, 94);
    EXPECT_EQ(ShrinkMenuWindow({100, 60}, 1, 2).height, 52);
    EXPECT_EQ(ShrinkMenuWindow({3, 0}, 1, 1).width, 0);
    EXPECT_EQ(ShrinkMenuWindow({3, 0}, 1, 1).height, 0);
}

TEST(SkinRules, PictureKindFromTheFileNamesOwnExtension) {
    struct Case {
        const char* path;
        PictureKind kind;
    } cases[] = {
        {"frame.bmp", PictureKind::kBitmap},
        {"C:\\Prog\\UI\\Themes\\Default\\Frame.BMP", PictureKind::kBitmap},
        {".bmp", PictureKind::kUnsupported},
        {"C:\\x\\.bmp", PictureKind::kUnsupported},
        {"C:\\x.BMP\\Frame.png", PictureKind::kPng},
        {"C:\\x.png\\Frame", PictureKind::kUnsupported},
        {"a/b.Ico", PictureKind::kIcon},
        {"a.jpg", PictureKind::kJpeg},
        {"a.JPEG", PictureKind::kJpeg},
        {"a.gif", PictureKind::kGif},
        {"a.bmpx", PictureKind::kUnsupported},
        {"a.tif", PictureKind::kUnsupported},
        {"", PictureKind::kUnsupported},
        {"bmp", PictureKind::kUnsupported},
        {"a.", PictureKind::kUnsupported},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PictureKindOf(c.path), c.kind) << c.path;
}

std::vector<std::uint8_t> Bmp(int width, int height, int bits) {
    const int stride = ((width * bits + 31) / 32) * 4;
    const int pixels = stride * (height < 0 ? -height : height);
    std::vector<std::uint8_t> f(54 + static_cast<std::size_t>(pixels), 0);
    auto put = [&f](std::size_t at, std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            f[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    f[0] = 'B';
    f[1] = 'M';
    put(2, static_cast<std::uint32_t>(f.size()), 4);
    put(10, 54, 4);
    put(14, 40, 4);
    put(18, static_cast<std::uint32_t>(width), 4);
    put(22, static_cast<std::uint32_t>(height), 4);
    put(26, 1, 2);
    put(28, static_cast<std::uint32_t>(bits), 2);
    return f;
}

TEST(SkinRules, BitmapFileCheckRefusesTruncatedAndCorruptFiles) {
    EXPECT_TRUE(BitmapFileIsWhole(Bmp(8, 8, 24)));
    EXPECT_TRUE(BitmapFileIsWhole(Bmp(3, -5, 24)));  // top-down
    EXPECT_TRUE(BitmapFileIsWhole(Bmp(13, 2, 1)));
    std::vector<std::uint8_t> cut = Bmp(8, 8, 24);
    cut.pop_back();
    EXPECT_FALSE(BitmapFileIsWhole(cut));
    EXPECT_FALSE(BitmapFileIsWhole(Bmp(0, 8, 24)));
    EXPECT_FALSE(BitmapFileIsWhole(Bmp(8, 0, 24)));
    EXPECT_FALSE(BitmapFileIsWhole(Bmp(8, 8, 7)));
    std::vector<std::uint8_t> huge = Bmp(8, 8, 24);
    huge[21] = 0x7F;  // width ~2^31: the size arithmetic must not wrap
    EXPECT_FALSE(BitmapFileIsWhole(huge));
    std::vector<std::uint8_t> offset = Bmp(8, 8, 24);
    offset[13] = 0x10;  // pixel data beyond the end
    EXPECT_FALSE(BitmapFileIsWhole(offset));

    // Every prefix of a good file and random corruption of its headers: never a read outside.
    const std::vector<std::uint8_t> good = Bmp(5, 4, 32);
    for (std::size_t n = 0; n < good.size(); ++n)
        EXPECT_FALSE(BitmapFileIsWhole({good.data(), n})) << n;
    std::mt19937 rng(3);
    for (int i = 0; i < 5000; ++i) {
        std::vector<std::uint8_t> bad = good;
        bad[rng() % 54] = static_cast<std::uint8_t>(rng());
        bad.resize(rng() % (bad.size() + 1));
        BitmapFileIsWhole(bad);
    }
}

}  // namespace
}  // namespace qm::skin
