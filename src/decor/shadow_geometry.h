// The drop shadow's four pieces: where each sits around the form and the
// premultiplied pixels that fade from the form's edge outward.
#pragma once

#include <cstdint>

namespace stub {

struct Rect {
  int32_t left, top, width, height;
};

// The kind numbers of the four pieces.
enum class Piece { Right = 1, Bottom = 2, Left = 3, Top = 4 };

// The piece's rectangle for a form at x, y of size w x h and shadow depth D.
// The pieces overlap neither each other nor the form: right covers both right
// corners, top the top-left, bottom the bottom-left corner. A negative depth
// counts as 0 (no shadow); results saturate at the 32-bit range.
Rect PieceRect(Piece piece, int32_t x, int32_t y, int32_t w, int32_t h, int32_t depth);

// Alpha level 0..255 of one pixel of a piece of size w x h; `col` counts from
// the piece's left edge, `rowFromBottom` from its bottom edge. 0 for pixels
// outside the piece and for depth <= 0.
uint8_t PieceAlpha(Piece piece, int32_t col, int32_t rowFromBottom, int32_t w, int32_t h,
                   int32_t depth);

// The pixel as a 32-bit value whose memory bytes are B, G, R, A: the colour
// (0x00BBGGRR, red in the low byte) scaled by alpha / 255, rounded to nearest.
uint32_t ShadowPixel(uint32_t colorRGB, uint8_t alpha);

// Largest bitmap the shadow draws; a thicker shadow is a setting error and is
// not drawn rather than exhausting memory.
constexpr uint32_t kMaxPieceBytes = 64u << 20;

// Size in bytes of a piece's 32-bit bitmap, or 0 when there is nothing to draw
// (w or h <= 0) or the bitmap would exceed kMaxPieceBytes.
uint32_t PieceImageBytes(int32_t w, int32_t h);

// Fills `pixels` (w * h values, a bottom-up DIB: row 0 is the piece's bottom
// row) with the piece's shadow. Does nothing when w, h or depth is <= 0.
void DrawPiece(Piece piece, int32_t w, int32_t h, int32_t depth, uint32_t color, uint32_t* pixels);

}  // namespace stub
