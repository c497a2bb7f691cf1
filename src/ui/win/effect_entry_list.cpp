#include "ui/win/effect_entry_list.h"

#include <windowsx.h>

#include <gdiplus.h>

#include "skin/win/theme.h"
#include "ui/win/windows_catalogue_files.h"
#include "winbase/win/text.h"

namespace qm::ui {
namespace {

using namespace catalogue;

constexpr COLORREF kListFrame = RGB(180, 180, 180);
constexpr COLORREF kHotFrame = RGB(29, 60, 167);
constexpr COLORREF kEntryFrame = RGB(120, 120, 120);
constexpr int kTooltipOffset = 25;
constexpr UINT kHoverMs = 150;

void FrameWith(HDC dc, RECT r, COLORREF colour, int width) {
    win::Brush brush(CreateSolidBrush(colour));
    for (int i = 0; i < width; ++i) {
        FrameRect(dc, &r, brush.Get());
        InflateRect(&r, -1, -1);
    }
}

RECT PictureRect(int position) {
    const int left = position * kCellWidth + 4;
    return RECT{left, 6, left + kThumbWidth, 6 + kThumbHeight};
}

// The picture file drawn to 80 x 60 in a 24-bit bitmap; null when it cannot be loaded.
HBITMAP LoadThumbnail(const std::string& path) {
    using namespace Gdiplus::DllExports;
    if (path.empty())
        return nullptr;
    Gdiplus::GpImage* image = nullptr;
    if (GdipLoadImageFromFile(qm::win::WidenUtf8(path).c_str(), &image) != Gdiplus::Ok)
        return nullptr;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = kThumbWidth;
    info.bmiHeader.biHeight = -kThumbHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    win::Bitmap bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    win::MemoryDC memory(CreateCompatibleDC(nullptr));
    bool drawn = false;
    if (bitmap && memory) {
        win::Selection selected(memory.Get(), bitmap.Get());
        Gdiplus::GpGraphics* graphics = nullptr;
        if (GdipCreateFromHDC(memory.Get(), &graphics) == Gdiplus::Ok) {
            drawn =
                GdipDrawImageRectI(graphics, image, 0, 0, kThumbWidth, kThumbHeight) == Gdiplus::Ok;
            GdipDeleteGraphics(graphics);
        }
    }
    GdipDisposeImage(image);
    return drawn ? bitmap.Release() : nullptr;
}

}  // namespace

EffectEntryList::~EffectEntryList() {
    Destroy();
}

bool EffectEntryList::Create(HWND parent, int id) {
    const std::wstring cls =
        win::RegisterAnonymousClass(CS_DBLCLKS, LoadCursorA(nullptr, IDC_ARROW), nullptr);
    if (cls.empty() || !Window::Create(0, cls.c_str(), L"", WS_CHILD | WS_VISIBLE, RECT{0, 0, 1, 1},
                                       parent, static_cast<UINT_PTR>(id)))
        return false;
    mark_.Reset(ImageList_Create(32, 32, ILC_COLOR32 | ILC_MASK, 1, 0));
    if (HICON icon = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr),
                                                   MAKEINTRESOURCEW(kSelectedMarkIcon), IMAGE_ICON,
                                                   32, 32, 0))) {
        ImageList_AddIcon(mark_.Get(), icon);
        DestroyIcon(icon);
    }
    tooltip_.Create(parent);
    return true;
}

bool EffectEntryList::LoadCategory(const std::string& categoryPath) {
    pictures_.Reset(ImageList_Create(kThumbWidth, kThumbHeight, ILC_COLOR24, kPageEntries, 1));
    for (int k = 0; pictures_ && k < kPageEntries; ++k) {
        win::Bitmap blank(CreateBitmap(kThumbWidth, kThumbHeight, 1, 24, nullptr));
        ImageList_Add(pictures_.Get(), blank.Get(), nullptr);
    }
    hot_ = pressed_ = hover_ = -1;
    const bool loaded = catalogue_.Load(WindowsCatalogueFiles(), categoryPath);
    ReloadVisible();
    if (hwnd_)
        InvalidateRect(hwnd_, nullptr, TRUE);
    return loaded;
}

void EffectEntryList::ReloadVisible() {
    for (int k = 0; k < kPageEntries; ++k) {
        captions_[k] = qm::win::WidenUtf8(catalogue_.CaptionAt(k));  // from a file name
        // A picture that fails to load leaves an empty cell, never the last page's picture.
        hasPicture_[k] = false;
        if (k >= catalogue_.VisibleCount() || !pictures_)
            continue;
        win::Bitmap picture(LoadThumbnail(catalogue_.ThumbnailPathAt(k)));
        hasPicture_[k] = picture && ImageList_Replace(pictures_.Get(), k, picture.Get(), nullptr);
    }
}

bool EffectEntryList::Page(int command) {
    if (!catalogue_.Page(command))
        return false;
    pressed_ = hover_ = -1;
    ReloadVisible();
    InvalidateRect(hwnd_, nullptr, TRUE);
    return true;
}

bool EffectEntryList::EntryAt(int32_t index, EffectCatalogItem& item) const {
    return catalogue_.EntryAt(index, item);
}

