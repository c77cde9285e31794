// What the download controller needs from the platform, as small interfaces.
// The Windows shell implements them over the real window, clock, file system,
// URL download and shell; the unit tests implement them with fakes.
#pragma once

#include <cstdint>
#include <string>

#include "download/services.h"
#include "download/signature.h"

namespace stub {

class Clock {  // time of day and the local time stamp
 public:
  virtual ~Clock() = default;
  virtual double TimeOfDay() = 0;          // seconds since local midnight, with fractions
  virtual std::u16string TimeStamp() = 0;  // "YYYYMMDDHHMMSS" now
};

class MessageWaiter {  // the window thread's message processing
 public:
  virtual ~MessageWaiter() = default;
  // Dispatches messages as they come; returns after at most maxSeconds (maybe earlier).
  virtual void WaitMessages(double maxSeconds) = 0;
  virtual void PumpMessages() = 0;  // processes what is pending once, returns
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  virtual bool Exists(const std::u16string& path) = 0;           // file or folder of that name
  // One level, private to the user (and the system and administrators); 0 or an error number.
  virtual int32_t CreateFolder(const std::u16string& path) = 0;
  // A junction, mount point or link: it may lead wherever another user chose.
  virtual bool IsReparsePoint(const std::u16string& path) = 0;
  // The owner of a file or folder as text ("S-1-5-..."), "" when the file system keeps
  // none, "?" when it cannot be read; and the user this program runs as, in the same form.
  virtual std::u16string Owner(const std::u16string& path) = 0;
  virtual std::u16string User() = 0;
  // Opens or creates (never truncates) for binary write, writes one byte of value 1 at the
  // first position, closes; 0 or a non-zero error number. From then on the folder is held
  // open, so that nobody can delete, rename or replace it until the program ends.
  virtual int32_t WriteFirstByte(const std::u16string& path) = 0;
  virtual bool DiskFree(const std::u16string& root, uint32_t& sectorsPerCluster,
                        uint32_t& bytesPerSector, uint32_t& freeClusters,
                        uint32_t& totalClusters) = 0;
  // The file digest text (32 lower-case hex, "" for a missing path, or "* ERR: ..." text). When a
  // digest results, the file stays open with read-only sharing until ReleaseHold() or the next
  // DigestAndHold(), so nobody can change it between the check and the launch; before it is
  // read, the file is made private to the user where the user may do so.
  virtual std::u16string DigestAndHold(const std::u16string& path) = 0;
  virtual void ReleaseHold() = 0;
  // The held file has been started: it stays held, unchangeable, until the program ends (an
  // installer reads its own file again later, msiexec opens a package long after its start).
  virtual void KeepHeld() = 0;
  // Of the held file: its SHA-256 (64 lower-case hex digits, "" when none is held or it cannot be
  // hashed), and what the platform says about its signature. Both let window messages through.
  virtual std::u16string HeldSHA256() = 0;
  virtual SignatureFacts HeldSignature() = 0;
};

class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  virtual void OnProgress(int32_t lMax, int32_t lProgress, int32_t lStatusCode) = 0;
};

// How a transfer ended: the platform call succeeded, failed, was aborted (or
// abandoned) because it stalled, or was ended because it was redirected
// somewhere it may not go (to a weaker scheme or away from the web).
enum class TransferEnd { Completed, Failed, Aborted, Refused };

class DownloadEngine {
 public:
  virtual ~DownloadEngine() = default;
  // Blocks until the transfer has ended; calls sink.OnProgress on the caller's thread for each
  // notification whose total is above 0 (the engine filters).
  virtual TransferEnd DownloadFile(const std::u16string& url, const std::u16string& path,
                                   ProgressSink& sink) = 0;
};

class DownloadView {  // the download window's controls
 public:
  virtual ~DownloadView() = default;
  virtual float FullWidth() = 0;                           // width of pic1 in twips: the bar's full scale
  virtual void SetFillWidth(float twips) = 0;              // width of pic2
  virtual void SetStatus(const std::u16string& text) = 0;  // caption of labdown1
  virtual void ShowBrowserButton() = 0;                    // Image4 visible
  virtual void Hide() = 0;                                 // hide the window
  // Modal, information icon, OK button.
  virtual void ShowMessage(const std::u16string& text, const std::u16string& title) = 0;
};

class Shell {
 public:
  virtual ~Shell() = default;
  virtual void Open(const std::u16string& target) = 0;  // verb "open", shown normally, window as owner
  // Starts a saved file, shown normally, window as owner: through its handler or as a program.
  // False when the program that started was not the held file (it is ended before it runs).
  virtual bool Launch(const std::u16string& path, LaunchAs how) = 0;
  virtual bool WindowExists(const std::u16string& title) = 0;  // a top-level window with exactly this title
  virtual std::u16string AppPath() = 0;                  // the program's folder, short form, ending in "\"
  virtual void SendReport(const std::u16string& key, const std::u16string& data) = 0;
  virtual std::u16string DecimalSeparator() = 0;  // the user's locale's, e.g. u"."
  // Ends the program. The real one never returns; fakes return, and the controller then runs
  // nothing more.
  virtual void CloseAll() = 0;
};

}  // namespace stub
