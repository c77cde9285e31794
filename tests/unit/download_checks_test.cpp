#include <gtest/gtest.h>

#include "download_fakes.h"

namespace stub::test {
namespace {

TEST(DownloadWait, WaitsTheWholeTimeInFewBlockingWaits) {
  Rig r;
  r.clock.now = 36000;
  r.ctl.WaitSeconds(2);
  EXPECT_DOUBLE_EQ(r.clock.now, 36002);
  EXPECT_LE(r.waiter.waits.size(), 2u);
}

TEST(DownloadWait, EarlyReturnsNeverAskForMoreThanIsLeft) {
  Rig r;
  r.clock.now = 1000;
  r.waiter.stepCap = 0.25;  // messages keep arriving
  r.ctl.WaitSeconds(1);
  EXPECT_DOUBLE_EQ(r.clock.now, 1001);
  EXPECT_EQ(r.waiter.waits, (std::vector<double>{1.0, 0.75, 0.5, 0.25}));
}

TEST(DownloadWait, EndsBeforeMidnight) {
  struct {
    double start;
    int32_t n;
    double endAtMost;
    size_t waitsAtMost;
  } cases[] = {
      {86394.5, 2, 86395.01, 3},  // stops at about 86395
      {86394.0, 1, 86395.01, 3},  // exactly at 86395: ends on the next look
      {86395.5, 1, 86395.5, 0},   // already past: returns at once
      {0.0, 2, 0.0, 0},           // the clock's reset value: returns at once
      {500.0, -3, 500.0, 0},
  };
  for (const auto& c : cases) {
    Rig r;
    r.clock.now = c.start;
    r.ctl.WaitSeconds(c.n);
    EXPECT_LE(r.clock.now, c.endAtMost) << c.start;
    EXPECT_GE(r.clock.now, c.start) << c.start;
    EXPECT_LE(r.waiter.waits.size(), c.waitsAtMost) << c.start;
  }
}

TEST(DownloadWait, StopsWhenTheProgramEndsMeanwhile) {
  Rig r;
  r.ctl.DownEnd = u"END";
  r.waiter.stepCap = 0.1;
  r.waiter.onWait = [&] { r.ctl.Image3_Click(); };
  r.ctl.WaitSeconds(2);
  EXPECT_EQ(r.waiter.waits.size(), 1u);
  EXPECT_EQ(r.shell.reports, std::vector<std::u16string>{u"fromClose-Down=0-"});
  EXPECT_EQ(r.world.afterEnd, 0);
}

TEST(DownloadChecks, DiskFreeOfThePathsDrive) {
  struct {
    uint32_t sectorsPerCluster, bytesPerSector, freeClusters;
    bool ok;
    int32_t mb;
  } cases[] = {
      {8, 512, 2621440, true, 10240},
      {1024, 4096, 0xFFFFFFFFu, true, 0},  // 2^34 MB does not fit
      {8, 512, 100, false, 0},
  };
  for (const auto& c : cases) {
    Rig r;
    if (c.ok) r.files.disks[u"C:\\"] = {c.sectorsPerCluster, c.bytesPerSector, c.freeClusters, 0};
    EXPECT_EQ(r.ctl.GetDiskFreeMB(u"C:\\Temp\\"), c.mb) << c.freeClusters;
    EXPECT_EQ(r.ctl.GetDiskFreeMB(u"C:\\"), c.mb) << c.freeClusters;
  }
  Rig r;
  r.files.disks[u"C:"] = {8, 512, 2621440, 0};
  EXPECT_EQ(r.ctl.GetDiskFreeMB(u"C:"), 10240);
  EXPECT_EQ(r.ctl.GetDiskFreeMB(u""), 0);
}

TEST(DownloadChecks, FullDiskMessagesByDrive) {
  struct {
    const char16_t* dir;
    bool full;
    std::vector<std::u16string> messages;
  } cases[] = {
      {u"C:\\Temp\\", true, {u"message:C盘已没有可用空间,无法安装软件！|提示"}},
      {u"c:\\progra~1\\", true, {u"message:C盘已没有可用空间,无法安装软件！|提示"}},
      {u"D:\\Temp\\", true, {u"message:D盘已没有可用空间,无法安装软件！|提示"}},
      {u"E:\\App\\", true, {}},
      {u"C:\\Temp\\", false, {}},
  };
  for (const auto& c : cases) {
    Rig r;
    r.run.SaveDir = c.dir;
    const std::u16string root = std::u16string(c.dir).substr(0, 3);
    r.files.disks[root] = {8, 512, c.full ? 200u : 500000u, 0};
    r.ctl.CheckDiskFull();
    EXPECT_EQ(r.world.With(u"message:"), c.messages) << int(c.full);
  }
}

TEST(DownloadChecks, DigestComparison) {
  struct {
    const char16_t* announced;
    const char16_t* computed;  // nullptr: no such file
    int32_t result;
    const char16_t* downMD5;
  } cases[] = {
      {kGood, kGood, 1, kGoodUpper},
      {kGoodUpper, kGood, 1, kGoodUpper},
      {u"89abcdef01", kGood, 1, kGoodUpper},  // a part of the digest is enough
      {kGood, kBad, 2, kBadUpper},
      {u"", kGood, 0, kGoodUpper},
      {kGood, u"* ERR: CANNOT READ FILE", 0, u"* ERR: CANNOT READ FILE"},
      {kGood, nullptr, 0, u""},
  };
  for (const auto& c : cases) {
    Rig r;
    r.run.SaveDir = u"C:\\Temp\\";
    r.run.SaveName = u"setup.exe";
    r.run.FileMD5 = c.announced;
    if (c.computed) r.files.digests[u"C:\\Temp\\setup.exe"] = c.computed;
    EXPECT_EQ(r.ctl.CheckFileMD5(), c.result) << int(c.result);
    EXPECT_EQ(r.run.DownMD5, c.downMD5);
    EXPECT_EQ(r.run.FileMD5, ToUpper(c.announced));
  }
}

}  // namespace
}  // namespace stub::test
