// The Windows digest against real platform behaviour.
#include <windows.h>

#include <gtest/gtest.h>

#include "app/text.h"
#include "codec/md5_file.h"
#include "temp_dir.h"

namespace stub {
namespace {

const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

TEST(Md5FileWin, FileOpenForWritingElsewhereCannotBeOpened) {
  TempDir dir;
  const std::u16string path = Utf8ToUtf16Lossy((dir.path() / "locked.exe").u8string());
  HANDLE writer = CreateFileW(W(path), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  DWORD n;
  WriteFile(writer, "abc", 3, &n, nullptr);
  EXPECT_EQ(MD5File(path), kErrOpen);
  CloseHandle(writer);
  EXPECT_EQ(MD5File(path), u"900150983cd24fb0d6963f7d28e17f72");
}

TEST(Md5FileWin, ReadersMayShareTheFile) {
  TempDir dir;
  const std::u16string path = Utf8ToUtf16Lossy((dir.path() / "安装.exe").u8string());
  HANDLE f = CreateFileW(W(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  DWORD n;
  WriteFile(f, "abc", 3, &n, nullptr);
  CloseHandle(f);
  HANDLE reader = CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(MD5File(path), u"900150983cd24fb0d6963f7d28e17f72");
  CloseHandle(reader);
}

}  // namespace
}  // namespace stub
