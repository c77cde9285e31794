// The controller's platform services against real Windows file behaviour.
#include <windows.h>

#include <gtest/gtest.h>

#include "base/text.h"
#include "download/platform_win.h"
#include "net/net_win.h"
#include "net/page_text.h"
#include "temp_dir.h"

namespace stub {
namespace {

const wchar_t* Wc(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

std::u16string Write(const TempDir& dir, const char* name, const char* content) {
  const std::u16string path = Utf8ToUtf16Lossy((dir.path() / name).u8string());
  HANDLE f = CreateFileW(Wc(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD n;
  WriteFile(f, content, static_cast<DWORD>(strlen(content)), &n, nullptr);
  CloseHandle(f);
  return path;
}

TEST(WinFileSystem, TheCheckedFileCannotChangeUntilItIsReleased) {
  TempDir dir;
  const std::u16string path = Write(dir, "setup.exe", "abc");
  WinFileSystem fs;
  EXPECT_EQ(fs.DigestAndHold(path), u"900150983cd24fb0d6963f7d28e17f72");
  // Held: nobody can delete, replace or write it between the check and the launch...
  EXPECT_FALSE(DeleteFileW(Wc(path)));
  EXPECT_EQ(CreateFileW(Wc(path), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  // ...but it can still be read (and so started).
  HANDLE reader = CreateFileW(Wc(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  CloseHandle(reader);
  fs.ReleaseHold();
  EXPECT_TRUE(DeleteFileW(Wc(path)));
}

TEST(WinFileSystem, AFailedDigestHoldsNothing) {
  TempDir dir;
  WinFileSystem fs;
  const std::u16string folder = Utf8ToUtf16Lossy(dir.path().u8string());
  EXPECT_EQ(fs.DigestAndHold(folder + u"\\missing.exe"), u"");
  EXPECT_EQ(fs.DigestAndHold(folder), u"* ERR: CANNOT OPEN FILE");
  const std::u16string path = Write(dir, "a.exe", "x");
  fs.DigestAndHold(path);
  EXPECT_EQ(fs.DigestAndHold(folder + u"\\missing.exe"), u"");  // the next check lets go of the last
  EXPECT_TRUE(DeleteFileW(Wc(path)));
}

TEST(WinFileSystem, ProbeWritesTheFirstByteWithoutTruncating) {
  TempDir dir;
  const std::u16string path = Write(dir, "1.tmp", "xyz");
  WinFileSystem fs;
  EXPECT_EQ(fs.WriteFirstByte(path), 0);
  char buf[8] = {};
  DWORD n = 0;
  HANDLE f = CreateFileW(Wc(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ReadFile(f, buf, sizeof buf, &n, nullptr);
  CloseHandle(f);
  EXPECT_EQ(std::string(buf, n), std::string("\x01yz"));
  const std::u16string folder = Utf8ToUtf16Lossy(dir.path().u8string());
  EXPECT_NE(fs.WriteFirstByte(folder + u"\\no such folder\\1.tmp"), 0);
  EXPECT_NE(fs.WriteFirstByte(folder), 0);  // a folder is not a probe file
  EXPECT_NE(fs.CreateFolder(folder), 0);    // already there
}

TEST(AppPath, EndsWithOneBackslashAndShortensOnlyWhatExists) {
  const std::u16string app = GetAppPath();
  ASSERT_FALSE(app.empty());
  EXPECT_EQ(app.back(), u'\\');
  EXPECT_NE(app.substr(app.size() - 2), u"\\\\");
  EXPECT_EQ(GetShortPath(u"C:\\no such folder\\x"), u"C:\\no such folder\\x");
}

// A page without a charset that is not UTF-8 is read in the system's ANSI
// code page, whichever the prefix has.
TEST(PageCharset, NoCharsetMeansTheSystemsAnsiCodePage) {
  struct {
    UINT acp;
    const char* bytes;
    std::u16string text;
  } cases[] = {
      {1252, "\x80 5", u"\u20AC 5"},
      {936, "\xD6\xD0\xCE\xC4", u"\u4E2D\u6587"},
  };
  int ran = 0;
  for (const auto& c : cases) {
    if (c.acp != GetACP()) continue;
    ++ran;
    EXPECT_EQ(PageText("text/plain", c.bytes, DecodeCharset), c.text) << c.acp;
    EXPECT_EQ(PageText("", c.bytes, DecodeCharset), c.text) << c.acp;
  }
  EXPECT_EQ(ran, 1) << "no row for code page " << GetACP();
}

}  // namespace
}  // namespace stub
