#include <algorithm>

#include <gtest/gtest.h>

#include "download_fakes.h"

namespace stub::test {
namespace {

using Texts = std::vector<std::u16string>;
using S = DownState;

// Reports with the long finish texts cut to "OK" / "Not".
Texts Brief(const Texts& reports) {
  Texts out;
  for (const auto& r : reports) {
    if (r.rfind(u"DownFinish=OK:", 0) == 0) out.push_back(u"OK");
    else if (r.rfind(u"DownFinish=Not:", 0) == 0) out.push_back(u"Not");
    else out.push_back(r);
  }
  return out;
}

size_t IndexOf(const Texts& log, const std::u16string& entry) {
  return std::find(log.begin(), log.end(), entry) - log.begin();
}

TEST(DownloadFlow, MatchingDownloadIsRunAndEndsTheProgram) {
  Rig r;
  r.engine.transfers = {Rig::Complete(kGood)};
  r.Start();
  EXPECT_EQ(r.shell.reports, (Texts{u"BeginDown",
                                    u"DownFinish=OK:2 DownCode=4,14,5,6, SavePath=C:\\Temp\\ "
                                    u"url=dl.example.com/soft/setup.exe"}));
  EXPECT_EQ(r.engine.urls, Texts{u"http://dl.example.com/soft/setup.exe?20240102030405"});
  EXPECT_EQ(r.engine.paths, Texts{u"C:\\Temp\\setup.exe"});
  const Texts tail(r.world.log.end() - 6, r.world.log.end());
  EXPECT_EQ(tail, (Texts{u"hold:C:\\Temp\\setup.exe", r.world.log[r.world.log.size() - 5],
                         u"open:C:\\Temp\\setup.exe", u"release:C:\\Temp\\setup.exe", u"hide",
                         u"closeall"}));
  EXPECT_EQ(r.world.states, (std::vector<S>{S::ReuseCheck, S::Choosing, S::Downloading, S::Judging, S::Ended}));
  EXPECT_EQ(r.view.fill, r.view.full);
  EXPECT_EQ(r.shell.closes, 1);
  EXPECT_EQ(r.world.afterEnd, 0);
}

TEST(DownloadFlow, ReuseFindsTheFirstMatchingVariant) {
  struct {
    std::vector<std::pair<std::u16string, std::u16string>> files;
    const char16_t* run;  // nullptr: no reuse
  } cases[] = {
      {{{u"C:\\Temp\\setup.exe", kBad}, {u"C:\\Temp\\setup(3).exe", kGoodUpper}}, u"C:\\Temp\\setup(3).exe"},
      {{{u"D:\\Temp\\setup.exe", kGood}, {u"C:\\Temp\\setup(5).exe", kGood}}, u"C:\\Temp\\setup(5).exe"},
      {{{u"C:\\App\\setup(5).exe", kGood}}, u"C:\\App\\setup(5).exe"},
      {{{u"C:\\Temp\\setup(6).exe", kGood}, {u"C:\\Temp\\setup(1).exe", u"* ERR: CANNOT READ FILE"}}, nullptr},
      {{{u"C:\\Temp\\setup.EXE", kGood}}, nullptr},
  };
  for (const auto& c : cases) {
    Rig r;
    for (const auto& [path, digest] : c.files) {
      r.files.existing.insert(path);
      r.files.digests[path] = digest;
    }
    r.engine.transfers = {Rig::Complete(kGood)};
    r.Start();
    if (c.run) {
      EXPECT_EQ(r.shell.reports, Texts{u"IsDownEmp=OK"});
      EXPECT_TRUE(r.engine.urls.empty());
      const Texts tail(r.world.log.end() - 4, r.world.log.end());
      EXPECT_EQ(tail, (Texts{u"open:" + std::u16string(c.run), u"release:" + std::u16string(c.run),
                             u"hide", u"closeall"}));
      EXPECT_EQ(r.world.states, (std::vector<S>{S::ReuseCheck, S::Ended}));
    } else {
      EXPECT_EQ(r.engine.urls.size(), 1u);
    }
    EXPECT_EQ(r.shell.closes, 1);
  }
}

TEST(DownloadFlow, EmptyExpectedDigestMeansNoReuseAndFailedDownloads) {
  Rig r;
  r.run.FileMD5 = u"";
  r.files.existing = {u"C:\\Temp\\setup.exe"};
  r.files.digests[u"C:\\Temp\\setup.exe"] = kGood;
  r.engine.transfers = {Rig::Broken(kGood), Rig::Broken(kGood)};
  r.Start();
  EXPECT_EQ(Brief(r.shell.reports),
            (Texts{u"CheckFile-setup(1).exe", u"BeginDown", u"Not", u"AutoReDown", u"BeginDown", u"Not"}));
  EXPECT_NE(r.shell.reports[2].find(u" DownMD5=" + std::u16string(kGoodUpper) + u" FileMD5= url="),
            std::u16string::npos);
  EXPECT_TRUE(r.world.With(u"open:").empty());
  EXPECT_EQ(r.ctl.State(), S::Failed);
}

TEST(DownloadFlow, NameSearchTakesTheFirstFreeVariant) {
  struct {
    Texts taken;
    const char16_t* path;
    Texts checks;
  } cases[] = {
      {{u"C:\\Temp\\setup.exe", u"C:\\Temp\\setup(1).exe", u"C:\\Temp\\setup(2).exe"},
       u"C:\\Temp\\setup(3).exe",
       {u"CheckFile-setup(1).exe", u"CheckFile-setup(2).exe"}},
      // All four taken: the next folder's search starts at the first variant.
      {{u"C:\\Temp\\setup.exe", u"C:\\Temp\\setup(1).exe", u"C:\\Temp\\setup(2).exe", u"C:\\Temp\\setup(3).exe"},
       u"D:\\Temp\\setup(1).exe",
       {u"CheckFile-setup(1).exe", u"CheckFile-setup(2).exe", u"CheckFile-setup(1).exe"}},
      {{u"C:\\Temp\\setup.exe", u"C:\\Temp\\setup(1).exe", u"C:\\Temp\\setup(2).exe", u"C:\\Temp\\setup(3).exe",
        u"D:\\Temp\\setup(1).exe"},
       u"D:\\Temp\\setup(2).exe",
       {u"CheckFile-setup(1).exe", u"CheckFile-setup(2).exe", u"CheckFile-setup(1).exe", u"CheckFile-setup(2).exe"}},
  };
  for (const auto& c : cases) {
    Rig r;
    r.files.existing.insert(c.taken.begin(), c.taken.end());
    r.engine.transfers = {Rig::Complete(kGood)};
    r.Start();
    EXPECT_EQ(r.engine.paths, Texts{c.path});
    Texts expected = c.checks;
    expected.insert(expected.end(), {u"BeginDown", u"OK"});
    EXPECT_EQ(Brief(r.shell.reports), expected) << int(c.taken.size());
    EXPECT_TRUE(r.files.existing.count(u"C:\\Temp\\1.tmp"));
  }
}

TEST(DownloadFlow, UrlWithoutExeGivesFourEqualNames) {
  Rig r;
  r.run.DownUrl = u"http://dl.example.com/get?id=5";
  r.files.existing = {u"C:\\Temp\\get"};
  r.engine.transfers = {Rig::Complete(kGood)};
  r.Start();
  EXPECT_EQ(Brief(r.shell.reports), (Texts{u"CheckFile-get", u"CheckFile-get", u"CheckFile-get",
                                           u"BeginDown", u"OK"}));
  EXPECT_EQ(r.engine.paths, Texts{u"D:\\Temp\\get"});
  // Without a known extension it starts as a program, not through a handler.
  EXPECT_EQ(r.world.With(u"open:"), Texts{u"open:D:\\Temp\\get as a program"});
  EXPECT_EQ(r.engine.urls, Texts{u"http://dl.example.com/get?id=5?20240102030405"});
}

TEST(DownloadFlow, NoFreeNameSwitchesToTheBrowser) {
  struct {
    const char16_t* url;
    Texts taken;
    Texts unwritable;
    Texts reports;
  } cases[] = {
      {u"http://dl.example.com/soft/setup.exe",
       {u"C:\\App\\setup.exe", u"C:\\App\\setup(1).exe", u"C:\\App\\setup(2).exe", u"C:\\App\\setup(3).exe"},
       {u"C:\\Temp\\", u"D:\\Temp\\"},
       {u"CheckFile-setup(1).exe", u"CheckFile-setup(2).exe", u"SaveExe=Null"}},
      {u"http://dl.example.com/get",
       {u"C:\\Temp\\get", u"D:\\Temp\\get", u"C:\\App\\get"},
       {},
       {u"CheckFile-get", u"CheckFile-get", u"CheckFile-get", u"CheckFile-get", u"CheckFile-get",
        u"CheckFile-get", u"SaveExe=Null"}},
      // A URL without a file name has nothing to save to.
      {u"http://dl.example.com/soft/",
       {},
       {u"D:\\Temp\\"},
       {u"CheckFile-", u"CheckFile-", u"CheckFile-", u"CheckFile-", u"SaveExe=Null"}},
  };
  for (const auto& c : cases) {
    Rig r;
    r.run.DownUrl = c.url;
    r.files.existing.insert(c.taken.begin(), c.taken.end());
    r.files.unwritable.insert(c.unwritable.begin(), c.unwritable.end());
    r.Start();
    EXPECT_EQ(r.shell.reports, c.reports) << int(c.reports.size());
    EXPECT_TRUE(r.engine.urls.empty());
    EXPECT_EQ(r.ctl.DownEnd, u"END");
    EXPECT_EQ(r.run.SaveName, u"");
    const Texts tail(r.world.log.end() - 3, r.world.log.end());
    EXPECT_EQ(tail, (Texts{u"status:高速下载模式失败,转为浏览器模式下载...", u"open:" + std::u16string(c.url),
                           u"report:SaveExe=Null"}));
    EXPECT_EQ(r.shell.closes, 0);
    r.ctl.Image3_Click();  // the window now closes
    EXPECT_EQ(r.shell.reports.back(), u"fromClose-Down=0-");
    EXPECT_EQ(r.shell.closes, 1);
    EXPECT_EQ(r.world.states, (std::vector<S>{S::ReuseCheck, S::Choosing, S::Browser, S::Ended}));
  }
}

TEST(DownloadFlow, NoWritableLastFolderStillTriesTheProgramsFolder) {
  struct {
    Texts taken;
    Texts unwritable;
    Texts reports;
  } cases[] = {
      {{}, {u"C:\\Temp\\", u"D:\\Temp\\", u"C:\\App\\"}, {u"TestEmp=Not", u"BeginDown", u"Not"}},
  };
  for (const auto& c : cases) {
    Rig r;
    r.files.existing.insert(c.taken.begin(), c.taken.end());
    r.files.unwritable.insert(c.unwritable.begin(), c.unwritable.end());
    r.engine.transfers = {Rig::Broken(u""), Rig::Broken(u"")};  // nothing can be saved
    r.Start();
    EXPECT_EQ(r.engine.paths.at(0), u"C:\\App\\setup(2).exe");
    const Texts first(r.shell.reports.begin(), r.shell.reports.begin() + c.reports.size());
    EXPECT_EQ(Brief(first), c.reports);
    EXPECT_EQ(r.ctl.State(), S::Failed);
  }
}

TEST(DownloadFlow, RetryGoesToTheProgramsFolder) {
  Rig r;
  r.files.existing = {u"C:\\App\\setup.exe"};
  r.engine.transfers = {Rig::Broken(kBad), Rig::Complete(kGood)};
  Texts seen;  // DownEnd while the retry looks for a file, and during each transfer
  r.files.onDigest = [&] {
    if (r.ctl.DownDefeated == 1 && r.ctl.State() == S::ReuseCheck) seen.push_back(u"reuse:" + r.ctl.DownEnd);
  };
  r.engine.during = [&](size_t, size_t note) {
    if (note == 0) seen.push_back(u"download:" + r.ctl.DownEnd);
  };
  r.Start();
  EXPECT_EQ(r.shell.reports,
            (Texts{u"BeginDown",
                   u"DownFinish=Not:2 DownCode=5,6, DiskSpace=0 URLMon= SavePath=C:\\Temp\\ "
                   u"DownMD5=FEDCBA9876543210FEDCBA9876543210 FileMD5=0123456789ABCDEF0123456789ABCDEF "
                   u"url=dl.example.com/soft/setup.exe",
                   u"AutoReDown", u"CheckFile-setup(1).exe", u"BeginDown",
                   u"DownFinish=OK:2 DownCode=5,6,4,14, SavePath=C:\\App\\ url=dl.example.com/soft/setup.exe"}));
  EXPECT_EQ(r.engine.paths, (Texts{u"C:\\Temp\\setup.exe", u"C:\\App\\setup(1).exe"}));
  EXPECT_EQ(r.ctl.DownDefeated, 1);
  EXPECT_EQ(seen.front(), u"download:");
  EXPECT_EQ(seen.back(), u"download:");
  EXPECT_EQ(std::count(seen.begin(), seen.end(), u"reuse:END"), 18);
  // The failed file is let go before the retry.
  EXPECT_LT(IndexOf(r.world.log, u"release:C:\\Temp\\setup.exe"), IndexOf(r.world.log, u"report:AutoReDown"));
  EXPECT_EQ(r.world.states, (std::vector<S>{S::ReuseCheck, S::Choosing, S::Downloading, S::Judging, S::Retrying,
                                            S::ReuseCheck, S::Choosing, S::Downloading, S::Judging, S::Ended}));
}

TEST(DownloadFlow, CleanTransferIsRunDespiteADigestMismatch) {
  const std::u16string title = u"Korvel 4.2  安装 ";
  using Notes = std::vector<FakeEngine::Note>;
  const Notes clean = Rig::Complete(kBad).notes;
  const Notes start = {{9, 1, 4}, {9, 1, 14}}, rest = {{9, 1, 5}, {9, 9, 6}};
  const Texts twice = {u"BeginDown", u"Not", u"AutoReDown", u"BeginDown", u"Not"};
  struct {
    std::set<std::u16string> windows;
    Notes first, second;
    std::u16string digest;  // of both files
    bool aborted;
    Texts reports;
    size_t opens;
    bool ended;
  } cases[] = {
      {{}, clean, clean, kBad, false, twice, 2, false},
      {{u"NSIS Error"}, clean, clean, kBad, false, {u"BeginDown", u"Not", u"NSISError", u"AutoReDown", u"BeginDown", u"Not", u"NSISError"}, 2, false},
      {{title}, clean, clean, kBad, false, {u"BeginDown", u"Not", u"CheackFinish=OK"}, 1, true},
      {{u"NSIS Error", title}, clean, clean, kBad, false, {u"BeginDown", u"Not", u"NSISError", u"CheackFinish=OK"}, 1, true},
      // Any other status list: the file is not run, whatever windows exist.
      {{u"NSIS Error", title}, {{9, 1, 4}, {9, 1, 5}, {9, 1, 14}, {9, 9, 6}}, {{9, 1, 4}, {9, 1, 5}, {9, 1, 14}, {9, 9, 6}},
       kBad, false, twice, 0, false},
      {{title}, {{9, 1, 4}, {9, 1, 14}, {9, 1, 5}, {9, 9, 6}, {9, 9, 13}}, {{9, 1, 4}, {9, 1, 14}, {9, 1, 5}, {9, 9, 6}, {9, 9, 13}},
       kBad, false, twice, 0, false},
      // The retry's trail is its own: 4,14 then 5,6 make 4,14,5,6 only in the reports.
      {{title}, start, rest, kBad, false, twice, 0, false},
      // A file that could not be read (held open for writing elsewhere) or
      // a transfer aborted after a stall is never run.
      {{title}, clean, clean, u"* ERR: CANNOT OPEN FILE", false, twice, 0, false},
      {{title}, clean, clean, kBad, true, twice, 0, false},
  };
  for (const auto& c : cases) {
    Rig r;
    r.shell.windows = c.windows;
    FakeEngine::Transfer first{c.first, c.digest}, second{c.second, c.digest};
    first.aborted = second.aborted = c.aborted;
    r.engine.transfers = {first, second};
    r.Start();
    EXPECT_EQ(Brief(r.shell.reports), c.reports) << int(c.reports.size());
    EXPECT_EQ(r.world.With(u"open:").size(), c.opens);
    EXPECT_EQ(r.ctl.Ended(), c.ended);
    EXPECT_EQ(r.ctl.State(), c.ended ? S::Ended : S::Failed);
    EXPECT_EQ(r.world.afterEnd, 0);
    if (c.first.size() == 2) {
      EXPECT_EQ(r.ctl.DownCode, u"4,14,5,6,");  // the reports still accumulate
    }
  }
}

TEST(DownloadFlow, FailureReportCarriesDiskUrlLibraryAndDigests) {
  Rig r;
  r.shell.separator = u",";
  r.files.disks[u"C:\\"] = {8, 512, 2621440, 0};
  r.files.existing.insert(u"C:\\Windows\\syswow64\\urlmon.dll");
  auto missing = Rig::Broken(u"");
  missing.seconds = 12.5;
  r.engine.transfers = {missing};
  r.Start();
  EXPECT_EQ(r.shell.reports.at(1),
            u"DownFinish=Not:12,5 DownCode=5,6, DiskSpace=10240 URLMon=1 SavePath=C:\\Temp\\ DownMD5= "
            u"FileMD5=0123456789ABCDEF0123456789ABCDEF url=dl.example.com/soft/setup.exe");
}

TEST(DownloadFlow, SecondFailureWaitsForTheUser) {
  Rig r;
  r.engine.transfers = {Rig::Broken(kBad), Rig::Broken(kBad)};  // C: has no disk space
  r.Start();
  EXPECT_EQ(Brief(r.shell.reports), (Texts{u"BeginDown", u"Not", u"AutoReDown", u"BeginDown", u"Not"}));
  const Texts tail(r.world.log.end() - 3, r.world.log.end());
  EXPECT_EQ(tail, (Texts{u"message:C盘已没有可用空间,无法安装软件！|提示", u"status:下载文件验证失败,请重试",
                         u"button"}));
  EXPECT_EQ(r.ctl.State(), S::Failed);
  EXPECT_EQ(r.ctl.DownEnd, u"END");
  EXPECT_EQ(r.shell.closes, 0);

  r.ctl.Image4_Click();
  EXPECT_EQ(r.shell.reports.back(), u"Image4_Click");
  EXPECT_EQ(r.world.log.back(), u"open:http://dl.example.com/soft/setup.exe");
  EXPECT_EQ(r.view.status, u"高速下载模式失败,转为浏览器模式下载...");
  EXPECT_EQ(r.shell.closes, 0);

  r.ctl.Image3_Click();
  EXPECT_EQ(r.shell.reports.back(), u"fromClose-Down=300-");
  EXPECT_EQ(r.shell.closes, 1);
}

// The close zone used wherever the flow lets messages through once the
// download phase is over: the program ends there and nothing else happens.
TEST(DownloadFlow, ClosingWhileJudgingEndsEverything) {
  enum Where { InDigest, InRetryWait, InLaunchWait, InDiskMessage };
  struct {
    Where where;
    Texts reports;
  } cases[] = {
      {InDigest, {u"BeginDown", u"fromClose-Down=300-"}},
      {InRetryWait, {u"BeginDown", u"Not", u"AutoReDown", u"fromClose-Down=300-"}},
      {InLaunchWait, {u"BeginDown", u"OK", u"fromClose-Down=1000-"}},
      {InDiskMessage, {u"BeginDown", u"Not", u"AutoReDown", u"BeginDown", u"Not", u"fromClose-Down=300-"}},
  };
  for (const auto& c : cases) {
    Rig r;
    const bool good = c.where == InLaunchWait;
    r.engine.transfers = {good ? Rig::Complete(kGood) : Rig::Broken(), Rig::Broken()};
    auto close = [&] { r.ctl.Image3_Click(); };
    if (c.where == InDigest)
      r.files.onDigest = [&] { if (r.ctl.State() == S::Judging) close(); };
    if (c.where == InRetryWait)
      r.waiter.onWait = [&] { if (r.ctl.State() == S::Retrying) close(); };
    if (c.where == InLaunchWait)
      r.waiter.onWait = [&] { if (!r.world.With(u"open:").empty()) close(); };
    if (c.where == InDiskMessage) r.view.onMessage = close;
    r.Start();
    EXPECT_EQ(Brief(r.shell.reports), c.reports) << c.where;
    EXPECT_EQ(r.shell.closes, 1) << c.where;
    EXPECT_EQ(r.world.afterEnd, 0) << c.where;
    EXPECT_EQ(r.world.log.back(), u"closeall") << c.where;
  }
}

TEST(DownloadFlow, NothingRunsAfterTheEnd) {
  Rig r;
  r.engine.transfers = {Rig::Complete(kGood), Rig::Complete(kGood)};
  r.Start();
  ASSERT_TRUE(r.ctl.Ended());
  const size_t logged = r.world.log.size();
  r.ctl.Timer1_Timer();
  r.ctl.Image2_Click();
  r.ctl.Image3_Click();
  r.ctl.Image4_Click();
  r.ctl.OnProgress(100, 50, 5);
  r.ctl.IsDownEmp();
  r.ctl.ChooseSaveFile();
  r.ctl.BeginDown();
  r.ctl.StartDownFile(u"http://x/", u"C:\\Temp\\x.exe");
  r.ctl.DownFinish();
  r.ctl.BrowsDown();
  r.ctl.WaitSeconds(5);
  r.ctl.CheckDiskFull();
  EXPECT_EQ(r.world.log.size(), logged);
  EXPECT_EQ(r.world.afterEnd, 0);
  EXPECT_EQ(r.engine.urls.size(), 1u);
}

TEST(DownloadFlow, TheStartTimerRunsTheFlowOnce) {
  Rig r;
  r.files.unwritable = {u"C:\\Temp\\", u"D:\\Temp\\", u"C:\\App\\"};
  r.run.DownUrl = u"http://dl.example.com/";
  r.Start();
  const Texts once = r.shell.reports;
  r.Start();
  EXPECT_EQ(r.shell.reports, once);
}

TEST(DownloadFlow, SaveNamesFromTheUrlStayInTheFolder) {
  struct {
    const char16_t* url;
    const char16_t* path;
    const char16_t* download;
  } cases[] = {
      {u"http://h/..\\..\\evil.exe", u"C:\\Temp\\.._.._evil.exe", u"http://h/..\\..\\evil.exe?20240102030405"},
      {u"http://h/a.exe?x=1", u"C:\\Temp\\a.exe", u"http://h/a.exe?x=1?20240102030405"},
      {u"http://h/a.exe#top", u"C:\\Temp\\a.exe", u"http://h/a.exe#top?20240102030405"},
      {u"http://h/get?f=/x.exe", u"C:\\Temp\\get", u"http://h/get?f=/x.exe?20240102030405"},
      {u"http://h/安装包.exe. ", u"C:\\Temp\\安装包.exe", u"http://h/安装包.exe. ?20240102030405"},
  };
  for (const auto& c : cases) {
    Rig r;
    r.run.DownUrl = c.url;
    r.engine.transfers = {Rig::Complete(kGood)};
    r.Start();
    EXPECT_EQ(r.engine.paths, Texts{c.path});
    EXPECT_EQ(r.engine.urls, Texts{c.download});
  }
  // The reuse search looks for the same safe names.
  Rig r;
  r.run.DownUrl = u"http://h/..\\..\\evil.exe";
  r.files.digests[u"C:\\Temp\\.._.._evil(1).exe"] = kGood;
  r.files.digests[u"C:\\Temp\\..\\..\\evil.exe"] = kGood;
  r.Start();
  EXPECT_EQ(r.world.With(u"open:"), Texts{u"open:C:\\Temp\\.._.._evil(1).exe"});
}

TEST(DownloadFlow, DownloadAcrossMidnightReportsANegativeDuration) {
  Rig r;
  r.clock.now = 86399.5;
  auto transfer = Rig::Complete(kGood);
  transfer.seconds = 1.25;
  r.engine.transfers = {transfer};
  r.Start();
  EXPECT_EQ(r.shell.reports.at(1), u"DownFinish=OK:-86398.75 DownCode=4,14,5,6, SavePath=C:\\Temp\\ "
                                   u"url=dl.example.com/soft/setup.exe");
}

// Only web addresses are downloaded or handed to the browser; anything else
// fails without a transfer and ends with the browser button, which refuses it.
TEST(DownloadFlow, OnlyWebAddressesAreDownloadedOrOpened) {
  struct {
    const char16_t* url;
    const char16_t* browser;  // what the browser button opens; "" for nothing
  } cases[] = {
      {u"HTTPS://dl.example.com/a.exe", u"HTTPS://dl.example.com/a.exe"},
      {u"http://h/a b\" -x \"c.exe", u"http://h/a%20b%22%20-x%20%22c.exe"},
      {u"http://h/安.exe", u"http://h/%E5%AE%89.exe"},
      {u"\\\\host\\share\\x.exe", u""},
      {u"file:///C:/x.exe", u""},
      {u"C:\\Windows\\System32\\calc.exe", u""},
      {u" http://h/a.exe", u""},
  };
  for (const auto& c : cases) {
    Rig r;
    r.run.DownUrl = c.url;
    r.Start();  // two failed transfers: the default engine saves nothing
    const bool web = *c.browser != 0;
    EXPECT_EQ(r.engine.urls.size(), web ? 2u : 0u) << web;
    EXPECT_EQ(Brief(r.shell.reports), (Texts{u"BeginDown", u"Not", u"AutoReDown", u"BeginDown", u"Not"}));
    EXPECT_EQ(r.ctl.State(), S::Failed);
    r.ctl.Image4_Click();
    EXPECT_EQ(r.view.status, u"高速下载模式失败,转为浏览器模式下载...");
    EXPECT_EQ(r.world.With(u"open:"), web ? Texts{u"open:" + std::u16string(c.browser)} : Texts{}) << web;
  }
}

}  // namespace
}  // namespace stub::test
