#include "winbase/win/window.h"

#include <cstdio>

namespace qm::win {
namespace {

const wchar_t kBinding[] = L"Quillmar.Window";

}  // namespace

Window::~Window() {
    HWND hwnd = hwnd_;
    Unbind();
    if (hwnd && IsWindow(hwnd))
        DestroyWindow(hwnd);
}

Window* Window::FromHandle(HWND hwnd) {
    return hwnd ? static_cast<Window*>(GetPropW(hwnd, kBinding)) : nullptr;
}

bool Window::Create(DWORD exStyle, const wchar_t* className, const wchar_t* title, DWORD style,
                    const RECT& rect, HWND parent, UINT_PTR idOrMenu) {
    if (hwnd_)
        return false;
    HWND hwnd = CreateWindowExW(exStyle, className, title, style, rect.left, rect.top,
                                rect.right - rect.left, rect.bottom - rect.top, parent,
                                reinterpret_cast<HMENU>(idOrMenu), GetModuleHandleW(nullptr), this);
    return hwnd != nullptr && hwnd == hwnd_;
}

bool Window::Subclass(HWND hwnd) {
    if (hwnd_ || !hwnd || FromHandle(hwnd))
        return false;
    Bind(hwnd);
    previous_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Window::Procedure)));
    if (!previous_) {
        Unbind();
        return false;
    }
    return true;
}

void Window::Destroy() {
    if (hwnd_)
        DestroyWindow(hwnd_);
}

bool Window::PreTranslateMessage(MSG&) {
    return false;
}

void Window::Bind(HWND hwnd) {
    hwnd_ = hwnd;
    SetPropW(hwnd, kBinding, this);
}

void Window::Unbind() {
    if (!hwnd_)
        return;
    if (previous_ && IsWindow(hwnd_)) {
        SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
    }
    if (IsWindow(hwnd_))
        RemovePropW(hwnd_, kBinding);
    previous_ = nullptr;
    hwnd_ = nullptr;
}

LRESULT Window::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefaultProc(message, wParam, lParam);
}

LRESULT Window::DefaultProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (previous_)
        return CallWindowProcW(previous_, hwnd_, message, wParam, lParam);
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

LRESULT CALLBACK Window::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* self = FromHandle(hwnd);
    if (!self && message == WM_NCCREATE) {
        self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        if (self)
            self->Bind(hwnd);
    }
    if (!self)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    LRESULT result = self->HandleMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY)
        self->Unbind();
    return result;
}

std::wstring RegisterAnonymousClass(UINT style, HCURSOR cursor, HBRUSH background, HICON icon) {
    wchar_t name[96];
    std::swprintf(name, 96, L"Quillmar:%x:%p:%p:%p", style, static_cast<void*>(cursor),
                  static_cast<void*>(background), static_cast<void*>(icon));
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof(existing);
    if (GetClassInfoExW(instance, name, &existing))
        return name;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = style;
    wc.lpfnWndProc = &Window::Procedure;
    wc.hInstance = instance;
    wc.hCursor = cursor;
    wc.hbrBackground = background;
    wc.hIcon = icon;
    wc.lpszClassName = name;
    if (!RegisterClassExW(&wc))
        return {};
    return name;
}

}  // namespace qm::win
