#include "download/face_win.h"

#include <cmath>

#include "base/gdi_win.h"

namespace stub {
namespace {

inline BYTE Mix(int a, int b, double t) { return static_cast<BYTE>(a + (b - a) * t + 0.5); }

// Without the brush or pen the shape is left undrawn: the face stays usable.
void FillRectColor(HDC dc, const RECT& r, COLORREF c) {
  const UniqueBrush brush(CreateSolidBrush(c));
  if (brush) FillRect(dc, &r, brush.get());
}

void RoundRectColor(HDC dc, const RECT& r, int radius, COLORREF fill, COLORREF edge) {
  const UniqueBrush brush(CreateSolidBrush(fill));
  const UniquePen pen(CreatePen(PS_SOLID, 1, edge));
  if (!brush || !pen) return;
  const SelectGuard useBrush(dc, brush.get()), usePen(dc, pen.get());
  RoundRect(dc, r.left, r.top, r.right, r.bottom, radius, radius);
}

}  // namespace

HBITMAP DrawFace(int w, int h) {
  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;  // top-down rows
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  UniqueBitmap bmp(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bmp || !bits) return nullptr;  // no face rather than an undrawn one
  auto* px = static_cast<DWORD*>(bits);
  const double glowX = w * 0.82, glowY = h * 0.05, glowR = w * 0.75;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      // Diagonal gradient from a bright blue to a deep navy...
      const double t = (x * 0.35 / w + y * 0.65 / h);
      double r = Mix(34, 9, t), g = Mix(110, 38, t), b = Mix(222, 112, t);
      // ...lit by a soft glow from the top right...
      const double d = std::hypot(x - glowX, y - glowY) / glowR;
      const double glow = d < 1 ? (1 - d) * (1 - d) * 0.45 : 0;
      r += (120 - r) * glow, g += (200 - g) * glow, b += (255 - b) * glow;
      // ...and two faint diagonal bands for depth.
      const double band = std::fmod(x + y * 1.6 + w * 2, w * 0.9) / (w * 0.9);
      const double lift = band > 0.55 && band < 0.70 ? 0.035 : 0;
      r += (255 - r) * lift, g += (255 - g) * lift, b += (255 - b) * lift;
      px[static_cast<size_t>(y) * w + x] = RGB(static_cast<BYTE>(b), static_cast<BYTE>(g), static_cast<BYTE>(r));
    }
  }
  return bmp.release();
}

void DrawBar(HDC dc, const RECT& track, int fillLeft, int fillPx) {
  const int radius = track.bottom - track.top;
  RoundRectColor(dc, track, radius, RGB(10, 36, 92), RGB(70, 120, 200));
  if (fillPx <= 0) return;
  RECT fill = {fillLeft, track.top, fillLeft + fillPx, track.bottom};
  const UniqueRegion clip(
      CreateRoundRectRgn(track.left, track.top, track.right + 1, track.bottom + 1, radius, radius));
  if (!clip) return;  // unclipped, the fill would cover the track's round ends
  SelectClipRgn(dc, clip.get());
  const int width = track.right - track.left;
  for (int x = fill.left; x < fill.right; ++x) {
    const double t = width > 0 ? double(x - track.left) / width : 0;
    RECT col = {x, fill.top, x + 1, fill.bottom};
    FillRectColor(dc, col, RGB(Mix(0, 40, t), Mix(198, 230, t), Mix(255, 150, t)));
  }
  // A thin highlight along the top of the fill.
  RECT shine = {fill.left, fill.top + 1, fill.right, fill.top + 1 + (fill.bottom - fill.top) / 3};
  FillRectColor(dc, shine, RGB(150, 240, 255));
  SelectClipRgn(dc, nullptr);
}

void DrawMinimiseSymbol(HDC dc, const RECT& zone, int scale100) {
  const int cx = (zone.left + zone.right) / 2, cy = (zone.top + zone.bottom) / 2;
  const int half = 6 * scale100 / 100, thick = scale100 >= 150 ? 3 : 2;
  RECT line = {cx - half, cy + half / 2, cx + half, cy + half / 2 + thick};
  FillRectColor(dc, line, RGB(255, 255, 255));
}

void DrawCloseSymbol(HDC dc, const RECT& zone, int scale100) {
  const int cx = (zone.left + zone.right) / 2, cy = (zone.top + zone.bottom) / 2;
  const int half = 6 * scale100 / 100;
  const UniquePen pen(CreatePen(PS_SOLID, scale100 >= 150 ? 3 : 2, RGB(255, 255, 255)));
  if (!pen) return;
  const SelectGuard usePen(dc, pen.get());
  MoveToEx(dc, cx - half, cy - half, nullptr);
  LineTo(dc, cx + half + 1, cy + half + 1);
  MoveToEx(dc, cx + half, cy - half, nullptr);
  LineTo(dc, cx - half - 1, cy + half + 1);
}

void DrawBrowserButton(HDC dc, const RECT& r, HFONT font) {
  RoundRectColor(dc, r, (r.bottom - r.top) / 2, RGB(255, 184, 28), RGB(255, 214, 120));
  const SelectGuard useFont(dc, font);
  SetTextColor(dc, RGB(60, 30, 0));
  RECT text = r;
  DrawTextW(dc, L"浏览器下载", -1, &text, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

}  // namespace stub
