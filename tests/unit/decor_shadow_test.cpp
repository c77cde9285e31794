#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <tuple>
#include <vector>

#include "decor/shadow_geometry.h"
#include "decor/shadow_rules.h"

namespace stub {
namespace {

constexpr Piece kPieces[] = {Piece::Right, Piece::Bottom, Piece::Left, Piece::Top};
auto Tie(const Rect& r) { return std::make_tuple(r.left, r.top, r.width, r.height); }

// Form and pieces together tile the form's rectangle grown by D on every side, each pixel exactly once.
TEST(ShadowGeometry, PiecesFrameTheFormWithoutOverlap) {
  EXPECT_EQ(Tie(PieceRect(Piece::Right, 100, 50, 300, 200, 8)), std::make_tuple(400, 42, 8, 216));
  for (int32_t d : {1, 8}) {
    const int32_t x = -4, y = 6, w = 9, h = 5, W = w + 2 * d, H = h + 2 * d;
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
    EXPECT_EQ(Tie(PieceRect(p, 10, 20, 30, 40, -5)), Tie(PieceRect(p, 10, 20, 30, 40, 0)));
    const Rect huge = PieceRect(p, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MAX, INT32_MAX);
    EXPECT_TRUE(huge.width >= 0 && huge.height >= 0);
    for (int32_t d : {0, INT32_MIN}) {
      std::vector<uint32_t> px(16, 0xDEADBEEF);
      DrawPiece(p, 4, 4, d, 0x123456, px.data());
      EXPECT_EQ(px, std::vector<uint32_t>(16, 0xDEADBEEF)) << d;
    }
  }
  EXPECT_EQ(PieceRect(Piece::Top, INT32_MIN, 0, 10, 10, 8).left, INT32_MIN);
  EXPECT_EQ(PieceAlpha(Piece::Left, INT32_MAX - 1, 0, INT32_MAX, 1, INT32_MAX), 254);
  EXPECT_EQ(PieceImageBytes(4096, 4096), kMaxPieceBytes);
  for (auto [w, h] : {std::pair{4096, 4097}, {INT32_MAX, INT32_MAX}, {10, -1}}) EXPECT_EQ(PieceImageBytes(w, h), 0u);
  DrawPiece(Piece::Right, 0, 5, 8, 0, nullptr);  // empty piece: the buffer is never touched
}

// Straight from the ramp definitions, with the pixel rounded in double precision; columns from the left, rows
// from the bottom. The asymmetric corners of the right piece and the left piece's missing last step are as the
// shadow has always looked.
int RefAlpha(Piece p, int c, int r, int h, int D) {
  const int cA = c < D ? c * 255 / D : 255;
  const int rA = r < D ? r * 255 / D : r >= h - D ? (h - r) * 255 / D : 255;
  switch (p) {
    case Piece::Right: return (D - c) * rA / D;
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
  // 255 is odd, so channel * alpha / 255 is never exactly halfway.
  for (uint32_t ch = 0; ch < 256; ++ch)
    for (int a = 0; a < 256; ++a)
      ASSERT_EQ(ShadowPixel(ch << 16, uint8_t(a)) & 0xFF, RefPixel(ch << 16, a) & 0xFF) << ch << " " << a;
}

TEST(ShadowRules, SupportThemeAwarenessAndShowing) {
  const struct { uint32_t major, minor; int32_t bpp; bool supported, themeFromFalse; } cases[] = {
      {4, 10, 32, false, false},  // too old: theme awareness untouched
      {5, 0, 16, true, false},
      {5, 1, 15, false, true},
      {10, 0, 32, true, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ShadowSupported(c.major, c.minor, c.bpp), c.supported) << c.major << "." << c.minor;
    EXPECT_EQ(ThemeAware(false, c.major, c.minor), c.themeFromFalse) << c.major << "." << c.minor;
    EXPECT_TRUE(ThemeAware(true, c.major, c.minor));  // never cleared
  }
  EXPECT_FALSE(ShowShadowsActs(true, true, false));
  EXPECT_TRUE(ShowShadowsActs(false, true, false));
  EXPECT_TRUE(ShowShadowsActs(true, true, true));
  EXPECT_TRUE(SizeShowsShadows(0, true));
  EXPECT_FALSE(SizeShowsShadows(0, false));
  EXPECT_FALSE(SizeShowsShadows(2, true));  // maximised
}

TEST(ShadowRules, RepositionPlan) {  // last drawn for 300 x 200
  const struct { uint32_t flags; int32_t cx, cy; bool hide, horizontal, vertical, move, show; } cases[] = {
      {0xC0, 500, 400, true, false, false, false, false},  // hide wins over show
      {0x0, 300, 200, false, false, false, true, false},   // a pure move redraws nothing
      {0x0, 310, 200, false, true, false, true, false},
      {0x0, 300, 190, false, false, true, true, false},
      {0x43, 300, 200, false, false, false, true, true},
  };
  for (const auto& c : cases) {
    const RepositionPlan p = PlanReposition(c.flags, c.cx, c.cy, 300, 200);
    EXPECT_EQ(std::make_tuple(p.hide, p.redrawHorizontal, p.redrawVertical, p.move, p.show, p.lastWidth, p.lastHeight),
              std::make_tuple(c.hide, c.horizontal, c.vertical, c.move, c.show, c.hide ? 300 : c.cx, c.hide ? 200 : c.cy))
        << c.cx << "x" << c.cy;
  }
}

}  // namespace
}  // namespace stub
