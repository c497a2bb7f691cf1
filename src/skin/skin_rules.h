// The rules of the skinned controls that need no window: hit testing of a button bar, the
// face drawn for a state, the colours of a toggle's frame, menu item measuring and the menu
// window's shrink, ColourBlend, and the kind of a theme picture from its path. Plain functions
// on plain values, safe on any thread; the Win32 controls in this folder call them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace qm::skin {

struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;
};
struct Point {
    int x = 0, y = 0;
};
struct Size {
    int width = 0, height = 0;
};

// Colours in the platform's layout: red in the low byte, then green, then blue.
using Colour = std::uint32_t;
constexpr Colour Rgb(int r, int g, int b) {
    return static_cast<Colour>(r & 0xFF) | static_cast<Colour>(g & 0xFF) << 8 |
           static_cast<Colour>(b & 0xFF) << 16;
}

// True when the point lies inside, the right and bottom edges excluded.
bool Contains(const Rect& rect, Point point);

enum ButtonKind : int { kPushButton = 0, kToggle = 1, kHidden = 2 };
enum ButtonState : int { kNormal = 0, kHot = 1, kPressed = 2, kDisabled = 3 };

struct ButtonShape {
    Rect rect;
    int kind = kPushButton;
};

// Index of the first visible button containing the point, or -1. The client rectangle counts
// without its last column and row; hidden buttons are never hit.
int HitTest(const Rect& client, std::span<const ButtonShape> buttons, Point point);

// The image drawn for a state: states outside 0-3 draw the normal face.
int FaceForState(int state);

// A toggle's two one-pixel frames: sunken when selected (state 1), raised otherwise.
struct ToggleFrame {
    Colour topLeft;
    Colour bottomRight;
};
ToggleFrame ToggleFrameColours(int state);
// The two frame rectangles, outer first (right and bottom edges moved in by one).
void ToggleFrameRects(const Rect& button, Rect& outer, Rect& inner);

// Per channel (c1 * (255 - a) + c2 * a) / 255, truncated; `a` is clamped to 0-255.
Colour ColourBlend(Colour c1, Colour c2, int a);

// Menu items: id 1 is the 7-pixel separator, every other item is its text plus 28 wide, 28 high.
constexpr int kMenuItemHeight = 28;
constexpr int kMenuStripWidth = 28;
Size MeasureMenuItem(unsigned id, int textWidth);
// An item rectangle lower than an item grows by half the shortfall on each side.
Rect GrowMenuItemRect(const Rect& item);
// The proposed size of a flattened menu window, smaller by the border it no longer has;
// never negative.
Size ShrinkMenuWindow(Size proposed, int borderWidth, int borderHeight);

// How a theme picture is decoded, from the extension of its file name.
enum class PictureKind { kBitmap, kIcon, kJpeg, kGif, kPng, kUnsupported };
PictureKind PictureKindOf(std::string_view path);

// Whether a BMP file's headers describe pixel data that lies inside the file and a size that is
// not empty; a truncated or corrupt file is refused before any loader sees it.
bool BitmapFileIsWhole(std::span<const std::uint8_t> file);

}  // namespace qm::skin
