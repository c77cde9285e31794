// The digest's file access on POSIX systems (the host tool and native tests).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/text.h"
#include "codec/md5_file.h"

namespace stub {
namespace {

class PosixDigestFile final : public DigestFile {
 public:
  ~PosixDigestFile() override { Close(); }

  bool Exists(const std::u16string& path) override {
    struct stat st;
    return ::stat(Utf16ToUtf8Lossy(path).c_str(), &st) == 0;
  }

  bool Open(const std::u16string& path) override {
    fd_ = ::open(Utf16ToUtf8Lossy(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return false;
    struct stat st;
    // A folder opens on POSIX but not on Windows; treat both alike.
    if (::fstat(fd_, &st) != 0 || S_ISDIR(st.st_mode)) {
      Close();
      return false;
    }
    return true;
  }

  bool Size(int64_t& size) override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return false;
    size = st.st_size;
    return true;
  }

  bool Read(uint8_t* buf, size_t cap, size_t& got) override {
    got = 0;
    // Fill the buffer like a Windows file read does: short only at the end.
    while (got < cap) {
      const ssize_t n = ::read(fd_, buf + got, cap - got);
      if (n < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      if (n == 0) break;
      got += static_cast<size_t>(n);
    }
    return true;
  }

  void Close() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

}  // namespace

std::u16string MD5File(const std::u16string& path) {
  PosixDigestFile file;
  return MD5File(path, file);
}

}  // namespace stub
