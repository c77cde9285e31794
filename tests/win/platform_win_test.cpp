// The program's platform services against real Windows sharing rules,
// windows and code pages.
#include <windows.h>

#include <gtest/gtest.h>

#include "app/app_win.h"
#include "base/system_dll_win.h"
#include "base/text.h"
#include "codec/md5_file.h"
#include "download/platform_win.h"
#include "download/texts.h"
#include "net/net_win.h"
#include "net/page_text.h"
#include "profile/profile_win.h"
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
    EXPECT_EQ(PageText("", row.bytes, DecodeCharset), row.text);
  }
  EXPECT_EQ(ran, 1) << "no row for code page " << GetACP();
}

HWND Popup(const std::u16string& title) {
  return CreateWindowExW(0, L"STATIC", W(title), WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
}

TEST(SingleInstance, WindowSearchUsesTheExactTitle) {
  const std::u16string title = u"Korvel安装  助手 ";
  const HWND wnd = Popup(title), untitled = Popup(u"");
  ASSERT_EQ(FindWindowW(nullptr, L""), untitled);  // what an empty search would find
  EXPECT_EQ(IsWindowOpen(title), u"1");  // hidden windows count
  EXPECT_EQ(IsWindowOpen(u"Korvel安装 助手"), u"");
  EXPECT_EQ(IsWindowOpen(u""), u"");
  ActivateWindow(u"");  // activates nothing, not some untitled window
  ActivateWindow(title);
  for (const HWND w : {wnd, untitled}) {
    EXPECT_EQ(IsWindowVisible(w) != 0, w == wnd);
    EXPECT_EQ((GetWindowLongW(w, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0, w == wnd);
    DestroyWindow(w);
  }
  EXPECT_EQ(IsWindowOpen(title), u"");
}

// Libraries that are not on the known-DLLs list come from the system folder,
// whatever lies beside the program (this test program's own name is a file
// there, and is not found).
TEST(SystemDll, LoadedByFullPathFromTheSystemFolderOnly) {
  wchar_t system[MAX_PATH], loaded[MAX_PATH], self[MAX_PATH];
  const UINT n = GetSystemDirectoryW(system, MAX_PATH);
  const HMODULE wininet = LoadSystemLibrary(L"wininet.dll");
  ASSERT_NE(wininet, nullptr);
  ASSERT_GT(GetModuleFileNameW(wininet, loaded, MAX_PATH), n);
  loaded[n] = 0;
  EXPECT_EQ(lstrcmpiW(loaded, system), 0);
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  EXPECT_EQ(LoadSystemLibrary(wcsrchr(self, L'\\') + 1), nullptr);
}

// The profile in the build that runs: a 32-bit program in a 32-bit prefix, the
// x86-64 build in a 64-bit one (the harness names the prefix's kind in WINEARCH).
TEST(Profile, BitnessAndTheUrlMonikerLibraryAreThoseOfTheSystem) {
  wchar_t arch[16] = L"";
  GetEnvironmentVariableW(L"WINEARCH", arch, 16);
  ASSERT_TRUE(!lstrcmpW(arch, L"win32") || !lstrcmpW(arch, L"win64")) << "WINEARCH is not set";
  RunState s;
  GetOSInfo(s);
  EXPECT_EQ(s.OSBit, !lstrcmpW(arch, L"win64") ? u"64" : u"32");
  EXPECT_TRUE(WinFileSystem().Exists(dl::kUrlmon32));  // the system folder as the process sees it
}

}  // namespace
}  // namespace stub
