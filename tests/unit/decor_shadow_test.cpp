#include <gtest/gtest.h>
#include <climits>
#include <tuple>
#include <vector>
#include "decor/shadow_geometry.h"
#include "decor/shadow_rules.h"

namespace stub { namespace {

constexpr Piece kPieces[] = {Piece::Right, Piece::Bottom, Piece::Left, Piece::Top};
auto Tie(const Rect& r) { return std::make_tuple(r.left, r.top, r.width, r.height); }

// Form and pieces together tile the form's rectangle grown by D on every side, each pixel exactly once.
TEST(ShadowGeometry, PiecesFrameTheFormWithoutOverlapAndBadSizesAreHarmless) {
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
  std::vector<uint32_t> px(16, 0xDEADBEEF);  // bad depths and sizes give no shadow and no overflow
  for (Piece p : kPieces) {
    EXPECT_EQ(Tie(PieceRect(p, 10, 20, 30, 40, -5)), Tie(PieceRect(p, 10, 20, 30, 40, 0)));
    const Rect huge = PieceRect(p, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MAX, INT32_MAX);
    EXPECT_TRUE(huge.width >= 0 && huge.height >= 0);
    for (int32_t d : {0, INT32_MIN}) DrawPiece(p, 4, 4, d, 0x123456, px.data());
  }
  EXPECT_EQ(px, std::vector<uint32_t>(16, 0xDEADBEEF));
  EXPECT_EQ(PieceRect(Piece::Top, INT32_MIN, 0, 10, 10, 8).left, INT32_MIN);
  EXPECT_EQ(PieceAlpha(Piece::Left, INT32_MAX - 1, 0, INT32_MAX, 1, INT32_MAX), 254);
  EXPECT_EQ(PieceImageBytes(4096, 4096), kMaxPieceBytes);
  for (auto [w, h] : {std::pair{4096, 4097}, {INT32_MAX, INT32_MAX}, {10, -1}}) EXPECT_EQ(PieceImageBytes(w, h), 0u);
  DrawPiece(Piece::Right, 0, 5, 8, 0, nullptr);  // empty piece: the buffer is never touched
}

// Columns from the left, rows from the bottom; the corner ramps and the left piece's last step as always drawn.
TEST(ShadowPixels, RampsAndPremultipliedPixels) {
  const struct { Piece p; int32_t col, row, w, h, d, alpha; } ramps[] = {
      {Piece::Right, 0, 2, 8, 40, 8, 63},   {Piece::Right, 2, 37, 8, 40, 8, 71},   // the corners
      {Piece::Left, 7, 3, 8, 10, 8, 223},   {Piece::Bottom, 6, 6, 30, 7, 7, 186},  {Piece::Top, 2, 3, 30, 7, 7, 41},
      {Piece::Top, 9, 2, 30, 7, 7, 182},    {Piece::Top, 30, 2, 30, 7, 7, 0},  // the last outside the piece
  };
  for (const auto& c : ramps) EXPECT_EQ(PieceAlpha(c.p, c.col, c.row, c.w, c.h, c.d), c.alpha) << c.col << "," << c.row;
  const std::pair<uint32_t, uint32_t> pixels[] = {  // B, G, R, A in memory, scaled by alpha / 255, rounded
      {ShadowPixel(0x123456, 255), 0xFF563412u}, {ShadowPixel(0x0000FF, 127), 0x7F7F0000u},
      {ShadowPixel(0x000001, 128), 0x80010000u}, {ShadowPixel(0x000001, 127), 0x7F000000u}};
  for (const auto& [got, want] : pixels) EXPECT_EQ(got, want);
  std::vector<uint32_t> px(8 * 40 + 1, 0xDEADBEEF);  // a bottom-up bitmap, nothing written past it
  DrawPiece(Piece::Right, 8, 40, 8, 0x123456, px.data());
  // Bottom-up: the lower corner starts clear, the edge is opaque at the window and fades outward.
  const std::pair<int, uint32_t> pinned[] = {{0, 0}, {7, 0}, {160, 0xFF563412u}, {163, 0x9F36200Bu},
                                             {167, 0x1F0A0602u}, {312, 0x1F0A0602u}, {319, 0x03010100u}};
  for (const auto& [i, want] : pinned) EXPECT_EQ(px[i], want) << i;
  EXPECT_EQ(px.back(), 0xDEADBEEFu);
}

TEST(ShadowRules, SupportThemeAwarenessAndRepositionPlan) {
  const struct { uint32_t major, minor; int32_t bpp; bool supported, themeFromFalse; } cases[] = {
      {4, 10, 32, false, false}, {5, 0, 16, true, false}, {5, 1, 15, false, true}, {10, 0, 32, true, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(ShadowSupported(c.major, c.minor, c.bpp), c.supported) << c.major << "." << c.minor;
    EXPECT_TRUE(ThemeAware(false, c.major, c.minor) == c.themeFromFalse && ThemeAware(true, c.major, c.minor));
  }
  const struct { uint32_t flags; int32_t cx, cy; bool hide, horizontal, vertical, move, show; } plans[] = {
      {0xC0, 500, 400, true, false, false, false, false},  // last drawn for 300 x 200; hide wins over show
      {0x0, 300, 200, false, false, false, true, false},   // a pure move redraws nothing
      {0x0, 310, 200, false, true, false, true, false},    {0x0, 300, 190, false, false, true, true, false},
      {0x43, 300, 200, false, false, false, true, true},
  };
  for (const auto& c : plans) {
    const RepositionPlan p = PlanReposition(c.flags, c.cx, c.cy, 300, 200);
    EXPECT_EQ(std::make_tuple(p.hide, p.redrawHorizontal, p.redrawVertical, p.move, p.show, p.lastWidth, p.lastHeight),
              std::make_tuple(c.hide, c.horizontal, c.vertical, c.move, c.show, c.hide ? 300 : c.cx, c.hide ? 200 : c.cy))
        << c.cx << "x" << c.cy;
  }
}

}}  // namespace stub
