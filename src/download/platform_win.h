// The controller's view of the platform, implemented over Win32: clock,
// message waits, file system and shell.
#pragma once

#include <windows.h>

#include "base/handle_win.h"
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
  int32_t WriteFirstByte(const std::u16string& path) override;
  bool DiskFree(const std::u16string& root, uint32_t& sectorsPerCluster, uint32_t& bytesPerSector,
                uint32_t& freeClusters, uint32_t& totalClusters) override;
  std::u16string DigestAndHold(const std::u16string& path) override;
  void ReleaseHold() override { held_.reset(); }
  std::u16string HeldSHA256() override;
  SignatureFacts HeldSignature() override;

 private:
  UniqueFile held_;
  std::u16string heldPath_;
};

class WinShell final : public Shell {
 public:
  explicit WinShell(HWND owner) : owner_(owner) {}
  void Open(const std::u16string& target) override;
  void Launch(const std::u16string& path, LaunchAs how) override;
  bool WindowExists(const std::u16string& title) override;
  std::u16string AppPath() override;
  void SendReport(const std::u16string& key, const std::u16string& data) override;
  std::u16string DecimalSeparator() override;
  void CloseAll() override;

 private:
  HWND owner_;
};

// The program's folder with a trailing "\", in short form where the system
// can shorten it.
std::u16string GetAppPath();
std::u16string GetShortPath(const std::u16string& path);

}  // namespace stub
