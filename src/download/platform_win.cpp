#include "download/platform_win.h"

#include <aclapi.h>
#include <sddl.h>
#include <shellapi.h>

#include "base/clock_win.h"
#include "base/shell_win.h"
#include "base/system_dll_win.h"
#include "codec/md5_file.h"
#include "codec/sha256_win.h"
#include "download/signature_win.h"
#include "net/net_win.h"

namespace stub {
namespace {

// Full access for the owner (the user who made it), the system and the
// administrators, nothing inherited, and the same for what is made inside:
// no other user can change, replace or add to what the stub downloads.
constexpr wchar_t kPrivate[] = L"D:P(A;OICI;FA;;;OW)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

}  // namespace

PSECURITY_DESCRIPTOR Private() {
  static PSECURITY_DESCRIPTOR sd = nullptr;
  static bool made = false;
  if (!made) made = ConvertStringSecurityDescriptorToSecurityDescriptorW(kPrivate, SDDL_REVISION_1, &sd, nullptr);
  return sd;
}

namespace {

// Digest access that keeps the file open after a successful digest: the
// handle passes to the file system, which holds it until the launch.
class HoldingDigestFile final : public DigestFile {
 public:
  bool Exists(const std::u16string& path) override {
    return GetFileAttributesW(W(path)) != INVALID_FILE_ATTRIBUTES;
  }
  bool Open(const std::u16string& path) override {
    // Made private before it is read, where the user may change its access
    // list (a file of theirs): nobody else can then replace its contents.
    file_ = UniqueFile(CreateFileW(W(path), GENERIC_READ | WRITE_DAC, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (file_) {
      BOOL present = FALSE, defaulted = FALSE;
      PACL dacl = nullptr;
      if (Private() && GetSecurityDescriptorDacl(Private(), &present, &dacl, &defaulted))
        SetSecurityInfo(file_.get(), SE_FILE_OBJECT,
                        DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                        dacl, nullptr);
      return true;
    }
    file_ = UniqueFile(CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    return static_cast<bool>(file_);
  }
  bool Size(int64_t& size) override {
    LARGE_INTEGER li;
    if (!GetFileSizeEx(file_.get(), &li)) return false;
    size = li.QuadPart;
    return true;
  }
  bool Read(uint8_t* buf, size_t cap, size_t& got) override {
    DWORD n = 0;
    const BOOL ok = ReadFile(file_.get(), buf, static_cast<DWORD>(cap), &n, nullptr);
    got = n;
    return ok != FALSE;
  }
  void Close() override {}  // the caller decides: hold or drop
  UniqueFile Take() { return std::move(file_); }

 private:
  UniqueFile file_;
};

// Whether the process's image is the file `held` refers to. Without the
// query (Windows XP) the hold alone keeps the checked file in place.
bool ImageIs(HANDLE process, HANDLE held) {
  BOOL(WINAPI * query)(HANDLE, DWORD, LPWSTR, PDWORD);
  if (!FindProc(GetModuleHandleW(L"kernel32"), "QueryFullProcessImageNameW", query)) return true;
  wchar_t image[1024];
  DWORD n = 1024;
  if (!query(process, 0, image, &n)) return false;
  // Attributes only: no sharing conflict with the hold.
  const UniqueFile file(CreateFileW(image, FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
  BY_HANDLE_FILE_INFORMATION a, b;
  return file && GetFileInformationByHandle(file.get(), &a) && GetFileInformationByHandle(held, &b) &&
         a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

// A security identifier as text ("S-1-5-..."), "?" when it cannot be written.
std::u16string SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return u"?";
  std::u16string out(reinterpret_cast<const char16_t*>(text));
  LocalFree(text);
  return out;
}

int32_t ErrorNumber() {
  const DWORD e = GetLastError();
  return e ? static_cast<int32_t>(e) : -1;  // a failure is never reported as 0
}

}  // namespace

double WinClock::TimeOfDay() { return stub::TimeOfDay(LocalNow()); }

std::u16string WinClock::TimeStamp() { return stub::TimeStamp(LocalNow()); }

void WinWaiter::WaitMessages(double maxSeconds) {
  const DWORD ms = maxSeconds <= 0 ? 0 : maxSeconds > 3600 ? 3600000 : static_cast<DWORD>(maxSeconds * 1000) + 1;
  MsgWaitForMultipleObjectsEx(0, nullptr, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  PumpWindowMessages();
}

void WinWaiter::PumpMessages() { PumpWindowMessages(); }

bool WinFileSystem::Exists(const std::u16string& path) {
  return GetFileAttributesW(W(path)) != INVALID_FILE_ATTRIBUTES;
}

int32_t WinFileSystem::CreateFolder(const std::u16string& path) {
  SECURITY_ATTRIBUTES sa = {sizeof sa, Private(), FALSE};
  return CreateDirectoryW(W(path), &sa) ? 0 : ErrorNumber();
}

bool WinFileSystem::IsReparsePoint(const std::u16string& path) {
  // The folder's own attributes: a trailing "\" could lead through the link.
  std::u16string name = path;
  while (name.size() > 3 && name.back() == u'\\') name.pop_back();
  const DWORD attributes = GetFileAttributesW(W(name));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::u16string WinFileSystem::Owner(const std::u16string& path) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetNamedSecurityInfoW(const_cast<wchar_t*>(W(path)), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                            nullptr, nullptr, nullptr, &sd) != ERROR_SUCCESS)
    return u"?";
  std::u16string text = owner ? SidText(owner) : std::u16string();  // no owner: FAT keeps none
  LocalFree(sd);
  return text;
}

std::u16string WinFileSystem::User() {
  std::u16string text = u"?";  // unknown: only the system's and administrators' folders are trusted
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    union { TOKEN_USER user; BYTE bytes[128]; } info;
    DWORD n = 0;
    if (GetTokenInformation(token, TokenUser, &info, sizeof info, &n)) text = SidText(info.user.User.Sid);
    CloseHandle(token);
  }
  return text;
}

int32_t WinFileSystem::WriteFirstByte(const std::u16string& path) {
  UniqueFile f(CreateFileW(W(path), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) return ErrorNumber();
  const BYTE one = 1;
  DWORD written = 0;
  if (!WriteFile(f.get(), &one, 1, &written, nullptr) || written != 1) return ErrorNumber();
  // The folder written to is held open without delete sharing: nobody can
  // remove, rename or replace it (by a junction, say) while the stub runs.
  const std::u16string folder = path.substr(0, path.rfind(u'\\') + 1);
  if (folder != lastFolder_) {
    lastFolder_ = folder;
    folders_[folderCount_++ % 4] = UniqueFile(CreateFileW(W(folder), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  }
  return 0;
}

bool WinFileSystem::DiskFree(const std::u16string& root, uint32_t& sectorsPerCluster,
                             uint32_t& bytesPerSector, uint32_t& freeClusters,
                             uint32_t& totalClusters) {
  DWORD spc = 0, bps = 0, fc = 0, tc = 0;
  if (!GetDiskFreeSpaceW(W(root), &spc, &bps, &fc, &tc)) return false;
  sectorsPerCluster = spc, bytesPerSector = bps, freeClusters = fc, totalClusters = tc;
  return true;
}

std::u16string WinFileSystem::DigestAndHold(const std::u16string& path) {
  held_.reset();
  HoldingDigestFile file;
  std::u16string digest = MD5File(path, file);
  UniqueFile handle = file.Take();
  if (digest.size() == 32) held_ = std::move(handle), heldPath_ = path;
  return digest;
}

void WinFileSystem::KeepHeld() {
  if (held_) started_[startedCount_++ % 4] = std::move(held_);
}

std::u16string WinFileSystem::HeldSHA256() { return held_ ? Sha256File(held_.get()) : std::u16string(); }

SignatureFacts WinFileSystem::HeldSignature() {
  return held_ ? FileSignature(heldPath_, held_.get()) : SignatureFacts();
}

void WinShell::Open(const std::u16string& target) {
  // The shell's answer is not examined: a file it cannot start shows up as
  // an installer that never appears.
  ShellExecuteW(owner_, L"open", W(target), nullptr, nullptr, SW_SHOWNORMAL);
}

bool WinShell::Launch(const std::u16string& path, LaunchAs how) {
  if (how == LaunchAs::Handler) return Open(path), true;
  // A name without a known extension would get its own handler (or the
  // "choose an app" dialog): start it as a program. With the module named
  // separately no extension is assumed or appended.
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION pi = {};
  std::u16string command = u"\"" + path + u"\"";
  // Its own error mode, not the stub's; suspended until its image is known
  // to be the checked file.
  const HANDLE held = files_ ? files_->Held() : nullptr;
  if (CreateProcessW(W(path), reinterpret_cast<wchar_t*>(&command[0]), nullptr, nullptr, FALSE,
                     CREATE_DEFAULT_ERROR_MODE | CREATE_SUSPENDED, nullptr, nullptr, &si, &pi)) {
    const bool checked = !held || ImageIs(pi.hProcess, held);
    if (checked) ResumeThread(pi.hThread);
    else TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return checked;
  }
  constexpr DWORD kElevationRequired = 740;  // ERROR_ELEVATION_REQUIRED, missing from our headers
  if (GetLastError() != kElevationRequired) return true;  // shows up as no installer window
  // An installer that asks for elevation goes through the shell, still as a
  // program: the class of executables, not the name's own.
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_CLASSNAME;
  info.hwnd = owner_;
  info.lpVerb = L"open";
  info.lpFile = W(path);
  info.lpClass = L"exefile";
  info.nShow = SW_SHOWNORMAL;
  ShellExecuteExW(&info);
  return true;
}

bool WinShell::WindowExists(const std::u16string& title) {
  return FindWindowW(nullptr, W(title)) != nullptr;
}

std::u16string WinShell::AppPath() { return GetAppPath(); }

void WinShell::SendReport(const std::u16string& key, const std::u16string& data) {
  stub::SendReport(key, data);
}

std::u16string WinShell::DecimalSeparator() {
  wchar_t sep[8] = {};
  if (!GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, sep, 8) || !sep[0]) return u".";
  return std::u16string(reinterpret_cast<const char16_t*>(sep));
}

void WinShell::CloseAll() { end_(); }

std::u16string GetShortPath(const std::u16string& path) {
  wchar_t buf[500] = {};
  const DWORD n = GetShortPathNameW(W(path), buf, 500);
  if (n == 0 || n >= 500) return path;
  return std::u16string(reinterpret_cast<const char16_t*>(buf), n);
}

std::u16string GetAppPath() {
  std::u16string folder = ModulePath();
  const size_t slash = folder.find_last_of(u"\\/");
  folder.resize(slash == std::u16string::npos ? 0 : slash);
  if (folder.empty() || folder.back() != u'\\') folder += u'\\';
  return GetShortPath(folder);
}

}  // namespace stub
