#include <cmath>
#include <gtest/gtest.h>
#include "download_fakes.h"

namespace stub::test { namespace {

TEST(DownloadProgress, BarFollowsWholePercentsAndReportsPumpTwice) {
  const struct { int32_t max, progress; float full, fill; } cases[] = {
      {0, 500, 7470, 0},        {1000, 9, 7470, 0},      {1000, 10, 7470, 74.7f},    {1000, 999, 7470, 7395.3f},
      {3, 1, 7470, 2465.1f},    {1000, -5, 7470, 0},     {1, INT32_MAX, 7470, 7470},  // never past full
      {3, 3, 1234.567f, 1234.567f}, {INT32_MAX, INT32_MAX, 0.1f, 0.1f},  // exactly full at the total
      // Extremes: nothing without a total, a floor just below 100 % (in double precision).
      {INT32_MIN, INT32_MAX, 7470, 0}, {INT32_MAX, INT32_MAX - 1, 7470, 7395.3f},
  };
  for (const auto& c : cases) {
    Rig r;
    r.full = c.full, r.ctl.OnProgress(c.max, c.progress, 5);
    EXPECT_FLOAT_EQ(r.fill, c.fill) << c.max << " " << c.progress;
    EXPECT_TRUE(r.pumps == (c.max > 0 ? 2 : 0) && r.ctl.DownCount == (c.max > 0 ? c.progress : 0));
    EXPECT_EQ(r.ctl.DownCode, c.max > 0 ? u"5," : u"");  // without a total nothing changes
  }
}

TEST(DownloadProgress, SpeedLineOnceASecondAndCloseClicks) {
  Rig r;
  r.ctl.OnProgress(10000000, 600000, 5);  // Timerold is 0: updates at once with everything so far
  EXPECT_EQ(r.status, u"下载速度：586KB");
  r.now = 36000.6, r.ctl.OnProgress(10000000, 1200000, 5);
  r.now = 36001.0, r.ctl.OnProgress(10000000, 1800000, 5);  // exactly one second: not yet
  EXPECT_EQ(r.With(u"status:").size(), 1u);
  r.now = 36001.2, r.ctl.OnProgress(10000000, 2700000, 5);
  EXPECT_TRUE(r.status == u"下载速度：2.0MB" && r.ctl.Downbyte == 2700000);  // 2100000 bytes since the last refresh
  r.now = 36010, r.ctl.OnProgress(5000000, 300000, 5);  // a retry starts from 0 again: never a negative speed
  EXPECT_EQ(r.status, u"下载速度：293KB");
  Rig w;  // a close click while downloading: only a warning
  w.onPump = [&, clicks = 0]() mutable { if (clicks++ == 0) w.ctl.Image3_Click(); };
  w.ctl.OnProgress(1000, 500, 5);
  EXPECT_TRUE(w.With(u"message:") == Texts{u"message:下载中...请勿关闭！|提示"} && w.ctl.DownCount == 500 && w.reports.empty());
  Rig e;  // once the download phase is over the close zone ends the program, and nothing more happens
  e.ctl.DownEnd = u"END", e.onPump = [&] { e.ctl.Image3_Click(); };
  e.ctl.OnProgress(1000, 500, 5), e.ctl.OnProgress(1000, 600, 6);
  EXPECT_TRUE(e.closes == 1 && e.afterEnd == 0 && e.ctl.DownCount == 0);
}

TEST(DownloadChecks, FewBlockingWaitsEndingBeforeMidnightAndFullDisksByDrive) {
  const struct { double start, stepCap; int32_t n; double end; std::vector<double> waits; } cases[] = {
      {36000, 1e9, 2, 36002, {2}},
      {1000, 0.25, 1, 1001, {1.0, 0.75, 0.5, 0.25}},  // early returns never ask for more than is left
      {86394.5, 1e9, 2, 86395.001, {0.5, 0.001}},     // stops at about 86395
      // Already past, the clock's reset value, a negative count: returns at once.
      {86395.5, 1e9, 1, 86395.5, {}}, {0.0, 1e9, 2, 0.0, {}}, {500.0, 1e9, -3, 500.0, {}},
  };
  for (const auto& c : cases) {
    Rig r;
    r.now = c.start, r.stepCap = c.stepCap, r.ctl.WaitSeconds(c.n);
    EXPECT_TRUE(std::abs(r.now - c.end) < 1e-9 && r.waits == c.waits) << c.start;
  }
  const struct { const char16_t* dir; uint32_t freeClusters; int32_t mb; Texts messages; } disks[] = {  // 4 KiB clusters
      {u"C:\\Temp\\", 2621440, 10240, {}}, {u"E:\\App\\", 200, 0, {}}, {u"C:", 2621440, 10240, {}},
      {u"C:\\", 0, 0, {u"message:C盘已没有可用空间,无法安装软件！|提示"}},
      {u"c:\\progra~1\\", 200, 0, {u"message:C盘已没有可用空间,无法安装软件！|提示"}},
      {u"D:\\Temp\\", 200, 0, {u"message:D盘已没有可用空间,无法安装软件！|提示"}},
  };
  for (const auto& c : disks) {
    Rig r;
    r.run.SaveDir = c.dir;
    if (c.freeClusters) r.disks[std::u16string(c.dir).substr(0, 3)] = {8, 512, c.freeClusters};
    EXPECT_EQ(r.ctl.GetDiskFreeMB(c.dir), c.mb);
    EXPECT_EQ((r.ctl.CheckDiskFull(), r.With(u"message:")), c.messages) << c.mb;
  }
}

}}  // namespace stub::test
