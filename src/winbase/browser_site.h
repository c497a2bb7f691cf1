// BrowserSite: the smallest OLE container that hosts the web-browser control in a rectangle of
// a window: a client site that activates it in place and answers its frame questions, nothing
// more (no menus, no borders, no accelerators).
//
// Creating the control may fail (no browser engine on the machine, or a Wine prefix without
// one): Create then returns false, Browser() stays null and the window is left as it was.
// The site owns the control and releases it on Destroy or destruction. GUI thread only, with
// COM started on it (single-threaded apartment).
#pragma once

#include <windows.h>

#include <exdisp.h>

namespace qm::win {

class BrowserSite {
  public:
    BrowserSite() = default;
    BrowserSite(const BrowserSite&) = delete;
    BrowserSite& operator=(const BrowserSite&) = delete;
    ~BrowserSite() { Destroy(); }

    bool Create(HWND parent, const RECT& rect);
    void Destroy();
    // Moves the control; nothing when there is none.
    void SetRect(const RECT& rect);
    IWebBrowser2* Browser() const { return browser_; }

  private:
    class Site;
    Site* site_ = nullptr;
    IOleObject* object_ = nullptr;
    IWebBrowser2* browser_ = nullptr;
};

}  // namespace qm::win
