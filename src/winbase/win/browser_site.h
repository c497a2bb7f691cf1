// BrowserSite: the smallest OLE container that hosts the web-browser control in a rectangle of
// a window: a client site that activates it in place and answers its frame questions, nothing
// more (no menus, no borders, no accelerators).
//
// Creating the control may fail (no browser engine on the machine, or a Wine prefix without
// one): Create then returns false, Browser() stays null and the window is left as it was.
// The site owns the control and releases it on Destroy or destruction. GUI thread only, with
// COM started on it (single-threaded apartment).
//
// The site listens to the control's events and reports each completed document with the
// browser's location at that moment.
#pragma once

#include <windows.h>

#include <exdisp.h>

#include <functional>

namespace qm::win {

class BrowserSite {
  public:
    BrowserSite() = default;
    BrowserSite(const BrowserSite&) = delete;
    BrowserSite& operator=(const BrowserSite&) = delete;
    ~BrowserSite() { Destroy(); }

    // Called on the GUI thread when a document has finished loading; the location is empty
    // when the browser cannot tell it.
    using DocumentCompleted = std::function<void(const wchar_t* location)>;

    bool Create(HWND parent, const RECT& rect, DocumentCompleted onCompleted = {});
    void Destroy();
    // The control's own window, child of the parent; null when there is no control.
    HWND Window() const;
    // Moves the control; nothing when there is none.
    void SetRect(const RECT& rect);
    IWebBrowser2* Browser() const { return browser_; }

  private:
    class Site;
    class Events;
    Site* site_ = nullptr;
    Events* events_ = nullptr;
    IConnectionPoint* eventSource_ = nullptr;
    DWORD eventCookie_ = 0;
    IOleObject* object_ = nullptr;
    IWebBrowser2* browser_ = nullptr;
};

}  // namespace qm::win
