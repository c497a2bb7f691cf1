// The process-wide theme pieces the skinned controls borrow: ThemeFrameBrush and
// ThemeContentBrush (pattern brushes of the theme's Frame.bmp and Content.bmp, made by the
// recorder dialog), and the main window, whose font captions and menu items use.
// GUI thread only. The brushes live until replaced or until process exit.
#pragma once

#include <windows.h>

#include "winbase/win/handles.h"

namespace qm::skin {

class ThemeBrush {
  public:
    // A pattern brush of the bitmap (which the caller keeps); false, and no brush, when the
    // bitmap is none or the brush cannot be made.
    bool CreateFromBitmap(HBITMAP bitmap);
    void Reset() { brush_.Reset(); }
    HBRUSH Get() const { return brush_.Get(); }

  private:
    win::Brush brush_;
};

ThemeBrush& ThemeFrameBrush();
ThemeBrush& ThemeContentBrush();

// Fills the rectangle with the brush; nothing when there is no brush.
void FillWithBrush(HDC dc, const RECT& rect, HBRUSH brush);

void SetMainWindow(HWND window);
HWND MainWindow();
// The font the main window reports for itself; none when there is no main window or it has
// no font of its own (the device context's default font then draws).
HFONT MainWindowFont();

}  // namespace qm::skin
