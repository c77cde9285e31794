// The download window's flow, from the start timer to the end of the program:
// reuse of an installer saved earlier, choice of a folder and a free name,
// the download with its progress display, the digest check (and, where the
// reply or the build ask for them, the SHA-256 and signature checks), the launch, one
// automatic retry and the browser fallback. Every step is reported under the
// key "Setup". Runs on the window's thread; the platform comes in through the
// interfaces of ports.h.
#pragma once

#include <cstdint>
#include <string>

#include "base/run_state.h"
#include "download/ports.h"

namespace stub {

// Where the flow stands; DownEnd is "" in Waiting, ReuseCheck (first run),
// Choosing and Downloading, and "END" from Judging on.
enum class DownState {
  Waiting,      // the start timer has not fired yet
  ReuseCheck,   // looking for a matching installer saved earlier
  Choosing,     // picking the target folder and name
  Browser,      // no name was free, or the user asked for the browser
  Downloading,  // the transfer runs
  Judging,      // the transfer returned; digest check and launch
  Retrying,     // first failure: the whole flow runs once more
  Failed,       // second failure: waits for the user
  Ended,        // CloseAll has been called
};

class DownloadController : public ProgressSink {
 public:
  DownloadController(RunState& state, Clock& clock, MessageWaiter& waiter, FileSystem& files,
                     DownloadEngine& engine, DownloadView& view, Shell& shell);
  DownloadController(const DownloadController&) = delete;
  DownloadController& operator=(const DownloadController&) = delete;

  // The window's fields, under the window's names.
  std::u16string DownEnd;    // "END" once the download phase is over
  int32_t DownDefeated = 0;  // 1 once the automatic retry has started
  double btime = 0;          // time of day when the current download started
  double etime = 0;          // time of day when it returned
  int32_t DownCount = 0;     // bytes of the last progress report
  std::u16string DownCode;   // status codes seen, each once, each followed by ","
  double Timerold = 0;       // time of day of the last speed update
  int32_t Downbyte = 0;      // DownCount at the last speed update

  DownState State() const { return state_; }
  bool Ended() const { return state_ == DownState::Ended; }

  // Window events. The shell switches the start timer off before Timer1_Timer.
  void Timer1_Timer();
  void Image2_Click();  // the whole flow: reuse check, target choice, download
  void Image3_Click();  // close zone
  void Image4_Click();  // browser button
  void OnProgress(int32_t lMax, int32_t lProgress, int32_t lStatusCode) override;

  // Steps of the flow.
  void IsDownEmp();
  void ChooseSaveFile();  // sets SaveDir and SaveName ("" when every name is taken)
  void BeginDown();
  void StartDownFile(const std::u16string& url, const std::u16string& path);
  void DownFinish();
  void BrowsDown();

  // Checks and services.
  int32_t CheckFileMD5();  // 1 match, 2 mismatch, 0 no usable digest; sets DownMD5, upper-cases FileMD5
  bool RunInstaller(const std::u16string& path);  // false: what started was not the checked file
  bool NSISError();
  bool NSISSoftTitle();
  void WaitSeconds(int32_t n);  // keeps the window alive; never runs past 86395 s after midnight
  int32_t TestExeEmp(const std::u16string& file, const std::u16string& folder);  // 0 or an error number
  static constexpr int32_t kErrReparsePoint = 4390;  // the folder is a junction, mount point or link
  static constexpr int32_t kErrOwner = 1307;         // another user owns the folder
  std::u16string GetAppPath();
  int32_t GetDiskFreeMB(const std::u16string& path);  // 0 on failure
  void CheckDiskFull();
  std::u16string TestUrlmon();  // "1" when the URL download library is present, else ""

 private:
  void Report(const std::u16string& data);
  // The download address as reports show it: without "http://", and bounded
  // so that what follows it in a report always fits.
  std::u16string ReportedUrl() const;
  void Enter(DownState next) {
    if (state_ != DownState::Ended) state_ = next;  // nothing leaves Ended
  }
  void EndProgram();  // CloseAll; afterwards every entry point returns at once
  std::u16string SavePath() const { return run_.SaveDir + run_.SaveName; }
  bool Matches(const std::u16string& digest) const;
  bool Admits();                   // the held file passes the checks beyond its MD5
  std::u16string SignField() const;  // " Sign=..." in a build that pins signers, else ""

  RunState& run_;
  Clock& clock_;
  MessageWaiter& waiter_;
  FileSystem& files_;
  DownloadEngine& engine_;
  DownloadView& view_;
  Shell& shell_;
  DownState state_ = DownState::Waiting;
  std::u16string transferCode_;  // DownCode of the current transfer alone
  TransferEnd transferEnd_ = TransferEnd::Failed;
  SignVerdict verdict_ = SignVerdict::Unsigned;  // of the file judged last
};

}  // namespace stub
