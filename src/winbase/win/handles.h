// RAII owners for the Win32 handles the user interface takes: GDI objects, device contexts,
// icons, image lists, menus and hooks, and the selection of an object into a device context.
// Each owner frees exactly what it holds, once; moving transfers ownership. They may be used on
// any thread that may use the handle itself (for window DCs: the window's thread).
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <utility>

namespace qm::win {

template <class H, auto Free>
class UniqueHandle {
  public:
    UniqueHandle() = default;
    explicit UniqueHandle(H handle) : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    ~UniqueHandle() { Reset(); }

    H Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    H Release() { return std::exchange(handle_, nullptr); }
    void Reset(H handle = nullptr) {
        if (handle_)
            Free(handle_);
        handle_ = handle;
    }

  private:
    H handle_ = nullptr;
};

inline void FreeGdiObject(HGDIOBJ object) {
    DeleteObject(object);
}
inline void FreeIcon(HICON icon) {
    DestroyIcon(icon);
}
inline void FreeImageList(HIMAGELIST list) {
    ImageList_Destroy(list);
}
inline void FreeMenu(HMENU menu) {
    DestroyMenu(menu);
}
inline void FreeHook(HHOOK hook) {
    UnhookWindowsHookEx(hook);
}
inline void FreeMemoryDC(HDC dc) {
    DeleteDC(dc);
}

using Brush = UniqueHandle<HBRUSH, FreeGdiObject>;
using Bitmap = UniqueHandle<HBITMAP, FreeGdiObject>;
using Font = UniqueHandle<HFONT, FreeGdiObject>;
using Pen = UniqueHandle<HPEN, FreeGdiObject>;
using Region = UniqueHandle<HRGN, FreeGdiObject>;
using Icon = UniqueHandle<HICON, FreeIcon>;
using ImageList = UniqueHandle<HIMAGELIST, FreeImageList>;
using Menu = UniqueHandle<HMENU, FreeMenu>;
using Hook = UniqueHandle<HHOOK, FreeHook>;
using MemoryDC = UniqueHandle<HDC, FreeMemoryDC>;

// A window's device context from GetDC, released with ReleaseDC.
class WindowDC {
  public:
    explicit WindowDC(HWND window) : window_(window), dc_(GetDC(window)) {}
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    ~WindowDC() {
        if (dc_)
            ReleaseDC(window_, dc_);
    }
    HDC Get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

  private:
    HWND window_;
    HDC dc_;
};

// The paint context of WM_PAINT: BeginPaint on construction, EndPaint on destruction.
class PaintDC {
  public:
    explicit PaintDC(HWND window) : window_(window) { dc_ = BeginPaint(window, &paint_); }
    PaintDC(const PaintDC&) = delete;
    PaintDC& operator=(const PaintDC&) = delete;
    ~PaintDC() { EndPaint(window_, &paint_); }
    HDC Get() const { return dc_; }
    const RECT& Dirty() const { return paint_.rcPaint; }

  private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_ = nullptr;
};

// Selects an object into a device context and selects the previous one back on destruction,
// so the context never outlives the object while holding it.
class Selection {
  public:
    Selection(HDC dc, HGDIOBJ object)
        : dc_(dc), old_(object ? SelectObject(dc, object) : nullptr) {}
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;
    ~Selection() {
        if (old_)
            SelectObject(dc_, old_);
    }

  private:
    HDC dc_;
    HGDIOBJ old_;
};

}  // namespace qm::win
