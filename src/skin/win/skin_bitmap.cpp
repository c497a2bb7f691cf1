#include "skin/win/skin_bitmap.h"

#include <gdiplus.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "skin/skin_rules.h"
#include "winbase/win/text.h"

namespace qm::skin {
namespace {

HBITMAP LoadBitmapFile(const std::string& path) {
    std::ifstream in(std::filesystem::path(qm::win::WidenUtf8(path)), std::ios::binary);
    if (!in)
        return nullptr;
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    if (!BitmapFileIsWhole(bytes))
        return nullptr;
    return static_cast<HBITMAP>(
        LoadImageW(nullptr, qm::win::WidenUtf8(path).c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
}

struct GdipImage {
    Gdiplus::GpImage* image = nullptr;
    ~GdipImage() {
        if (image)
            Gdiplus::DllExports::GdipDisposeImage(image);
    }
};
struct GdipGraphics {
    Gdiplus::GpGraphics* graphics = nullptr;
    ~GdipGraphics() {
        if (graphics)
            Gdiplus::DllExports::GdipDeleteGraphics(graphics);
    }
};

HBITMAP RenderPicture(const std::string& path, COLORREF fillColour) {
    using namespace Gdiplus::DllExports;
    GdipImage picture;
    const std::wstring wide = qm::win::WidenUtf8(path);
    if (GdipLoadImageFromFile(wide.c_str(), &picture.image) != Gdiplus::Ok)
        return nullptr;
    UINT width = 0, height = 0;
    GdipGetImageWidth(picture.image, &width);
    GdipGetImageHeight(picture.image, &height);
    if (width == 0 || height == 0 || width > 32768 || height > 32768)
        return nullptr;

    win::WindowDC screen(nullptr);
    win::MemoryDC memory(CreateCompatibleDC(screen.Get()));
    win::Bitmap bitmap(
        CreateCompatibleBitmap(screen.Get(), static_cast<int>(width), static_cast<int>(height)));
    if (!memory || !bitmap)
        return nullptr;
    {
        win::Selection selected(memory.Get(), bitmap.Get());
        if (fillColour != static_cast<COLORREF>(-1)) {
            win::Brush fill(CreateSolidBrush(fillColour));
            const RECT all{0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
            FillRect(memory.Get(), &all, fill.Get());
        }
        GdipGraphics graphics;
        if (GdipCreateFromHDC(memory.Get(), &graphics.graphics) != Gdiplus::Ok)
            return nullptr;
        if (GdipDrawImageRectI(graphics.graphics, picture.image, 0, 0, static_cast<INT>(width),
                               static_cast<INT>(height)) != Gdiplus::Ok)
            return nullptr;
    }
    return bitmap.Release();
}

}  // namespace

HBITMAP SkinBitmap::LoadFromFile(const std::string& path, COLORREF fillColour) {
    switch (PictureKindOf(path)) {
        case PictureKind::kBitmap:
            return LoadBitmapFile(path);
        case PictureKind::kUnsupported:
            return nullptr;
        default:
            return RenderPicture(path, fillColour);
    }
}

bool SkinBitmap::Attach(const std::string& path, COLORREF fillColour) {
    bitmap_.Reset();
    bitmap_.Reset(LoadFromFile(path, fillColour));
    return static_cast<bool>(bitmap_);
}

}  // namespace qm::skin
