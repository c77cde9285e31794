#include "decor/shadow_geometry.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <vector>

namespace stub {

// Found by argument lookup, so it sits in the type's namespace.
static bool operator==(const Rect& a, const Rect& b) {
  return a.left == b.left && a.top == b.top && a.width == b.width && a.height == b.height;
}

namespace {

constexpr Piece kPieces[] = {Piece::Right, Piece::Bottom, Piece::Left, Piece::Top};

TEST(ShadowGeometry, PieceRectangles) {
  EXPECT_EQ(PieceRect(Piece::Right, 100, 50, 300, 200, 8), (Rect{400, 42, 8, 216}));
  EXPECT_EQ(PieceRect(Piece::Bottom, 100, 50, 300, 200, 8), (Rect{92, 250, 308, 8}));
  EXPECT_EQ(PieceRect(Piece::Left, 100, 50, 300, 200, 8), (Rect{92, 50, 8, 200}));
  EXPECT_EQ(PieceRect(Piece::Top, 100, 50, 300, 200, 8), (Rect{92, 42, 308, 8}));
}

// Form and pieces together tile the form's rectangle grown by D on every side,
// each pixel exactly once.
TEST(ShadowGeometry, PiecesFrameTheFormWithoutOverlap) {
  for (int32_t d : {1, 3, 8}) {
    const int32_t x = -4, y = 6, w = 9, h = 5;
    const int32_t W = w + 2 * d, H = h + 2 * d;
    std::vector<int> cover(W * H, 0);
    auto paint = [&](const Rect& r) {
      for (int32_t yy = r.top; yy < r.top + r.height; ++yy)
        for (int32_t xx = r.left; xx < r.left + r.width; ++xx) {
          ASSERT_TRUE(xx >= x - d && xx < x + w + d && yy >= y - d && yy < y + h + d);
          ++cover[(yy - (y - d)) * W + (xx - (x - d))];
        }
    };
    paint({x, y, w, h});
    for (Piece p : kPieces) paint(PieceRect(p, x, y, w, h, d));
    for (int n : cover) ASSERT_EQ(n, 1) << d;
  }
}

TEST(ShadowGeometry, BadDepthsGiveNoShadowAndNoOverflow) {
  for (Piece p : kPieces) {
    EXPECT_EQ(PieceRect(p, 10, 20, 30, 40, -5), PieceRect(p, 10, 20, 30, 40, 0));
    const Rect huge = PieceRect(p, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MAX, INT32_MAX);
    EXPECT_GE(huge.width, 0);
    EXPECT_GE(huge.height, 0);
  }
  EXPECT_EQ(PieceRect(Piece::Right, 0, 0, 10, INT32_MAX, INT32_MAX).height, INT32_MAX);
  EXPECT_EQ(PieceRect(Piece::Top, INT32_MIN, 0, 10, 10, 8).left, INT32_MIN);
  EXPECT_EQ(PieceAlpha(Piece::Right, 0, 5, INT32_MAX, INT32_MAX, INT32_MAX), 0);
  EXPECT_EQ(PieceAlpha(Piece::Left, INT32_MAX - 1, 0, INT32_MAX, 1, INT32_MAX), 254);
}

TEST(ShadowGeometry, ImageBytesRefuseEmptyAndOversizedPieces) {
  EXPECT_EQ(PieceImageBytes(8, 216), 8u * 216 * 4);
  EXPECT_EQ(PieceImageBytes(4096, 4096), kMaxPieceBytes);
  EXPECT_EQ(PieceImageBytes(4096, 4097), 0u);
  EXPECT_EQ(PieceImageBytes(INT32_MAX, INT32_MAX), 0u);
  EXPECT_EQ(PieceImageBytes(0, 10), 0u);
  EXPECT_EQ(PieceImageBytes(10, -1), 0u);
}

// The ramps' known values and their deliberate asymmetries, read from drawn
// bitmaps (memory row 0 is the piece's bottom row).
TEST(ShadowPixels, RampAnchors) {
  const int32_t d = 8, H = 20, W = 30;
  auto draw = [&](Piece p, int32_t w, int32_t h) {
    std::vector<uint32_t> px(w * h);
    DrawPiece(p, w, h, d, 0xFFFFFF, px.data());
    return [px, w](int32_t c, int32_t r) { return px[r * w + c] >> 24; };
  };
  const auto right = draw(Piece::Right, d, H + 2 * d);
  const auto left = draw(Piece::Left, d, H);
  const auto bottom = draw(Piece::Bottom, W + d, d);
  const auto top = draw(Piece::Top, W + d, d);
  const int32_t rightTop = H + 2 * d - 1;
  EXPECT_EQ(right(0, rightTop), 31u);  // (D - c) * (255 / D) / D
  for (int32_t c = 0; c < d; ++c) {
    EXPECT_EQ(right(c, rightTop), uint32_t((d - c) * 31 / d)) << c;
    EXPECT_EQ(right(c, 0), 0u) << c;
  }
  for (int32_t r = d; r < H + d; ++r) {  // beside the form
    EXPECT_EQ(right(0, r), 255u);        // next to the form: the full row factor
    EXPECT_EQ(left(d - 1, r - d), uint32_t((d - 1) * 255 / d));  // 223
    EXPECT_EQ(left(0, r - d), 0u);
  }
  for (int32_t c = 0; c < W + d; ++c) {
    const uint32_t cA = c < d ? c * 255 / d : 255;
    EXPECT_EQ(top(c, 0), cA) << c;                       // next to the form
    EXPECT_EQ(bottom(c, d - 1), (d - 1) * cA / d) << c;  // next to the form
    EXPECT_EQ(bottom(c, 0), 0u) << c;                    // outermost
  }
}

// Straight from the ramp definitions, with the pixel rounded in double
// precision; columns from the left, rows from the bottom.
int RefAlpha(Piece p, int c, int r, int w, int h, int D) {
  (void)w;
  switch (p) {
    case Piece::Right: {
      int rA = 255;
      if (r < D)
        rA = r * 255 / D;
      else if (r >= h - D)
        rA = (h - r) * 255 / D;
      return (D - c) * rA / D;
    }
    case Piece::Left:
      return c * 255 / D;
    case Piece::Bottom:
      return r * (c < D ? c * 255 / D : 255) / D;
    case Piece::Top:
      return (D - r) * (c < D ? c * 255 / D : 255) / D;
  }
  return -1;
}

uint32_t RefPixel(uint32_t color, int a) {
  const double f = a / 255.0;
  auto ch = [&](int shift) { return uint32_t(std::nearbyint(((color >> shift) & 0xFF) * f)); };
  return ch(16) | ch(8) << 8 | ch(0) << 16 | uint32_t(a) << 24;
}

TEST(ShadowPixels, WholePiecesMatchTheRamps) {
  const uint32_t colors[] = {0x000000, 0xFFFFFF, 0x123456, 0xF0F0F0, 0x808080};
  const int32_t forms[][2] = {{37, 23}, {5, 0}, {1, 40}};
  for (int32_t D : {1, 2, 7, 8, 13})
    for (const auto& f : forms)
      for (Piece p : kPieces) {
        const Rect r = PieceRect(p, 0, 0, f[0], f[1], D);
        if (r.width <= 0 || r.height <= 0) continue;
        for (uint32_t color : colors) {
          std::vector<uint32_t> px(r.width * r.height + 1, 0xDEADBEEF);
          DrawPiece(p, r.width, r.height, D, color, px.data());
          for (int32_t row = 0; row < r.height; ++row)
            for (int32_t c = 0; c < r.width; ++c) {
              const int a = RefAlpha(p, c, row, r.width, r.height, D);
              ASSERT_EQ(px[row * r.width + c], RefPixel(color, a))
                  << "piece " << int(p) << " D " << D << " c " << c << " r " << row;
            }
          EXPECT_EQ(px.back(), 0xDEADBEEFu);  // nothing written past the piece
        }
      }
}

TEST(ShadowPixels, PremultipliedBytesInMemoryOrder) {
  EXPECT_EQ(ShadowPixel(0x123456, 255), 0xFF563412u);  // bytes 12 34 56 FF: B, G, R, A
  EXPECT_EQ(ShadowPixel(0x0000FF, 255), 0xFFFF0000u);  // red sits in the third byte
  EXPECT_EQ(ShadowPixel(0x123456, 0), 0u);
  EXPECT_EQ(ShadowPixel(0x000001, 128), 0x80010000u);  // 0.502 rounds up, not down
  EXPECT_EQ(ShadowPixel(0x000001, 127), 0x7F000000u);  // 0.498 rounds down
  EXPECT_EQ(ShadowPixel(0x0000FF, 31), 0x1F1F0000u);
}

// 255 is odd, so channel * alpha / 255 is never exactly halfway; every pair
// must round to nearest like the double computation does.
TEST(ShadowPixels, EveryChannelAndAlphaRoundsToNearest) {
  for (uint32_t ch = 0; ch < 256; ++ch)
    for (int a = 0; a < 256; ++a)
      ASSERT_EQ(ShadowPixel(ch << 16, uint8_t(a)) & 0xFF, RefPixel(ch << 16, a) & 0xFF)
          << ch << " " << a;
}

TEST(ShadowPixels, ZeroOrNegativeDepthDrawsNothing) {
  for (int32_t d : {0, -1, -8, INT32_MIN})
    for (Piece p : kPieces) {
      std::vector<uint32_t> px(16, 0xDEADBEEF);
      DrawPiece(p, 4, 4, d, 0x123456, px.data());
      for (uint32_t v : px) ASSERT_EQ(v, 0xDEADBEEFu) << d;
      EXPECT_EQ(PieceAlpha(p, 0, 0, 4, 4, d), 0);
    }
  DrawPiece(Piece::Right, 0, 5, 8, 0, nullptr);  // empty piece: the buffer is never touched
  DrawPiece(Piece::Right, 8, -5, 8, 0, nullptr);
}

}  // namespace
}  // namespace stub
