// The Windows digest against real sharing rules.
#include <windows.h>

#include <gtest/gtest.h>

#include "base/text.h"
#include "codec/md5_file.h"
#include "temp_dir.h"

namespace stub {
namespace {

TEST(Md5FileWin, AFileOpenForWritingElsewhereCannotBeOpenedButReadersMayShare) {
  TempDir dir;
  const std::u16string path = Utf8ToUtf16Lossy((dir.path() / "安装.exe").u8string());
  const auto* w = reinterpret_cast<const wchar_t*>(path.c_str());
  HANDLE writer = CreateFileW(w, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  DWORD n;
  WriteFile(writer, "abc", 3, &n, nullptr);
  EXPECT_EQ(MD5File(path), kErrOpen);
  CloseHandle(writer);
  HANDLE reader = CreateFileW(w, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(MD5File(path), u"900150983cd24fb0d6963f7d28e17f72");
  CloseHandle(reader);
}

}  // namespace
}  // namespace stub
