#include <algorithm>
#include <gtest/gtest.h>
#include "download_fakes.h"

namespace stub::test { namespace {

const std::u16string kC = u"C:\\Temp\\", kD = u"D:\\Temp\\", kApp = u"C:\\App\\", kSetup = u"setup.exe";
const std::u16string kBrowserMode = u"高速下载模式失败,转为浏览器模式下载...", kTitle = u"Korvel 4.2  安装 ";
const Texts kTwice = {u"BeginDown", u"Not", u"AutoReDown", u"BeginDown", u"Not"}, kOk = {u"BeginDown", u"OK"};
std::u16string Open(const std::u16string& path) { return u"open:" + path; }
std::u16string Check(const char16_t* n) { return u"CheckFile-setup(" + std::u16string(n) + u").exe"; }

Texts Brief(Texts reports) {  // the long finish texts cut to "OK" / "Not", and their " Sign=..." when they carry it
  for (auto& r : reports)
    if (!r.rfind(u"DownFinish=", 0)) r = r.substr(11, r.find(u':') - 11) + r.substr(std::min(r.find(u" Sign="), r.size()));
  return reports;
}
std::vector<Transfer> Twice(const Transfer& t) { return {t, t}; }
void Titled(Rig& r) { r.windows = {kTitle}; }  // the installer's window shows
void Close(Rig& r) { r.ctl.Image3_Click(); }     // the close zone clicked

// One whole run per row, from a good download of http://dl.example.com/soft/setup.exe with nothing saved.
TEST(DownloadFlow, Runs) {
  const std::vector<Transfer> got = {{kClean, kGood}}, clean = Twice({kClean, kBad});  // clean: 4,14,5,6
  const std::u16string runC = Open(kC + kSetup), reused = u"IsDownEmp=OK";
  const std::u16string P(64, u'a'), PQ = std::u16string(64, u'b') + u"," + P, longSha = kSha + u"5";
  const SignatureFacts ok{0, 0, P}, bare{}, changed{kTrustBadDigest}, wineRoot{0, kChainPartial, P},
      windowsRoot{kTrustUntrustedRoot, kChainNone, P}, other{0, 0, std::u16string(64, u'b')};
  const auto twice = [](std::u16string v) { return Texts{u"BeginDown", v, u"AutoReDown", u"BeginDown", v}; };
  static const auto reuse = [](Rig& r) { r.Put(kC + kSetup, kGood), r.signatures[kC + kSetup] = {}; };
  const struct { void (*setup)(Rig&); std::vector<Transfer> transfers; Texts reports, opened; S state;
                 std::u16string pins{}; SignatureFacts facts{}; const char16_t* sha{};
                 std::vector<double> waits{}; } cases[] = {  // waits: checked where a row gives them
      // Every wait at its exact length: 1 s after a transfer, after a failure report and before the retry;
      // after a launch 2 s (1 s for a reused file); 1 s once the installer's window was seen.
      {nullptr, got, kOk, {runC}, S::Ended, {}, bare, {}, {1, 2}},
      {nullptr, {{kBroken, kBad}, got[0]}, {u"BeginDown", u"Not", u"AutoReDown", u"BeginDown", u"OK"},
       {Open(kApp + kSetup)}, S::Ended, {}, bare, {}, {1, 1, 1, 1, 2}},
      {nullptr, Twice({kBroken, kBad}), kTwice, {}, S::Failed, {}, bare, {}, {1, 1, 1, 1, 1}},
      {[](Rig& r) { r.run.FileMD5 = u"89abcdef01"; }, got, kOk, {runC}, S::Ended},  // a part of the digest is enough
      // Reuse: the first variant whose digest matches, folder by folder.
      {[](Rig& r) { r.Put(kC + kSetup, kBad), r.Put(kC + u"setup(3).exe", u"0123456789ABCDEF0123456789ABCDEF"); },
       {}, {reused}, {Open(kC + u"setup(3).exe")}, S::Ended, {}, bare, {}, {1}},
      {[](Rig& r) { r.Put(kD + kSetup, kGood), r.Put(kC + u"setup(5).exe", kGood); }, {}, {reused},
       {Open(kC + u"setup(5).exe")}, S::Ended},
      {[](Rig& r) { r.Put(kApp + u"setup(5).exe", kGood); }, {}, {reused}, {Open(kApp + u"setup(5).exe")}, S::Ended},
      {[](Rig& r) { r.Put(kC + u"setup(6).exe", kGood), r.Put(kC + u"setup(1).exe", u"* ERR: CANNOT READ FILE"); }, got,
       kOk, {runC}, S::Ended},
      // An empty expected digest matches nothing, neither a saved file nor a download.
      {[](Rig& r) { r.run.FileMD5 = u"", r.Put(kC + kSetup, kGood); }, Twice({kBroken, kGood}),
       {Check(u"1"), u"BeginDown", u"Not", u"AutoReDown", u"BeginDown", u"Not"}, {}, S::Failed},
      // The name search: the first free variant; all four taken moves on, starting at the first variant.
      {[](Rig& r) { r.existing = {kC + kSetup, kC + u"setup(1).exe", kC + u"setup(2).exe"}; }, got,
       {Check(u"1"), Check(u"2"), u"BeginDown", u"OK"}, {Open(kC + u"setup(3).exe")}, S::Ended},
      {[](Rig& r) { r.existing = {kC + kSetup, kC + u"setup(1).exe", kC + u"setup(2).exe", kC + u"setup(3).exe"}; }, got,
       {Check(u"1"), Check(u"2"), Check(u"1"), u"BeginDown", u"OK"}, {Open(kD + u"setup(1).exe")}, S::Ended},
      // Without ".exe" every variant is the same name, and the file starts as a program.
      {[](Rig& r) { r.run.DownUrl = u"http://h/get?id=5", r.existing = {kC + u"get"}; }, got,
       {u"CheckFile-get", u"CheckFile-get", u"CheckFile-get", u"BeginDown", u"OK"}, {Open(kD + u"get as a program")},
       S::Ended},
      // No writable folder: the program's folder is tried anyway, with the second variant.
      {[](Rig& r) { r.unwritable = {kC, kD, kApp}; }, Twice({kClean, kBad}),
       {u"TestEmp=Not", u"BeginDown", u"Not", u"AutoReDown", u"TestEmp=Not", u"BeginDown", u"Not"},
       {Open(kApp + u"setup(2).exe"), Open(kApp + u"setup(2).exe")}, S::Failed},
      // A candidate folder that is a junction, mount point or link is passed over like one that cannot be written.
      {[](Rig& r) { r.links = {kC}; }, got, kOk, {Open(kD + kSetup)}, S::Ended},
      {[](Rig& r) { r.links = {kC, kD, kApp}; }, Twice({kBroken, kBad}),
       {u"TestEmp=Not", u"BeginDown", u"Not", u"AutoReDown", u"TestEmp=Not", u"BeginDown", u"Not"}, {}, S::Failed},
      // So is one another user owns, or whose owner cannot be read; one of the administrators' is used.
      {[](Rig& r) { r.owners = {{kC, u"S-1-5-21-7-8-9-1002"}, {kD, u"?"}}; }, got, kOk, {Open(kApp + kSetup)}, S::Ended},
      {[](Rig& r) { r.owners = {{kC, u"S-1-5-32-544"}}; }, got, kOk, {runC}, S::Ended},
      // Every name taken, or none to take: the browser gets the address.
      {[](Rig& r) { r.existing = {kApp + kSetup, kApp + u"setup(1).exe", kApp + u"setup(2).exe", kApp + u"setup(3).exe"};
         r.unwritable = {kC, kD}; }, {}, {Check(u"1"), Check(u"2"), u"SaveExe=Null"},
       {u"open:http://dl.example.com/soft/setup.exe"}, S::Browser},
      {[](Rig& r) { r.run.DownUrl = u"http://h/soft/", r.unwritable = {kD}; }, {},
       {u"CheckFile-", u"CheckFile-", u"CheckFile-", u"CheckFile-", u"SaveExe=Null"}, {u"open:http://h/soft/"}, S::Browser},
      // A mismatching download that went through exactly 4, 14, 5, 6 is run anyway; the installer's window ends it.
      {nullptr, Twice({kClean, kBad}), kTwice, {runC, Open(kApp + kSetup)}, S::Failed},
      {[](Rig& r) { r.windows = {u"NSIS Error"}; }, Twice({kClean, kBad}),
       {u"BeginDown", u"Not", u"NSISError", u"AutoReDown", u"BeginDown", u"Not", u"NSISError"},
       {runC, Open(kApp + kSetup)}, S::Failed},
      {Titled, {{kClean, kBad}}, {u"BeginDown", u"Not", u"CheackFinish=OK"}, {runC}, S::Ended, {}, bare, {},
       {1, 1, 2, 1}},
      // What started was not the checked file (the shell ended it): a failure, on every launch path.
      {[](Rig& r) { r.swapped = {kC + kSetup}; }, Twice(got[0]),
       {u"BeginDown", u"OK", u"Not", u"AutoReDown", u"IsDownEmp=OK", u"BeginDown", u"OK"},
       {runC, runC, Open(kApp + kSetup)}, S::Ended},
      {[](Rig& r) { Titled(r), r.swapped = {kC + kSetup, kApp + kSetup}; }, Twice({kClean, kBad}), kTwice,
       {runC, Open(kApp + kSetup)}, S::Failed},
      // Any other status list, a file that could not be read or a stalled transfer: never run.
      {Titled, Twice({{{9, 1, 4}, {9, 1, 5}, {9, 1, 14}, {9, 9, 6}}, kBad}), kTwice, {}, S::Failed},
      {Titled, {{{{9, 1, 4}, {9, 1, 14}}, kBad}, {{{9, 1, 5}, {9, 9, 6}}, kBad}}, kTwice, {}, S::Failed},  // each its own
      {Titled, Twice({kClean, u"* ERR: CANNOT OPEN FILE"}), kTwice, {}, S::Failed},
      {Titled, Twice({kClean, kBad, 2, true}), kTwice, {}, S::Failed},
      {Titled, Twice({kClean, kBad, 2, false, true}), kTwice, {}, S::Failed},  // a redirect refused
      // Save names from the URL stay in the folder, for the download and the reuse search alike.
      {[](Rig& r) { r.run.DownUrl = u"http://h/..\\..\\evil.exe"; }, got, kOk, {Open(kC + u".._.._evil.exe")}, S::Ended},
      {[](Rig& r) { r.run.DownUrl = u"http://h/..\\..\\evil.exe", r.digests[kC + u".._.._evil(1).exe"] = kGood;
         r.digests[kC + u"..\\..\\evil.exe"] = kGood; }, {}, {reused}, {Open(kC + u".._.._evil(1).exe")}, S::Ended},
      // Wherever the flow lets messages through once the download is over, a close ends everything at once.
      {[](Rig& r) { r.onDigest = [&r] { if (r.ctl.State() == S::Judging) Close(r); }; },
       Twice({kBroken, kBad}), {u"BeginDown", u"fromClose-Down=300-"}, {}, S::Ended},
      {[](Rig& r) { r.onWait = [&r] { if (r.ctl.State() == S::Retrying) Close(r); }; },
       Twice({kBroken, kBad}), {u"BeginDown", u"Not", u"AutoReDown", u"fromClose-Down=300-"}, {}, S::Ended},
      {[](Rig& r) { r.onDigest = [&r] { if (r.ctl.State() == S::ReuseCheck) Close(r); }; },  // the retry's
       Twice({kBroken, kBad}), {u"BeginDown", u"Not", u"AutoReDown", u"fromClose-Down=300-"}, {}, S::Ended},
      {[](Rig& r) { r.onWait = [&r] { if (!r.With(u"open:").empty()) Close(r); }; }, {{kClean, kGood}},
       {u"BeginDown", u"OK", u"fromClose-Down=1000-"}, {runC}, S::Ended},
      {[](Rig& r) { r.onMessage = [&r] { Close(r); }; }, Twice({kBroken, kBad}),
       {u"BeginDown", u"Not", u"AutoReDown", u"BeginDown", u"Not", u"fromClose-Down=300-"}, {}, S::Ended},
      // Pinned signers and an announced SHA-256 hold on every launch path: a digest match, a reused file, the
      // 4,14,5,6 rule. An unknown root is refused by its chain, which Wine's WinVerifyTrust passes.
      {nullptr, got, {u"BeginDown", u"OK Sign=ok"}, {runC}, S::Ended, P, ok},
      {nullptr, got, {u"BeginDown", u"OK Sign=ok"}, {runC}, S::Ended, PQ, ok},  // one of several
      {nullptr, Twice(got[0]), twice(u"Not Sign=unsigned"), {}, S::Failed, P, bare},
      {nullptr, Twice(got[0]), twice(u"Not Sign=bad-digest"), {}, S::Failed, P, changed},
      {nullptr, Twice(got[0]), twice(u"Not Sign=untrusted-root"), {}, S::Failed, P, wineRoot},
      {nullptr, Twice(got[0]), twice(u"Not Sign=untrusted-root"), {}, S::Failed, P, windowsRoot},
      {nullptr, Twice(got[0]), twice(u"Not Sign=not-pinned"), {}, S::Failed, P, other},
      {Titled, clean, {u"BeginDown", u"Not Sign=ok", u"CheackFinish=OK"}, {runC}, S::Ended, P, ok},
      {Titled, clean, twice(u"Not Sign=unsigned"), {}, S::Failed, P, bare},
      // A refused earlier download is not reused: the search goes on, else downloads.
      {reuse, got, {Check(u"1"), u"BeginDown", u"OK Sign=ok"}, {Open(kC + u"setup(1).exe")}, S::Ended, P, ok},
      {[](Rig& r) { reuse(r), r.Put(kD + kSetup, kGood); }, {}, {reused},
       {Open(kD + kSetup)}, S::Ended, P, ok},
      // An announced SHA-256 is compared exactly; a mismatch refuses whatever the MD5 and status trail say.
      {nullptr, got, kOk, {runC}, S::Ended, u"", bare, kSha.c_str()},
      {nullptr, Twice(got[0]), kTwice, {}, S::Failed, u"", bare, u"55555"},
      {Titled, clean, kTwice, {}, S::Failed, u"", bare, u""},
      {[](Rig& r) { r.sha256s[kC + kSetup] = u"0", r.Put(kC + kSetup, kGood); }, got,  // downloaded anew
       {Check(u"1"), u"BeginDown", u"OK"}, {Open(kC + u"setup(1).exe")}, S::Ended, u"", bare, kSha.c_str()},
      {Titled, clean, twice(u"Not Sign=ok"), {}, S::Failed, P, ok, longSha.c_str()},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    Rig r(c.transfers, c.setup);
    r.run.InstallerSigners = c.pins, r.signature = c.facts;
    if (c.sha) r.run.FileSHA256 = c.sha, r.run.FileSHA256Given = true;
    r.Start();
    EXPECT_EQ(Brief(r.reports), c.reports) << "row " << i;
    EXPECT_EQ(r.With(u"open:"), c.opened) << "row " << i;
    if (!c.waits.empty()) { EXPECT_EQ(r.waits, c.waits) << "row " << i; }
    EXPECT_TRUE(r.ctl.State() == c.state && r.closes == (c.state == S::Ended) && r.afterEnd == 0) << "row " << i;
    if (c.state == S::Failed) {  // the window waits for the user, whose browser button opens the address
      EXPECT_EQ(r.Tail(3), (Texts{u"message:C盘已没有可用空间,无法安装软件！|提示", u"status:下载文件验证失败,请重试", u"button"}));
      r.ctl.Image4_Click();
      EXPECT_EQ(r.Tail(3), (Texts{u"report:Image4_Click", u"status:" + kBrowserMode, u"open:" + r.run.DownUrl})) << i;
    }
    if (c.state == S::Ended) {  // nothing runs after the end, whatever is called
      const size_t logged = r.log.size();
      r.Start(), r.ctl.Image2_Click(), r.ctl.Image3_Click(), r.ctl.Image4_Click(), r.ctl.IsDownEmp();
      r.ctl.OnProgress(100, 50, 5), r.ctl.ChooseSaveFile(), r.ctl.BeginDown(), r.ctl.DownFinish();
      r.ctl.StartDownFile(u"http://x/", u"C:\\x.exe"), r.ctl.BrowsDown(), r.ctl.WaitSeconds(5);
      r.ctl.CheckDiskFull();
      EXPECT_TRUE(r.log.size() == logged && r.afterEnd == 0) << "row " << i;
      continue;
    }
    const Texts once = r.reports;  // a late second tick does not start the flow again
    EXPECT_EQ((r.Start(), r.reports), once) << "row " << i;
    r.ctl.Image3_Click();  // the window may now close
    EXPECT_TRUE(r.reports.back().rfind(u"fromClose-Down=", 0) == 0 && r.closes == 1) << "row " << i;
  }
}

TEST(DownloadFlow, RetryGoesToTheProgramsFolderHoldsTheFileAndReports) {
  Rig r;
  r.existing = {u"C:\\App\\setup.exe"}, r.transfers = {{kBroken, kBad}, {kClean, kGood}};
  r.onPump = [&] { EXPECT_EQ(r.ctl.DownEnd, u""); };  // no closing during a transfer
  r.Start();
  EXPECT_EQ(Brief(r.reports), (Texts{u"BeginDown", u"Not", u"AutoReDown", Check(u"1"), u"BeginDown", u"OK"}));
  EXPECT_EQ(r.reports[5], u"DownFinish=OK:2 DownCode=5,6,4,14, SavePath=C:\\App\\ url=dl.example.com/soft/setup.exe");
  EXPECT_EQ(r.urls, Texts(2, u"http://dl.example.com/soft/setup.exe?20240102030405"));  // never from a cache
  const auto at = [&](const char16_t* e) { return std::find(r.log.begin(), r.log.end(), e) - r.log.begin(); };
  EXPECT_LT(at(u"release:C:\\Temp\\setup.exe"), at(u"report:AutoReDown"));  // the failed file is let go first
  EXPECT_EQ(r.Tail(6), (Texts{u"hold:C:\\App\\setup(1).exe", u"report:" + r.reports[5], u"open:C:\\App\\setup(1).exe",
                              u"keep:C:\\App\\setup(1).exe", u"hide", u"closeall"}));  // held until the end
  Rig f;  // finish reports: the locale's decimal separator, 10 GB free, the 32-bit library on a 64-bit system, and
  f.separator = u",", f.disks[u"C:\\"] = {8, 512, 2621440}, f.existing = {u"C:\\Windows\\syswow64\\urlmon.dll"};
  f.transfers = {{kBroken, kBad, 12.5, false, true}}, f.Start();  // a refused redirect's status in the trail
  EXPECT_EQ(f.reports.at(1), u"DownFinish=Not:12,5 DownCode=5,6,1003, DiskSpace=10240 URLMon=1 SavePath=C:\\Temp\\ "
                             u"DownMD5=FEDCBA9876543210FEDCBA9876543210 FileMD5=0123456789ABCDEF0123456789ABCDEF "
                             u"url=dl.example.com/soft/setup.exe");
  Rig w;  // an address as long as a reply may give, all Chinese: the report keeps what fits 4,096 bytes on the wire
  w.run.DownUrl = u"http://dl.example.com/" + std::u16string(2026, u'\x4e01');
  w.transfers = {{kClean, kGood}}, w.Start();
  EXPECT_EQ(w.reports.at(1), u"DownFinish=OK:2 DownCode=4,14,5,6, SavePath=C:\\Temp\\ url=dl.example.com/" +
                                 std::u16string(453, u'\x4e01'));
}

TEST(DownloadFlow, OnlyWebAddressesAreDownloadedOrOpened) {  // anything else fails without a transfer
  const struct { const char16_t *url, *browser; } cases[] = {  // browser: what the button opens
      {u"HTTPS://dl.example.com/a.exe", u"HTTPS://dl.example.com/a.exe"}, {u"http://h/安.exe", u"http://h/%E5%AE%89.exe"},
      {u"http://h/a b\" -x \"c.exe", u"http://h/a%20b%22%20-x%20%22c.exe"},  // no extra arguments for the browser
      {u"\\\\host\\share\\x.exe", nullptr}, {u"file:///C:/x.exe", nullptr}, {u" http://h/a.exe", nullptr},
  };
  for (const auto& c : cases) {
    Rig r;
    r.run.DownUrl = c.url, r.Start();
    EXPECT_TRUE(r.urls.size() == (c.browser ? 2u : 0u) && Brief(r.reports) == kTwice);
    r.ctl.Image4_Click();
    EXPECT_TRUE(r.status == kBrowserMode && r.With(u"open:") == (c.browser ? Texts{Open(c.browser)} : Texts{}));
  }
  Rig d;  // the address judged is the one fetched (the engine benchmark passes its own)
  d.run.DownUrl = u"file:///C:/x.exe", d.ctl.StartDownFile(u"http://h/a.exe", u"C:\\a.exe");
  d.run.DownUrl = u"http://h/a.exe", d.ctl.StartDownFile(u"file:///C:/x.exe", u"C:\\a.exe");
  EXPECT_EQ(d.urls, Texts{u"http://h/a.exe"});
}

}}  // namespace stub::test
