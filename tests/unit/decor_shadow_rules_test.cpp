#include "decor/shadow_rules.h"

#include <gtest/gtest.h>

namespace stub {
namespace {

TEST(ShadowRules, SupportAndThemeAwareness) {
  struct {
    uint32_t major, minor;
    int32_t bpp;
    bool supported;
    bool themeFromFalse;
  } cases[] = {
      {4, 10, 32, false, false},  // too old: theme awareness untouched
      {5, 0, 16, true, false},   {5, 1, 32, true, true}, {5, 1, 15, false, true},
      {6, 0, 32, true, false},   {6, 1, 8, false, true}, {10, 0, 32, true, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ShadowSupported(c.major, c.minor, c.bpp), c.supported) << c.major << "." << c.minor;
    EXPECT_EQ(ThemeAware(false, c.major, c.minor), c.themeFromFalse) << c.major << "." << c.minor;
    EXPECT_TRUE(ThemeAware(true, c.major, c.minor));  // never cleared
  }
}

TEST(ShadowRules, WatchedMessages) {
  uint32_t msgs[4] = {};
  ASSERT_EQ(WatchedMessages(false, msgs), 3);
  EXPECT_EQ(msgs[0], 0x47u);
  EXPECT_EQ(msgs[1], 0x05u);
  EXPECT_EQ(msgs[2], 0x7Eu);
  ASSERT_EQ(WatchedMessages(true, msgs), 4);
  EXPECT_EQ(msgs[3], 0x31Au);
}

TEST(ShadowRules, RepositionPlan) {
  struct {
    const char* name;
    uint32_t flags;
    int32_t cx, cy;
    bool hide, horizontal, vertical, move, show;
    int32_t lastW, lastH;
  } cases[] = {
      // Last drawn for 300 x 200.
      {"hide", 0x80, 500, 400, true, false, false, false, false, 300, 200},
      {"hide wins over show", 0xC0, 300, 200, true, false, false, false, false, 300, 200},
      {"pure move", 0x0, 300, 200, false, false, false, true, false, 300, 200},
      {"width", 0x0, 310, 200, false, true, false, true, false, 310, 200},
      {"height", 0x0, 300, 190, false, false, true, true, false, 300, 190},
      {"both", 0x0, 1, 2, false, true, true, true, false, 1, 2},
      {"show", 0x40 | 0x3, 300, 200, false, false, false, true, true, 300, 200},
  };
  for (const auto& c : cases) {
    const RepositionPlan p = PlanReposition(c.flags, c.cx, c.cy, 300, 200);
    EXPECT_EQ(p.hide, c.hide) << c.name;
    EXPECT_EQ(p.redrawHorizontal, c.horizontal) << c.name;
    EXPECT_EQ(p.redrawVertical, c.vertical) << c.name;
    EXPECT_EQ(p.move, c.move) << c.name;
    EXPECT_EQ(p.show, c.show) << c.name;
    EXPECT_EQ(p.lastWidth, c.lastW) << c.name;
    EXPECT_EQ(p.lastHeight, c.lastH) << c.name;
  }
  // The first position after attaching draws everything (LastWidth/LastHeight start at 0).
  const RepositionPlan first = PlanReposition(0x40, 400, 300, 0, 0);
  EXPECT_TRUE(first.redrawHorizontal && first.redrawVertical && first.move && first.show);
}

TEST(ShadowRules, ShowAndSizeDecisions) {
  EXPECT_FALSE(ShowShadowsActs(true, true, false));
  EXPECT_FALSE(ShowShadowsActs(false, false, false));
  EXPECT_TRUE(ShowShadowsActs(false, true, false));
  EXPECT_TRUE(ShowShadowsActs(true, false, false));
  EXPECT_TRUE(ShowShadowsActs(true, true, true));
  EXPECT_TRUE(SizeShowsShadows(0, true));
  EXPECT_FALSE(SizeShowsShadows(0, false));
  EXPECT_FALSE(SizeShowsShadows(1, true));  // minimised
  EXPECT_FALSE(SizeShowsShadows(2, true));  // maximised
}

TEST(ShadowRules, DisplayChange) {
  EXPECT_EQ(DisplayTransition(true, false), DisplayChange::DestroyPieces);
  EXPECT_EQ(DisplayTransition(false, true), DisplayChange::CreatePieces);
  EXPECT_EQ(DisplayTransition(true, true), DisplayChange::Nothing);
  EXPECT_EQ(DisplayTransition(false, false), DisplayChange::Nothing);
}

}  // namespace
}  // namespace stub
