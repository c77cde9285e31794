// The program's platform services against real Windows sharing rules, windows and code pages.
#include <windows.h>

#include <gtest/gtest.h>

#include "app/app_win.h"
#include "base/system_dll_win.h"
#include "base/text.h"
#include "codec/md5_file.h"
#include "download/platform_win.h"
#include "download/signature.h"
#include "net/net_win.h"
#include "net/page_text.h"
#include "temp_dir.h"

namespace stub {
namespace {

HANDLE Open(const std::u16string& path, DWORD access, DWORD share, DWORD how = OPEN_EXISTING) {
  return CreateFileW(W(path), access, share, nullptr, how, 0, nullptr);
}
constexpr char16_t kAbc[] = u"900150983cd24fb0d6963f7d28e17f72";

TEST(WinFileSystem, TheCheckedFileIsReadableButCannotChangeUntilReleased) {
  const TempDir dir;
  const std::u16string folder = Utf8ToUtf16Lossy(dir.path().u8string()), path = folder + u"\\安装.exe";
  HANDLE writer = Open(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, CREATE_ALWAYS);
  DWORD n;
  WriteFile(writer, "abc", 3, &n, nullptr);
  EXPECT_EQ(MD5File(path), kErrOpen);  // still being written elsewhere
  CloseHandle(writer);
  HANDLE reader = Open(path, GENERIC_READ, FILE_SHARE_READ);
  EXPECT_EQ(MD5File(path), kAbc);  // readers may share
  CloseHandle(reader);
  WinFileSystem fs;
  EXPECT_EQ(fs.DigestAndHold(path), kAbc);
  EXPECT_FALSE(DeleteFileW(W(path)));  // held between the check and the launch
  EXPECT_EQ(Open(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE), INVALID_HANDLE_VALUE);
  reader = Open(path, GENERIC_READ, FILE_SHARE_READ);  // and can still be started
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  CloseHandle(reader);
  EXPECT_EQ(fs.DigestAndHold(folder), kErrOpen);  // a failed check lets go of the last
  EXPECT_TRUE(DeleteFileW(W(path)));
  const std::u16string started = folder + u"\\started.exe";  // once started, held whatever is checked next
  CloseHandle(Open(started, GENERIC_WRITE, 0, CREATE_ALWAYS));
  {
    WinFileSystem kept;
    kept.DigestAndHold(started);
    kept.KeepHeld();
    kept.DigestAndHold(folder);
    EXPECT_FALSE(DeleteFileW(W(started)));
  }
  EXPECT_TRUE(DeleteFileW(W(started)));  // until the file system ends
}

// The held file's SHA-256 (a known answer, read from its start across many reads) and the verdict on its signature: the sample
// installer as built, signed by the build's test publisher (pinned), changed after signing, signed by another
// certificate of its root, and by a certificate of the same name under a root this prefix does not trust.
TEST(WinSignature, HeldFilesSha256AndSignatureVerdicts) {
  const TempDir dir;
  const std::u16string folder = Utf8ToUtf16Lossy(dir.path().u8string()) + u"\\", bin = GetAppPath();
  wchar_t pins[80] = L"";
  ASSERT_EQ(GetEnvironmentVariableW(L"STUB_TEST_PUBLISHER_SHA256", pins, 80), 64u);
  const struct { std::u16string path; std::string content; const char16_t* sha; SignVerdict verdict; } rows[] = {
      {folder + u"a.exe", std::string(1000000, 'a'), u"cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0",
       SignVerdict::Unsigned},
      {bin + u"sample-installer.exe", "", nullptr, SignVerdict::Unsigned},
      {bin + u"sample-installer-signed.exe", "", nullptr, SignVerdict::Ok},
      {bin + u"sample-installer-tampered.exe", "", nullptr, SignVerdict::BadDigest},
      {bin + u"sample-installer-other.exe", "", nullptr, SignVerdict::NotPinned},
      {bin + u"sample-installer-impostor.exe", "", nullptr, SignVerdict::UntrustedRoot},
  };
  WinFileSystem fs;
  for (const auto& row : rows) {
    if (!row.content.empty()) {
      HANDLE f = Open(row.path, GENERIC_WRITE, 0, CREATE_ALWAYS);
      DWORD n;
      WriteFile(f, row.content.data(), static_cast<DWORD>(row.content.size()), &n, nullptr);
      CloseHandle(f);
    }
    const std::string name = Utf16ToUtf8Lossy(row.path);
    ASSERT_EQ(fs.DigestAndHold(row.path).size(), 32u) << name;
    if (row.sha) EXPECT_EQ(fs.HeldSHA256(), row.sha) << name;
    const SignatureFacts facts = fs.HeldSignature();
    EXPECT_EQ(JudgeSignature(facts, reinterpret_cast<const char16_t*>(pins)), row.verdict)
        << name << ": trust " << std::hex << facts.trust << ", chain " << facts.chainErrors;
  }
  fs.ReleaseHold();
  EXPECT_TRUE(fs.HeldSHA256().empty() && fs.HeldSignature().trust == kTrustNoSignature);  // nothing held
}

// A page without a charset that is not UTF-8 is read in the system's ANSI code page.
TEST(PageCharset, NoCharsetMeansTheSystemsAnsiCodePage) {
  const struct { UINT acp; const char* bytes; std::u16string text; } rows[] = {
      {1252, "\x80 5", u"\u20AC 5"},
      {936, "\xD6\xD0\xCE\xC4", u"\u4E2D\u6587"},
  };
  int ran = 0;
  for (const auto& row : rows) {
    if (row.acp != GetACP()) continue;
    ++ran;
    EXPECT_EQ(PageText("text/plain", row.bytes, DecodeCharset), row.text);
  }
  EXPECT_EQ(ran, 1) << "no row for code page " << GetACP();
  const struct { const char* type; const char* bytes; std::u16string text; } named[] = {  // whatever the system's
      {"text/plain; charset=gbk", "\xD6\xD0\xCE\xC4", u"\u4E2D\u6587"},
      {"text/plain; charset=big5", "\xA4\xA4\xA4\xE5", u"\u4E2D\u6587"},
      {"text/plain; charset=shift_jis", "\x93\xFA\x96\x7B", u"\u65E5\u672C"},
  };
  for (const auto& row : named) EXPECT_EQ(PageText(row.type, row.bytes, DecodeCharset), row.text) << row.type;
}

// e2e-helper.exe (beside this program) holding a window titled `title` for 20 s: hidden (""), shown ("show")
// or hidden of the stub's application class ("app").
HANDLE HoldWindow(const std::u16string& title, const wchar_t* how) {
  std::wstring command = L"\"" + std::wstring(W(GetAppPath())) + L"e2e-helper.exe\" hold \"";
  command += W(title) + std::wstring(L"\" 20 ") + how;  // no word: hidden
  STARTUPINFOW si = {sizeof si};
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return nullptr;
  CloseHandle(pi.hThread);
  // Found once it exists, and for "show" once it is on screen (it becomes visible at the end of its creation).
  const bool shown = !lstrcmpW(how, L"show");
  for (int i = 0; i < 200; ++i) {
    const HWND found = FindWindowW(nullptr, W(title));
    if (found && (!shown || IsWindowVisible(found))) break;
    Sleep(50);
  }
  return pi.hProcess;
}

bool Topmost(HWND w) { return (GetWindowLongW(w, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

// Activation reaches only another process's window that is on screen or is another instance's (hidden)
// application window; the title comes from the server, so nothing else is shown or pinned on top.
TEST(SingleInstance, ActivationReachesOnlyAnotherInstanceOrAVisibleWindowOfAnotherProgram) {
  const struct { const char16_t* title; const wchar_t* how; bool other, activated; } rows[] = {
      {u"激活 own hidden", L"", false, false},
      {u"激活 other hidden", L"", true, false},
      {u"激活 other shown", L"show", true, true},
      {u"激活 other instance", L"app", true, true},
  };
  for (const auto& row : rows) {
    const HANDLE other = row.other ? HoldWindow(row.title, row.how) : nullptr;
    const HWND own = row.other ? nullptr : CreateWindowExW(0, L"STATIC", W(row.title), WS_POPUP, 0, 0, 10, 10,
                                                            nullptr, nullptr, nullptr, nullptr);
    const HWND wnd = FindWindowW(nullptr, W(row.title));
    ASSERT_NE(wnd, nullptr) << Utf16ToUtf8Lossy(row.title);
    const bool visible = IsWindowVisible(wnd) != 0;
    ActivateWindow(row.title);
    EXPECT_EQ(Topmost(wnd), row.activated) << Utf16ToUtf8Lossy(row.title);
    EXPECT_EQ(IsWindowVisible(wnd) != 0, visible || row.activated) << Utf16ToUtf8Lossy(row.title);
    if (own) DestroyWindow(own);
    if (other) {
      TerminateProcess(other, 0);
      WaitForSingleObject(other, 5000);
      CloseHandle(other);
    }
  }
}

// Libraries that are not on the known-DLLs list come from the system folder, whatever lies beside the
// program: planted.dll is there (and would end this program if it were loaded).
TEST(SystemDll, LoadedByFullPathFromTheSystemFolderOnly) {
  wchar_t system[MAX_PATH], loaded[MAX_PATH];
  const UINT n = GetSystemDirectoryW(system, MAX_PATH);
  const HMODULE wininet = LoadSystemLibrary(L"wininet.dll");
  ASSERT_NE(wininet, nullptr);
  ASSERT_GT(GetModuleFileNameW(wininet, loaded, MAX_PATH), n);
  loaded[n] = 0;
  EXPECT_EQ(lstrcmpiW(loaded, system), 0);
  ASSERT_NE(GetFileAttributesW(W(GetAppPath() + u"planted.dll")), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(LoadSystemLibrary(L"planted.dll"), nullptr);
}

// A program starts only when its image is the held (checked) file: a copy at another path is ended unrun.
TEST(WinShell, StartsAProgramOnlyWhenItsImageIsTheHeldFile) {
  const TempDir dir;
  const std::u16string folder = Utf8ToUtf16Lossy(dir.path().u8string());
  const std::u16string checked = folder + u"\\checked.exe", other = folder + u"\\other.exe";
  const std::u16string sample = GetAppPath() + u"sample-installer.exe";
  ASSERT_TRUE(CopyFileW(W(sample), W(checked), FALSE) && CopyFileW(W(sample), W(other), FALSE));
  WinFileSystem fs;
  ASSERT_EQ(fs.DigestAndHold(checked).size(), 32u);
  WinShell shell(nullptr, &fs, [] { ADD_FAILURE() << "the program was ended"; });
  EXPECT_FALSE(shell.Launch(other, LaunchAs::Program));
  EXPECT_TRUE(shell.Launch(checked, LaunchAs::Program));
  for (int i = 0; i < 200 && GetFileAttributesW(W(checked + u".ran")) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);
  EXPECT_NE(GetFileAttributesW(W(checked + u".ran")), INVALID_FILE_ATTRIBUTES);  // it ran
  EXPECT_EQ(GetFileAttributesW(W(other + u".ran")), INVALID_FILE_ATTRIBUTES);    // it never did
}

// The message wait lasts its whole length when nothing comes (a lower bound: a loaded machine only makes it
// longer) and ends when a message arrives.
TEST(WinWaiter, WaitsItsLengthUnlessAMessageComes) {
  WinWaiter waiter;
  DWORD start = GetTickCount();
  waiter.WaitMessages(0.3);
  EXPECT_GE(GetTickCount() - start, 290u);
  PostThreadMessageW(GetCurrentThreadId(), WM_USER, 0, 0);
  start = GetTickCount();
  waiter.WaitMessages(60);
  EXPECT_LT(GetTickCount() - start, 30000u) << "a message did not end the wait";
}

// The folder written to cannot be removed, renamed or replaced while the stub runs: no delete sharing. What
// the stub makes and checks gets a protected access list of three entries (the owner, the system, the
// administrators); Wine keeps no access lists on its files, so only the list itself is checked.
TEST(WinFileSystem, TheFolderWrittenToIsHeldAndPrivate) {
  const TempDir dir;
  const std::u16string folder = Utf8ToUtf16Lossy(dir.path().u8string()) + u"\\held";
  {
    WinFileSystem fs;
    ASSERT_EQ(fs.CreateFolder(folder + u"\\"), 0);
    EXPECT_EQ(fs.Owner(folder + u"\\"), fs.User());  // the user the program runs as owns what it makes
    EXPECT_EQ(fs.Owner(folder + u"\\none\\"), u"?");  // an owner that cannot be read
    ASSERT_EQ(fs.WriteFirstByte(folder + u"\\1.tmp"), 0);
    EXPECT_TRUE(DeleteFileW(W(folder + u"\\1.tmp")));  // its files stay the user's to delete
    EXPECT_FALSE(RemoveDirectoryW(W(folder)));
  }
  EXPECT_TRUE(RemoveDirectoryW(W(folder)));  // let go when the file system ends
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(Private() && GetSecurityDescriptorDacl(Private(), &present, &dacl, &defaulted));
  GetSecurityDescriptorControl(Private(), &control, &revision);
  EXPECT_TRUE(present && dacl && dacl->AceCount == 3 && (control & SE_DACL_PROTECTED));
}

}  // namespace
}  // namespace stub
