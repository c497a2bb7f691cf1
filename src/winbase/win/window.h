// Window: a C++ object bound to one HWND, with virtual message handling and pre-translation.
//
// The object is found from its handle through a window property set at WM_NCCREATE (windows of
// our own classes) or by Subclass (windows of system classes, and dialogs). The object does not
// own the window's life by itself: destroying the object destroys a window it still holds, but
// after unbinding, so a derived class's handler is never called from a base destructor. Derived
// classes that must see WM_DESTROY call Destroy() in their own destructor.
// Every member is called on the thread that created the window (the GUI thread).
#pragma once

#include <windows.h>

#include <string>

namespace qm::win {

class Window {
  public:
    Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    virtual ~Window();

    HWND Handle() const { return hwnd_; }
    static Window* FromHandle(HWND hwnd);

    // CreateWindowExW with this object bound from the first message on. The class must be one
    // registered with Window::Procedure (RegisterAnonymousClass does so).
    bool Create(DWORD exStyle, const wchar_t* className, const wchar_t* title, DWORD style,
                const RECT& rect, HWND parent, UINT_PTR idOrMenu);
    // Binds an existing window (a system control): its procedure becomes ours, the old one
    // handles what we pass on.
    bool Subclass(HWND hwnd);
    void Destroy();

    // Called for every message of the modal loop whose target is this window or one of its
    // descendants, before dispatch; return true to stop the message there.
    virtual bool PreTranslateMessage(MSG& msg);

    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  protected:
    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // What the window would do without us: the subclassed procedure, or DefWindowProc.
    virtual LRESULT DefaultProc(UINT message, WPARAM wParam, LPARAM lParam);

    void Bind(HWND hwnd);
    void Unbind();

    HWND hwnd_ = nullptr;
    WNDPROC previous_ = nullptr;
};

// Registers (once per distinct set of arguments) a window class whose procedure is
// Window::Procedure and returns its generated name.
std::wstring RegisterAnonymousClass(UINT style, HCURSOR cursor, HBRUSH background,
                                    HICON icon = nullptr);

}  // namespace qm::win
