// The digest's file access on Windows: wide paths, read sharing only, so a
// file that another program holds open for writing cannot be hashed.
#include <windows.h>

#include "codec/md5_file.h"

namespace stub {
namespace {

class WinDigestFile final : public DigestFile {
 public:
  ~WinDigestFile() override { Close(); }

  bool Exists(const std::u16string& path) override {
    return GetFileAttributesW(Wide(path)) != INVALID_FILE_ATTRIBUTES;
  }

  bool Open(const std::u16string& path) override {
    file_ = CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    return file_ != INVALID_HANDLE_VALUE;
  }

  bool Size(int64_t& size) override {
    LARGE_INTEGER li;
    if (!GetFileSizeEx(file_, &li)) return false;
    size = li.QuadPart;
    return true;
  }

  bool Read(uint8_t* buf, size_t cap, size_t& got) override {
    DWORD n = 0;
    const BOOL ok = ReadFile(file_, buf, static_cast<DWORD>(cap), &n, nullptr);
    got = n;
    return ok != FALSE;
  }

  void Close() override {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
  }

 private:
  static const wchar_t* Wide(const std::u16string& s) {
    return reinterpret_cast<const wchar_t*>(s.c_str());
  }
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

}  // namespace

std::u16string MD5File(const std::u16string& path) {
  WinDigestFile file;
  return MD5File(path, file);
}

}  // namespace stub
