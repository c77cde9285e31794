// The controller's view of the platform, implemented over Win32: clock,
// message waits, file system and shell.
#pragma once

#include <windows.h>

#include "base/handle_win.h"
#include "base/shell_win.h"
#include "download/ports.h"

namespace stub {

class WinClock final : public Clock {
 public:
  double TimeOfDay() override;
  std::u16string TimeStamp() override;
};

class WinWaiter final : public MessageWaiter {
 public:
  void WaitMessages(double maxSeconds) override;
  void PumpMessages() override;
};

class WinFileSystem final : public FileSystem {
 public:
  bool Exists(const std::u16string& path) override;
  int32_t CreateFolder(const std::u16string& path) override;
  bool IsReparsePoint(const std::u16string& path) override;
  std::u16string Owner(const std::u16string& path) override;
  std::u16string User() override;
  int32_t WriteFirstByte(const std::u16string& path) override;
  bool DiskFree(const std::u16string& root, uint32_t& sectorsPerCluster, uint32_t& bytesPerSector,
                uint32_t& freeClusters, uint32_t& totalClusters) override;
  std::u16string DigestAndHold(const std::u16string& path) override;
  void ReleaseHold() override { held_.reset(); }
  void KeepHeld() override;
  std::u16string HeldSHA256() override;
  SignatureFacts HeldSignature() override;
  HANDLE Held() const { return held_.get(); }  // null when nothing is held

 private:
  UniqueFile held_;
  std::u16string heldPath_;
  // Files that were started and folders written to, held until the process
  // ends. A run starts at most three files (a reused one, a download, its
  // retry) and writes to at most its three candidate folders; past that the
  // oldest slot is reused.
  UniqueFile started_[4], folders_[4];
  unsigned startedCount_ = 0, folderCount_ = 0;
  std::u16string lastFolder_;
};

class WinShell final : public Shell {
 public:
  // `files` holds the checked file that Launch may start; `end` is how CloseAll ends the program.
  WinShell(HWND owner, const WinFileSystem* files, EndProgram end) : owner_(owner), files_(files), end_(end) {}
  void Open(const std::u16string& target) override;
  // A program starts suspended and runs only when its image is the held file
  // (same volume and file index); otherwise it is ended and false returned.
  // Files started through their handler (.msi) stay held, nothing more.
  bool Launch(const std::u16string& path, LaunchAs how) override;
  bool WindowExists(const std::u16string& title) override;
  std::u16string AppPath() override;
  void SendReport(const std::u16string& key, const std::u16string& data) override;
  std::u16string DecimalSeparator() override;
  void CloseAll() override;

 private:
  HWND owner_;
  const WinFileSystem* files_;
  EndProgram end_;
};

// The access list of what the stub makes and checks: full access for the
// owner, the system and the administrators, protected from inheritance. Made
// once; null where the system cannot express it (before Vista).
PSECURITY_DESCRIPTOR Private();

// The program's folder with a trailing "\", in short form where the system
// can shorten it.
std::u16string GetAppPath();
std::u16string GetShortPath(const std::u16string& path);

}  // namespace stub
