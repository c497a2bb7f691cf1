#include "skin/skin_rules.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

namespace qm::skin {

bool Contains(const Rect& rect, Point p) {
    return p.x >= rect.left && p.x < rect.right && p.y >= rect.top && p.y < rect.bottom;
}

int HitTest(const Rect& client, std::span<const ButtonShape> buttons, Point point) {
    const Rect inner{client.left, client.top, client.right - 1, client.bottom - 1};
    if (!Contains(inner, point))
        return -1;
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        if (buttons[i].kind != kHidden && Contains(buttons[i].rect, point))
            return static_cast<int>(i);
    }
    return -1;
}

int FaceForState(int state) {
    return state >= kNormal && state <= kDisabled ? state : kNormal;
}

ToggleFrame ToggleFrameColours(int state) {
    const Colour black = Rgb(0, 0, 0);
    const Colour light = Rgb(200, 200, 200);
    return state == kHot ? ToggleFrame{black, light} : ToggleFrame{light, black};
}

void ToggleFrameRects(const Rect& b, Rect& outer, Rect& inner) {
    outer = {b.left, b.top, b.right - 1, b.bottom - 1};
    inner = {outer.left + 1, outer.top + 1, outer.right - 1, outer.bottom - 1};
}

Colour ColourBlend(Colour c1, Colour c2, int a) {
    a = std::clamp(a, 0, 255);
    Colour out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const unsigned x = (c1 >> shift) & 0xFF;
        const unsigned y = (c2 >> shift) & 0xFF;
        out |= ((x * (255u - a) + y * static_cast<unsigned>(a)) / 255u) << shift;
    }
    return out;
}

Size MeasureMenuItem(unsigned id, int textWidth) {
    if (id == 1)
        return {0, 7};
    return {std::max(textWidth, 0) + kMenuStripWidth, kMenuItemHeight};
}

Rect GrowMenuItemRect(const Rect& item) {
    Rect r = item;
    const int height = r.bottom - r.top;
    if (height < kMenuItemHeight) {
        const int half = (kMenuItemHeight - height) / 2;
        r.top -= half;
        r.bottom += half;
    }
    return r;
}

Size ShrinkMenuWindow(Size proposed, int borderWidth, int borderHeight) {
    return {std::max(0, proposed.width - 2 * (2 + borderWidth)),
            std::max(0, proposed.height - 2 * (2 + borderHeight))};
}

PictureKind PictureKindOf(std::string_view path) {
    // The extension of the file name itself: a folder called "x.BMP" says nothing about the
    // file inside it, and a name that is only ".bmp" has no extension.
    const std::size_t slash = path.find_last_of("\\/");
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return PictureKind::kUnsupported;
    std::string ext(name.substr(dot + 1));
    for (char& c : ext)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (ext == "BMP")
        return PictureKind::kBitmap;
    if (ext == "ICO")
        return PictureKind::kIcon;
    if (ext == "JPG" || ext == "JPEG")
        return PictureKind::kJpeg;
    if (ext == "GIF")
        return PictureKind::kGif;
    if (ext == "PNG")
        return PictureKind::kPng;
    return PictureKind::kUnsupported;
}

namespace {

std::uint32_t U32(std::span<const std::uint8_t> b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::uint16_t U16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

}  // namespace

bool BitmapFileIsWhole(std::span<const std::uint8_t> file) {
    constexpr std::size_t kFileHeader = 14;
    if (file.size() < kFileHeader + 12 || file[0] != 'B' || file[1] != 'M')
        return false;
    const std::uint32_t pixelsAt = U32(file, 10);
    const std::uint32_t infoSize = U32(file, 14);
    std::int64_t width = 0, height = 0;
    unsigned bits = 0, planes = 0, compression = 0;
    if (infoSize == 12) {
        width = U16(file, 18);
        height = U16(file, 20);
        planes = U16(file, 22);
        bits = U16(file, 24);
    } else if (infoSize >= 40 && infoSize <= 124 && file.size() >= kFileHeader + infoSize) {
        width = static_cast<std::int32_t>(U32(file, 18));
        height = static_cast<std::int32_t>(U32(file, 22));
        planes = U16(file, 26);
        bits = U16(file, 28);
        compression = U32(file, 30);
    } else {
        return false;
    }
    if (height < 0)
        height = -height;
    if (width <= 0 || height <= 0 || width > 32768 || height > 32768 || planes != 1)
        return false;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return false;
    if (pixelsAt < kFileHeader + infoSize || pixelsAt > file.size())
        return false;
    // Run-length and embedded formats have no fixed size: their data must at least be present.
    if (compression == 1 || compression == 2 || compression == 4 || compression == 5)
        return pixelsAt < file.size();
    const std::uint64_t stride = ((static_cast<std::uint64_t>(width) * bits + 31) / 32) * 4;
    return stride * static_cast<std::uint64_t>(height) <= file.size() - pixelsAt;
}

}  // namespace qm::skin
