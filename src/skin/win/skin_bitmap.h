// SkinBitmap: a theme picture loaded from disk into a bitmap the screen can use.
// BMP files load as they are; ICO, JPEG, GIF and PNG are decoded with GDI+ (which the
// application starts) and rendered over the fill colour into a screen-compatible bitmap.
// The object owns its bitmap. GUI thread only.
#pragma once

#include <windows.h>

#include <string>

#include "winbase/win/handles.h"

namespace qm::skin {

class SkinBitmap {
  public:
    // The loaded bitmap (the caller owns it), or none for an unsupported kind, a missing,
    // truncated or empty picture. `path` is UTF-8 (win::WidenUtf8). fillColour -1 leaves
    // transparent parts as they come.
    static HBITMAP LoadFromFile(const std::string& path, COLORREF fillColour);
    // Frees the held bitmap, then holds the result of LoadFromFile (possibly none).
    bool Attach(const std::string& path, COLORREF fillColour);
    HBITMAP Get() const { return bitmap_.Get(); }

  private:
    win::Bitmap bitmap_;
};

}  // namespace qm::skin
