#include "download/controller.h"

#include "base/text.h"
#include "download/services.h"
#include "download/texts.h"
#include "net/exchange.h"
#include "net/wire.h"

namespace stub {

using namespace dl;

DownloadController::DownloadController(RunState& state, Clock& clock, MessageWaiter& waiter,
                                       FileSystem& files, DownloadEngine& engine, DownloadView& view,
                                       Shell& shell)
    : run_(state), clock_(clock), waiter_(waiter), files_(files), engine_(engine), view_(view),
      shell_(shell) {}

void DownloadController::Report(const std::u16string& data) { shell_.SendReport(kReportKey, data); }

std::u16string DownloadController::ReportedUrl() const {
  return WireBoundedText(StripHttp(run_.DownUrl), kMaxReportUrlField);
}

// The real CloseAll never returns. Where it does (tests, or a shell that ends
// the process later), the Ended state makes every step that follows, however
// deeply nested, return without touching anything.
void DownloadController::EndProgram() {
  state_ = DownState::Ended;
  shell_.CloseAll();
}

void DownloadController::Timer1_Timer() {
  // The timer starts the flow once; a late second tick must not start it again.
  if (state_ != DownState::Waiting) return;
  Image2_Click();
}

void DownloadController::Image2_Click() {
  if (Ended()) return;
  IsDownEmp();
  if (Ended()) return;
  ChooseSaveFile();
  BeginDown();
}

void DownloadController::IsDownEmp() {
  if (Ended()) return;
  Enter(DownState::ReuseCheck);
  run_.FileMD5 = ToUpper(run_.FileMD5);
  // An empty expected digest matches no file, so none needs to be read.
  if (run_.FileMD5.empty()) return;

  const std::u16string base = SaveFileName(run_.DownUrl);
  // The three folders are taken as they are; the program's folder is not
  // split at commas, so a folder name with a comma is still searched.
  const std::u16string folders[] = {kTempC, kTempD, GetAppPath()};
  for (const std::u16string& folder : folders) {
    for (int32_t n = 0; n <= 5; ++n) {
      const std::u16string name =
          n == 0 ? base : ReplaceAll(base, kExe, u"(" + DecimalText(n) + u").exe");
      const std::u16string digest = ToUpper(files_.DigestAndHold(folder + name));
      if (Ended()) return;  // the digest lets window messages through
      if (!Matches(digest)) continue;
      const bool admitted = Admits();
      if (Ended()) return;
      if (!admitted) continue;  // a refused file is not reused; the search goes on
      view_.SetFillWidth(view_.FullWidth());
      view_.SetStatus(kPreparing);
      Report(kReuseFound);
      if (!RunInstaller(folder + name)) continue;  // what started was not this file: ended, search on
      WaitSeconds(1);
      if (Ended()) return;
      view_.Hide();
      EndProgram();
      return;
    }
  }
  files_.ReleaseHold();
}

// Tries C:\Temp\, D:\Temp\ and the program's folder (only the last one on the
// retry) and in the first writable one the base name and its three "(n).exe"
// variants. The name comes from the network, so it is made a safe single name
// first. When a folder has all four names taken, SaveName is "" for the next
// folder, whose search therefore starts at the first variant.
void DownloadController::ChooseSaveFile() {
  if (Ended()) return;
  Enter(DownState::Choosing);
  const std::u16string base = SaveFileName(run_.DownUrl);
  const std::u16string alt1 = ReplaceAll(base, kExe, u"(1).exe");
  const std::u16string alt2 = ReplaceAll(base, kExe, u"(2).exe");
  const std::u16string alt3 = ReplaceAll(base, kExe, u"(3).exe");
  run_.SaveName = base;

  bool writable = false;
  for (int32_t pass = 1; pass <= 3; ++pass) {
    if (DownDefeated == 1) pass = 3;  // the retry goes straight to the program's folder
    run_.SaveDir = pass == 1 ? kTempC : pass == 2 ? kTempD : GetAppPath();
    writable = TestExeEmp(kProbeFile, run_.SaveDir) == 0;
    if (!writable) continue;
    if (!files_.Exists(SavePath())) return;
    run_.SaveName = alt1;
    Report(kCheckFile + run_.SaveName);
    if (!files_.Exists(SavePath())) return;
    run_.SaveName = alt2;
    Report(kCheckFile + run_.SaveName);
    if (!files_.Exists(SavePath())) return;
    run_.SaveName = alt3;
    if (!files_.Exists(SavePath())) return;
    run_.SaveName.clear();
  }
  if (!writable) {
    // Nothing better is left: try the program's folder anyway.
    Report(kNoWritableFolder);
    run_.SaveName = alt2;
    run_.SaveDir = GetAppPath();
  }
}

void DownloadController::BeginDown() {
  if (Ended()) return;
  if (run_.SaveName.empty()) {
    DownEnd = kEnd;
    BrowsDown();
    Report(kNoSaveName);
    return;
  }
  DownEnd.clear();
  Enter(DownState::Downloading);
  Report(kBeginDown);
  // The time stamp makes every request unique, so no cache answers it.
  StartDownFile(run_.DownUrl + u"?" + clock_.TimeStamp(), SavePath());
  if (Ended()) return;  // closed from inside the transfer
  DownFinish();
}

void DownloadController::StartDownFile(const std::u16string& url, const std::u16string& path) {
  if (Ended()) return;
  btime = static_cast<float>(clock_.TimeOfDay());
  transferCode_.clear();
  // Only a web address goes to the URL download service, which would also
  // read UNC paths, file: and res: addresses. Anything else fails without a
  // transfer and takes the usual failure path.
  if (!IsWebAddress(url)) {
    transferEnd_ = TransferEnd::Failed;
    return;
  }
  // Whether the transfer succeeded is left to the digest; only an aborted
  // or refused one is remembered, so that its file is never started.
  transferEnd_ = engine_.DownloadFile(url, path, *this);
  // A refused redirect shows in the trail with a status of its own, which
  // also keeps the 4,14,5,6 rule from taking the transfer for a clean one.
  if (transferEnd_ == TransferEnd::Refused) {
    AppendDownCode(DownCode, kRedirectRefused);
    AppendDownCode(transferCode_, kRedirectRefused);
  }
}

// Judges the file by its digest. A match is run and ends the program. A
// mismatch is reported; a transfer that went through exactly the statuses
// 4, 14, 5, 6 is run anyway, and the program ends if the installer's window
// shows up. Otherwise the first failure retries once into the program's
// folder and the second leaves the window with the browser button. Either
// launch also needs the checks beyond the MD5 (Admits); a file they refuse
// fails as a mismatch does.
void DownloadController::DownFinish() {
  if (Ended()) return;
  Enter(DownState::Judging);
  etime = static_cast<float>(clock_.TimeOfDay());
  WaitSeconds(1);
  if (Ended()) return;
  DownEnd = kEnd;
  const int32_t r = CheckFileMD5();
  if (Ended()) return;
  // Only a file that was read and is held can be judged further, or run.
  const bool held = !run_.DownMD5.empty() && run_.DownMD5.find(u"ERR") == std::u16string::npos;
  verdict_ = SignVerdict::Unsigned;  // what a file that could not be read reports
  const bool admitted = held && Admits();
  if (Ended()) return;
  const std::u16string secs = FormatSeconds(etime - btime, shell_.DecimalSeparator());

  const bool verified = r == 1 && admitted;
  if (verified) {
    Report(kFinishOk + secs + u" DownCode=" + DownCode + u" SavePath=" + run_.SaveDir + u" url=" +
           ReportedUrl() + SignField());
    if (RunInstaller(SavePath())) {
      WaitSeconds(2);
      if (Ended()) return;
      view_.Hide();
      EndProgram();
      return;
    }
    // What started was not the checked file: it was ended before it ran, and
    // the download counts as failed.
  }

  Report(kFinishNot + secs + u" DownCode=" + DownCode + u" DiskSpace=" +
         DecimalText(GetDiskFreeMB(run_.SaveDir)) + u" URLMon=" + TestUrlmon() + u" SavePath=" +
         run_.SaveDir + u" DownMD5=" + run_.DownMD5 + u" FileMD5=" + run_.FileMD5 + u" url=" +
         ReportedUrl() + SignField());
  WaitSeconds(1);
  if (Ended()) return;

  // The clean-transfer rule looks at this transfer's own statuses, not the
  // trail the reports carry, and only at a held file the other checks admit.
  if (transferCode_ == u"4,14,5,6," && transferEnd_ != TransferEnd::Aborted && admitted && !verified) {
    if (RunInstaller(SavePath())) {
      WaitSeconds(2);
      if (Ended()) return;
      if (NSISError()) Report(kNsisError);
      if (NSISSoftTitle()) {
        Report(kInstallerSeen);
        WaitSeconds(1);
        if (Ended()) return;
        view_.Hide();
        EndProgram();
        return;
      }
    }
  } else {
    files_.ReleaseHold();  // this file is not going to be run
  }

  if (DownDefeated != 0) {
    Enter(DownState::Failed);
    CheckDiskFull();
    if (Ended()) return;
    view_.SetStatus(kVerifyFailed);
    view_.ShowBrowserButton();
    return;
  }
  Enter(DownState::Retrying);
  DownDefeated = 1;
  Report(kRetry);
  WaitSeconds(1);
  if (Ended()) return;
  Image2_Click();
}

void DownloadController::BrowsDown() {
  if (Ended()) return;
  Enter(DownState::Browser);
  view_.SetStatus(kBrowserMode);
  // Only a web address goes to the shell: "open" on any other text could run
  // a local program that no digest check has seen.
  // The wire form keeps quotes and spaces from becoming arguments of the
  // browser's command line.
  if (IsWebAddress(run_.DownUrl)) {
    const std::string wire = WireUrl(run_.DownUrl);
    shell_.Open(std::u16string(wire.begin(), wire.end()));
  }
}

void DownloadController::Image3_Click() {
  if (Ended()) return;
  if (DownEnd != kEnd) {
    // The transfer cannot be stopped, so closing is refused while it may run.
    view_.ShowMessage(kDontClose, kNoticeTitle);
    return;
  }
  Report(kFromClose + DecimalText(DownCount) + u"-");
  EndProgram();
}

void DownloadController::Image4_Click() {
  if (Ended()) return;
  Report(kBrowserClick);
  BrowsDown();
}

}  // namespace stub
