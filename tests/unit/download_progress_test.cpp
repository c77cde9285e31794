#include <climits>

#include <gtest/gtest.h>

#include "download_fakes.h"

namespace stub::test {
namespace {

TEST(DownloadProgress, ReportsWithoutATotalChangeNothing) {
  Rig r;
  r.ctl.OnProgress(0, 500, 1);
  r.ctl.OnProgress(-5, 500, 2);
  EXPECT_EQ(r.ctl.DownCount, 0);
  EXPECT_EQ(r.ctl.DownCode, u"");
  EXPECT_EQ(r.view.fill, 0);
  EXPECT_EQ(r.view.status, u"");
  EXPECT_EQ(r.waiter.pumps, 0);
}

TEST(DownloadProgress, EachReportPumpsTwiceAndKeepsTheCount) {
  Rig r;
  r.ctl.OnProgress(1000, 10, 4);
  r.ctl.OnProgress(1000, 250, 5);
  EXPECT_EQ(r.waiter.pumps, 4);
  EXPECT_EQ(r.ctl.DownCount, 250);
}

TEST(DownloadProgress, BarIsFullExactlyAtTheTotal) {
  for (float full : {7470.0f, 1234.567f, 0.1f}) {
    for (int32_t total : {3, 999, INT32_MAX}) {
      Rig r;
      r.view.full = full;
      r.ctl.OnProgress(total, total, 5);
      EXPECT_EQ(r.view.fill, full) << full << " " << total;
    }
  }
}

TEST(DownloadProgress, BarFollowsWholePercents) {
  struct {
    int32_t max, progress;
    float fill;
  } cases[] = {
      {1000, 9, 0},          {1000, 10, 74.7f},     {1000, 999, 7395.3f},
      {3, 1, 2465.1f},       {1000, -5, 0},         {1, INT32_MAX, 7470},  // never past full
  };
  for (const auto& c : cases) {
    Rig r;
    r.ctl.OnProgress(c.max, c.progress, 5);
    EXPECT_FLOAT_EQ(r.view.fill, c.fill) << c.max << " " << c.progress;
  }
}

TEST(DownloadProgress, SpeedLineRefreshesAboutOnceASecond) {
  Rig r;
  r.clock.now = 36000;
  r.ctl.OnProgress(10000000, 600000, 5);  // Timerold is 0: updates at once with everything so far
  EXPECT_EQ(r.view.status, u"下载速度：586KB");
  r.clock.now = 36000.6;
  r.ctl.OnProgress(10000000, 1200000, 5);
  r.clock.now = 36001.0;
  r.ctl.OnProgress(10000000, 1800000, 5);  // exactly one second: not yet
  EXPECT_EQ(r.world.With(u"status:").size(), 1u);
  r.clock.now = 36001.2;
  r.ctl.OnProgress(10000000, 2700000, 5);
  EXPECT_EQ(r.view.status, u"下载速度：2.0MB");  // 2100000 bytes since the last refresh
  EXPECT_EQ(r.ctl.Downbyte, 2700000);
  EXPECT_FLOAT_EQ(r.ctl.Timerold, 36001.2f);
  EXPECT_EQ(r.world.With(u"status:").size(), 2u);
}

TEST(DownloadProgress, SpeedLineStopsAfterMidnight) {
  Rig r;
  r.clock.now = 86399.5;
  r.ctl.OnProgress(1000000, 1000, 5);
  ASSERT_EQ(r.world.With(u"status:").size(), 1u);
  for (double t : {0.3, 2.0, 600.0, 40000.0}) {
    r.clock.now = t;
    r.ctl.OnProgress(1000000, 5000, 5);
  }
  EXPECT_EQ(r.world.With(u"status:").size(), 1u);
  EXPECT_EQ(r.ctl.DownCount, 5000);  // the rest of the report still works
}

TEST(DownloadProgress, ANewDownloadNeverShowsANegativeSpeed) {
  Rig r;
  r.clock.now = 100;
  r.ctl.OnProgress(5000000, 4000000, 5);  // end of the first download
  r.clock.now = 105;
  r.ctl.OnProgress(5000000, 300000, 5);  // the retry starts from 0 again
  EXPECT_EQ(r.view.status, u"下载速度：293KB");
  EXPECT_EQ(r.ctl.Downbyte, 300000);
}

TEST(DownloadProgress, ExtremeNumbersAreHarmless) {
  Rig r;
  const int32_t values[] = {INT32_MIN, -1, 0, 1, INT32_MAX};
  for (int32_t max : values)
    for (int32_t progress : values) {
      r.clock.Advance(1.5);
      r.ctl.OnProgress(max, progress, progress);
      EXPECT_GE(r.view.fill, 0);
      EXPECT_EQ(r.view.status.find(u'-'), std::u16string::npos);
    }
}

TEST(DownloadProgress, ACloseClickDuringTheTransferOnlyWarns) {
  Rig r;
  r.waiter.onPump = [&] {
    r.waiter.onPump = nullptr;
    r.ctl.Image3_Click();
  };
  r.ctl.OnProgress(1000, 500, 5);
  EXPECT_EQ(r.world.With(u"message:"), std::vector<std::u16string>{u"message:下载中...请勿关闭！|提示"});
  EXPECT_EQ(r.ctl.DownCount, 500);
  EXPECT_TRUE(r.shell.reports.empty());
  EXPECT_EQ(r.shell.closes, 0);
}

TEST(DownloadProgress, NothingHappensOnceTheProgramHasEnded) {
  Rig r;
  r.ctl.DownEnd = u"END";
  r.waiter.onPump = [&] { r.ctl.Image3_Click(); };  // the close zone ends the program
  r.ctl.OnProgress(1000, 500, 5);
  r.ctl.OnProgress(1000, 600, 6);
  EXPECT_EQ(r.shell.closes, 1);
  EXPECT_EQ(r.world.afterEnd, 0);
  EXPECT_EQ(r.ctl.DownCount, 0);
  EXPECT_EQ(r.ctl.DownCode, u"");
}

}  // namespace
}  // namespace stub::test
