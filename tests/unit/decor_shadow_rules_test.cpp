#include "decor/shadow_rules.h"

#include <gtest/gtest.h>

#include <tuple>

namespace stub {
namespace {

TEST(ShadowRules, SupportAndThemeAwareness) {
  const struct {
    uint32_t major, minor;
    int32_t bpp;
    bool supported, themeFromFalse;
  } cases[] = {
      {4, 10, 32, false, false},  // too old: theme awareness untouched
      {5, 0, 16, true, false}, {5, 1, 15, false, true}, {10, 0, 32, true, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ShadowSupported(c.major, c.minor, c.bpp), c.supported) << c.major << "." << c.minor;
    EXPECT_EQ(ThemeAware(false, c.major, c.minor), c.themeFromFalse) << c.major << "." << c.minor;
    EXPECT_TRUE(ThemeAware(true, c.major, c.minor));  // never cleared
  }
}

TEST(ShadowRules, RepositionPlan) {
  const struct {
    uint32_t flags;
    int32_t cx, cy;
    bool hide, horizontal, vertical, move, show;
  } cases[] = {
      // Last drawn for 300 x 200.
      {0xC0, 500, 400, true, false, false, false, false},  // hide wins over show
      {0x0, 300, 200, false, false, false, true, false},   // a pure move redraws nothing
      {0x0, 310, 200, false, true, false, true, false},
      {0x0, 300, 190, false, false, true, true, false},
      {0x43, 300, 200, false, false, false, true, true},
  };
  for (const auto& c : cases) {
    const RepositionPlan p = PlanReposition(c.flags, c.cx, c.cy, 300, 200);
    EXPECT_EQ(std::make_tuple(p.hide, p.redrawHorizontal, p.redrawVertical, p.move, p.show),
              std::make_tuple(c.hide, c.horizontal, c.vertical, c.move, c.show)) << c.cx << "x" << c.cy;
    EXPECT_EQ(p.lastWidth, c.hide ? 300 : c.cx);
    EXPECT_EQ(p.lastHeight, c.hide ? 200 : c.cy);
  }
}

TEST(ShadowRules, ShowAndSizeDecisions) {
  EXPECT_FALSE(ShowShadowsActs(true, true, false));
  EXPECT_TRUE(ShowShadowsActs(false, true, false));
  EXPECT_TRUE(ShowShadowsActs(true, true, true));
  EXPECT_TRUE(SizeShowsShadows(0, true));
  EXPECT_FALSE(SizeShowsShadows(0, false));
  EXPECT_FALSE(SizeShowsShadows(2, true));  // maximised
}

}  // namespace
}  // namespace stub
