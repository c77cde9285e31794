// The download window's pictures, drawn by the program at the screen's scale
// instead of being stored as bitmaps.
#pragma once

#include <windows.h>

namespace stub {

// The window's background: a deep blue gradient with a soft glow, sized w x h;
// the caller owns it. Null when the bitmap cannot be made.
HBITMAP DrawFace(int w, int h);

// The progress bar: the track over `track` and the filled part `fillPx` wide
// from `fillLeft`.
void DrawBar(HDC dc, const RECT& track, int fillLeft, int fillPx);

// The minimise and close symbols centred in their zones.
void DrawMinimiseSymbol(HDC dc, const RECT& zone, int scale100);
void DrawCloseSymbol(HDC dc, const RECT& zone, int scale100);

// The browser-download button with its caption.
void DrawBrowserButton(HDC dc, const RECT& r, HFONT font);

}  // namespace stub
