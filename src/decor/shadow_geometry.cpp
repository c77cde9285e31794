#include "decor/shadow_geometry.h"

#include <cstddef>

namespace stub {
namespace {

int32_t Saturate(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// Fade across the first D columns of the horizontal pieces (the left corner).
int64_t ColumnFactor(int64_t c, int64_t d) { return c < d ? c * 255 / d : 255; }

// The right piece fades into both right corners over its bottom and top D rows.
int64_t RowFactor(int64_t r, int64_t h, int64_t d) {
  if (r < d) return r * 255 / d;
  if (r >= h - d) return (h - r) * 255 / d;
  return 255;
}

// Round-to-nearest of channel * alpha / 255. The exact quotient is never a
// tie (255 is odd), so this integer form equals rounding the double product
// with ties to even, without depending on the floating-point rounding mode.
uint32_t Scale(uint32_t channel, uint32_t alpha) { return (2 * channel * alpha + 255) / 510; }

}  // namespace

Rect PieceRect(Piece piece, int32_t x, int32_t y, int32_t w, int32_t h, int32_t depth) {
  const int64_t X = x, Y = y, W = w, H = h, D = depth < 0 ? 0 : depth;
  switch (piece) {
    case Piece::Right:
      return {Saturate(X + W), Saturate(Y - D), Saturate(D), Saturate(H + 2 * D)};
    case Piece::Bottom:
      return {Saturate(X - D), Saturate(Y + H), Saturate(W + D), Saturate(D)};
    case Piece::Left:
      return {Saturate(X - D), Saturate(Y), Saturate(D), Saturate(H)};
    case Piece::Top:
      return {Saturate(X - D), Saturate(Y - D), Saturate(W + D), Saturate(D)};
  }
  return {0, 0, 0, 0};
}

// Integer division truncates as in the ramps' definition; all operands are
// non-negative inside the piece, and 64-bit arithmetic keeps huge depths from
// overflowing.
uint8_t PieceAlpha(Piece piece, int32_t col, int32_t rowFromBottom, int32_t w, int32_t h,
                   int32_t depth) {
  if (depth <= 0 || col < 0 || rowFromBottom < 0 || col >= w || rowFromBottom >= h) return 0;
  const int64_t d = depth, c = col, r = rowFromBottom;
  int64_t a = 0;
  switch (piece) {
    case Piece::Right:  // column 0 touches the form
      a = (d - c) * RowFactor(r, h, d) / d;
      break;
    case Piece::Left:  // column 0 is the outermost
      a = c * 255 / d;
      break;
    case Piece::Bottom:  // row 0 is the outermost
      a = r * ColumnFactor(c, d) / d;
      break;
    case Piece::Top:  // row 0 touches the form
      a = (d - r) * ColumnFactor(c, d) / d;
      break;
  }
  // Only a piece of the wrong size for its depth leaves 0..255.
  if (a < 0) return 0;
  if (a > 255) return 255;
  return static_cast<uint8_t>(a);
}

uint32_t ShadowPixel(uint32_t colorRGB, uint8_t alpha) {
  const uint32_t red = colorRGB & 0xFF, green = (colorRGB >> 8) & 0xFF,
                 blue = (colorRGB >> 16) & 0xFF;
  return Scale(blue, alpha) | Scale(green, alpha) << 8 | Scale(red, alpha) << 16 |
         static_cast<uint32_t>(alpha) << 24;
}

uint32_t PieceImageBytes(int32_t w, int32_t h) {
  if (w <= 0 || h <= 0) return 0;
  const uint64_t bytes = static_cast<uint64_t>(w) * static_cast<uint64_t>(h) * 4;
  return bytes > kMaxPieceBytes ? 0 : static_cast<uint32_t>(bytes);
}

void DrawPiece(Piece piece, int32_t w, int32_t h, int32_t depth, uint32_t color, uint32_t* pixels) {
  if (w <= 0 || h <= 0 || depth <= 0 || pixels == nullptr) return;
  uint32_t* row = pixels;
  for (int32_t r = 0; r < h; ++r, row += static_cast<size_t>(w))
    for (int32_t c = 0; c < w; ++c)
      row[c] = ShadowPixel(color, PieceAlpha(piece, c, r, w, h, depth));
}

}  // namespace stub
