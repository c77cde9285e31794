// The controller's checks and services: digest comparison, launch, window
// search, the message-aware wait, the folder probe and the disk checks.
#include "base/text.h"
#include "download/controller.h"
#include "download/services.h"
#include "download/texts.h"

namespace stub {

using namespace dl;

namespace {

// A wait never runs into the last seconds before midnight, where the time of
// day is about to fall back to 0.
constexpr double kLastSecondOfDay = 86395;
// Past exactly kLastSecondOfDay the wait must still advance the clock a little.
constexpr double kShortestWait = 0.001;

}  // namespace

// Upper-case digest against the upper-case expected one. Containment, not
// equality: an announced digest that is part of the computed one matches.
bool DownloadController::Matches(const std::u16string& digest) const {
  return !digest.empty() && digest.find(u"ERR") == std::u16string::npos && !run_.FileMD5.empty() &&
         digest.find(run_.FileMD5) != std::u16string::npos;
}

int32_t DownloadController::CheckFileMD5() {
  // The file stays held from here until it is run or given up.
  run_.DownMD5 = ToUpper(files_.DigestAndHold(SavePath()));
  run_.FileMD5 = ToUpper(run_.FileMD5);
  if (run_.DownMD5.empty() || run_.DownMD5.find(u"ERR") != std::u16string::npos ||
      run_.FileMD5.empty())
    return 0;
  return Matches(run_.DownMD5) ? 1 : 2;
}

// An announced SHA-256 must name the held file exactly; in a build that
// pins signers, its signature must verify, chain to a root the machine
// trusts and name a pinned certificate. The signature is judged even when
// the SHA-256 already refused the file, so the reports say what it was.
bool DownloadController::Admits() {
  const bool exact = !run_.FileSHA256Given || Sha256Matches(run_.FileSHA256, files_.HeldSHA256());
  if (run_.InstallerSigners.empty() || Ended()) return exact;
  verdict_ = JudgeSignature(files_.HeldSignature(), run_.InstallerSigners);
  return exact && verdict_ == SignVerdict::Ok;
}

std::u16string DownloadController::SignField() const {
  if (run_.InstallerSigners.empty()) return {};
  return u" Sign=" + std::u16string(SignText(verdict_));
}

bool DownloadController::RunInstaller(const std::u16string& path) {
  if (Ended()) return false;
  if (!shell_.Launch(path, LaunchKind(path))) return false;
  files_.KeepHeld();  // the installer may read its file again at any time
  return true;
}

bool DownloadController::NSISError() { return shell_.WindowExists(kNsisErrorTitle); }

bool DownloadController::NSISSoftTitle() {
  return shell_.WindowExists(NsisSoftTitle(run_.NISITitle, run_.NISIVer));
}

// Waits n seconds while the window's messages are dispatched, so clicks and
// close requests run meanwhile. It blocks in the message wait instead of
// polling, but for no longer than the rest of the wait or the time left
// before 86395 s. The time of day falling back at midnight (exactly 0 is
// the clock's reset value) ends the wait too.
void DownloadController::WaitSeconds(int32_t n) {
  if (Ended()) return;
  const double end = clock_.TimeOfDay() + n;
  while (!Ended()) {
    const double now = clock_.TimeOfDay();
    if (!(now < end) || now > kLastSecondOfDay || now == 0) return;
    double wait = end - now;
    if (kLastSecondOfDay - now < wait) wait = kLastSecondOfDay - now;
    if (wait < kShortestWait) wait = kShortestWait;
    waiter_.WaitMessages(wait);
  }
}

int32_t DownloadController::TestExeEmp(const std::u16string& file, const std::u16string& folder) {
  if (!files_.Exists(folder)) {
    const int32_t err = files_.CreateFolder(folder);
    if (err != 0) return err;
  }
  // Another user may have made the folder a junction or link to a place of
  // theirs before this program made it: such a folder cannot be used.
  if (files_.IsReparsePoint(folder)) return kErrReparsePoint;
  // Nor can a folder another user owns (say C:\Temp made by them first):
  // they may change its access list and replace what is saved there.
  if (!TrustedOwner(files_.Owner(folder), files_.User())) return kErrOwner;
  // The probe file stays: it is one byte and the next run writes it again.
  return files_.WriteFirstByte(folder + file);
}

std::u16string DownloadController::GetAppPath() {
  std::u16string path = shell_.AppPath();
  if (path.empty() || path.back() != u'\\') path += u'\\';
  return path;
}

int32_t DownloadController::GetDiskFreeMB(const std::u16string& path) {
  const std::u16string root = path.size() > 3 ? path.substr(0, 3) : path;
  uint32_t sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
  if (!files_.DiskFree(root, sectorsPerCluster, bytesPerSector, freeClusters, totalClusters))
    return 0;
  return DiskFreeMB(sectorsPerCluster, bytesPerSector, freeClusters);
}

void DownloadController::CheckDiskFull() {
  if (Ended() || GetDiskFreeMB(run_.SaveDir) != 0) return;
  const std::u16string dir = ToUpper(run_.SaveDir);
  if (dir.find(u"C:\\") != std::u16string::npos) view_.ShowMessage(kDiskFullC, kNoticeTitle);
  if (Ended()) return;  // the message box dispatches messages while it is open
  if (dir.find(u"D:\\") != std::u16string::npos) view_.ShowMessage(kDiskFullD, kNoticeTitle);
}

std::u16string DownloadController::TestUrlmon() {
  // Both paths are looked at, as written, whatever the real Windows folder is.
  const bool system32 = files_.Exists(kUrlmon32);
  const bool wow64 = files_.Exists(kUrlmonWow);
  return std::u16string(system32 || wow64 ? u"1" : u"");
}

}  // namespace stub
