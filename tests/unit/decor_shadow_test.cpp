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

// Form and pieces together tile the form's rectangle grown by D on every side,
// each pixel exactly once.
TEST(ShadowGeometry, PiecesFrameTheFormWithoutOverlap) {
  EXPECT_EQ(PieceRect(Piece::Right, 100, 50, 300, 200, 8), (Rect{400, 42, 8, 216}));
  for (int32_t d : {1, 8}) {
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

TEST(ShadowGeometry, BadDepthsAndSizesGiveNoShadowAndNoOverflow) {
  for (Piece p : kPieces) {
    EXPECT_EQ(PieceRect(p, 10, 20, 30, 40, -5), PieceRect(p, 10, 20, 30, 40, 0));
    const Rect huge = PieceRect(p, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MAX, INT32_MAX);
    EXPECT_GE(huge.width, 0);
    EXPECT_GE(huge.height, 0);
    for (int32_t d : {0, INT32_MIN}) {
      std::vector<uint32_t> px(16, 0xDEADBEEF);
      DrawPiece(p, 4, 4, d, 0x123456, px.data());
      EXPECT_EQ(px, std::vector<uint32_t>(16, 0xDEADBEEF)) << d;
    }
  }
  EXPECT_EQ(PieceRect(Piece::Top, INT32_MIN, 0, 10, 10, 8).left, INT32_MIN);
  EXPECT_EQ(PieceAlpha(Piece::Left, INT32_MAX - 1, 0, INT32_MAX, 1, INT32_MAX), 254);
  EXPECT_EQ(PieceImageBytes(4096, 4096), kMaxPieceBytes);
  EXPECT_EQ(PieceImageBytes(4096, 4097), 0u);
  EXPECT_EQ(PieceImageBytes(INT32_MAX, INT32_MAX), 0u);
  EXPECT_EQ(PieceImageBytes(10, -1), 0u);
  DrawPiece(Piece::Right, 0, 5, 8, 0, nullptr);  // empty piece: the buffer is never touched
}

// Straight from the ramp definitions, with the pixel rounded in double
// precision; columns from the left, rows from the bottom. The ramps are
// deliberately asymmetric: the right piece's corners and the left piece's
// missing last step are as the shadow has always looked.
int RefAlpha(Piece p, int c, int r, int h, int D) {
  const int cA = c < D ? c * 255 / D : 255;
  switch (p) {
    case Piece::Right: {
      const int rA = r < D ? r * 255 / D : r >= h - D ? (h - r) * 255 / D : 255;
      return (D - c) * rA / D;
    }
    case Piece::Left: return c * 255 / D;
    case Piece::Bottom: return r * cA / D;
    case Piece::Top: return (D - r) * cA / D;
  }
  return -1;
}

uint32_t RefPixel(uint32_t color, int a) {
  auto ch = [&](int shift) { return uint32_t(std::nearbyint(((color >> shift) & 0xFF) * (a / 255.0))); };
  return ch(16) | ch(8) << 8 | ch(0) << 16 | uint32_t(a) << 24;
}

TEST(ShadowPixels, WholePiecesMatchTheRamps) {
  const int32_t forms[][2] = {{37, 23}, {5, 0}, {1, 40}};
  for (int32_t D : {1, 7, 8})
    for (const auto& f : forms)
      for (Piece p : kPieces) {
        const Rect r = PieceRect(p, 0, 0, f[0], f[1], D);
        if (r.width <= 0 || r.height <= 0) continue;
        for (uint32_t color : {0x000000u, 0x123456u, 0xF0F0F0u}) {
          std::vector<uint32_t> px(r.width * r.height + 1, 0xDEADBEEF);
          DrawPiece(p, r.width, r.height, D, color, px.data());
          for (int32_t row = 0; row < r.height; ++row)
            for (int32_t c = 0; c < r.width; ++c)
              ASSERT_EQ(px[row * r.width + c], RefPixel(color, RefAlpha(p, c, row, r.height, D)))
                  << "piece " << int(p) << " D " << D << " c " << c << " r " << row;
          EXPECT_EQ(px.back(), 0xDEADBEEFu);  // nothing written past the piece
        }
      }
}

TEST(ShadowPixels, PremultipliedBytesInMemoryOrderRoundedToNearest) {
  EXPECT_EQ(ShadowPixel(0x123456, 255), 0xFF563412u);  // bytes 12 34 56 FF: B, G, R, A
  EXPECT_EQ(ShadowPixel(0x000001, 128), 0x80010000u);  // 0.502 rounds up, not down
  // 255 is odd, so channel * alpha / 255 is never exactly halfway.
  for (uint32_t ch = 0; ch < 256; ++ch)
    for (int a = 0; a < 256; ++a)
      ASSERT_EQ(ShadowPixel(ch << 16, uint8_t(a)) & 0xFF, RefPixel(ch << 16, a) & 0xFF) << ch << " " << a;
}

}  // namespace
}  // namespace stub