int32_t EffectEntryList::HitTest(POINT point) const {
    RECT client{};
    GetClientRect(hwnd_, &client);
    return catalogue_.HitTest(point.x, point.y, client.right, client.bottom);
}

void EffectEntryList::DrawEntry(HDC dc, int32_t index) const {
    const int position = index - catalogue_.ScrollPosition();
    if (position < 0 || position >= catalogue_.VisibleCount())
        return;
    const RECT picture = PictureRect(position);
    if (hasPicture_[position]) {
        ImageList_Draw(pictures_.Get(), position, dc, picture.left, picture.top, ILD_NORMAL);
    } else {
        skin::FillWithBrush(dc, picture, skin::ThemeContentBrush().Get());
    }
    EffectCatalogItem item;
    if (catalogue_.EntryAt(index, item) && item.selected == 1 && mark_ &&
        ImageList_GetImageCount(mark_.Get()) > 0)
        ImageList_Draw(mark_.Get(), 0, dc, picture.left, picture.top, ILD_TRANSPARENT);
    RECT frame = picture;
    if (index == hot_) {
        InflateRect(&frame, 2, 2);
        FrameWith(dc, frame, kHotFrame, 2);
    } else {
        InflateRect(&frame, 1, 1);
        FrameWith(dc, frame, kEntryFrame, 1);
    }
}

void EffectEntryList::RedrawEntry(int32_t index) {
    win::WindowDC dc(hwnd_);
    const int position = index - catalogue_.ScrollPosition();
    if (!dc || position < 0 || position >= catalogue_.VisibleCount())
        return;
    // The hot frame reaches two pixels past the picture: clear them before the plain frame.
    RECT around = PictureRect(position);
    InflateRect(&around, 2, 2);
    skin::FillWithBrush(dc.Get(), around, skin::ThemeContentBrush().Get());
    DrawEntry(dc.Get(), index);
}

void EffectEntryList::OnDoubleClick(POINT point) {
    const int32_t index = HitTest(point);
    const auto notice = catalogue_.ToggleSelection(index);
    if (!notice)
        return;  // a double click on no entry does nothing
    if (notice->removed >= 0)
        RedrawEntry(notice->removed);
    RedrawEntry(notice->index);
    PostMessageW(GetParent(hwnd_), kEntryToggledMessage, static_cast<WPARAM>(notice->removed),
                 notice->index);
}

void EffectEntryList::OnMouseMove(POINT point) {
    skin::TrackPointer(hwnd_, HitTest(point) >= 0, tooltip_, kHoverMs);
}

void EffectEntryList::OnHover(POINT point) {
    const int32_t index = HitTest(point);
    if (index < 0) {
        hover_ = -1;
        tooltip_.Hide();
        return;
    }
    if (index == hover_)
        return;
    hover_ = index;
    POINT screen{point.x + kTooltipOffset, point.y};
    ClientToScreen(hwnd_, &screen);
    tooltip_.Show(captions_[static_cast<size_t>(index - catalogue_.ScrollPosition())], screen);
}

LRESULT EffectEntryList::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    const POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    switch (message) {
        case WM_PAINT: {
            win::PaintDC dc(hwnd_);
            RECT client{};
            GetClientRect(hwnd_, &client);
            skin::FillWithBrush(dc.Get(), client, skin::ThemeContentBrush().Get());
            RECT frame = client;
            --frame.bottom;
            FrameWith(dc.Get(), frame, kListFrame, 1);
            if (IsRectEmpty(&client))
                return 0;
            for (int k = 0; k < catalogue_.VisibleCount(); ++k)
                DrawEntry(dc.Get(), catalogue_.ScrollPosition() + k);
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;
        case WM_LBUTTONDOWN:
            SetFocus(hwnd_);
            pressed_ = HitTest(point);
            return 0;
        case WM_LBUTTONUP: {
            const int32_t hit = HitTest(point);
            if (hit >= 0 && hit == pressed_ && hit != hot_) {
                const int32_t old = hot_;
                hot_ = hit;
                if (old >= 0)
                    RedrawEntry(old);
                RedrawEntry(hit);
            } else {
                pressed_ = -1;
            }
            return 0;
        }
        case WM_LBUTTONDBLCLK:
            OnDoubleClick(point);
            return 0;
        case WM_MOUSEMOVE:
            OnMouseMove(point);
            return 0;
        case WM_MOUSEHOVER:
            OnHover(point);
            return 0;
        case WM_MOUSELEAVE:
            tooltip_.Hide();
            hover_ = -1;
            SetFocus(GetParent(hwnd_));
            return 0;
        case WM_MOUSEWHEEL:
            PostMessageW(
                hwnd_, kPageRequestMessage,
                static_cast<WPARAM>(EffectCatalogue::WheelCommand(GET_WHEEL_DELTA_WPARAM(wParam))),
                0);
            return 0;
        case WM_DESTROY:
            tooltip_.Destroy();
            break;
        default:
            break;
    }
    return Window::HandleMessage(message, wParam, lParam);
}

}  // namespace qm::ui
