#include "server/base/local_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace stub::server {

std::optional<std::string> ReadFileBytes(const std::string& path, size_t limit) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) return std::nullopt;
  std::string out;
  char buf[16 << 10];
  for (size_t n = 1; n > 0 && out.size() < limit;) {
    n = std::fread(buf, 1, std::min(sizeof buf, limit - out.size()), file.get());
    out.append(buf, n);
  }
  if (std::ferror(file.get())) return std::nullopt;
  return out;
}

bool FileStamp::operator==(const FileStamp& o) const {
  return regular == o.regular && size == o.size && mtime_ns == o.mtime_ns && inode == o.inode &&
         device == o.device;
}

std::optional<FileStamp> StampOf(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return std::nullopt;
  FileStamp s;
  s.regular = S_ISREG(st.st_mode);
  s.size = st.st_size;
  s.mtime_ns = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
  s.inode = st.st_ino;
  s.device = st.st_dev;
  return s;
}

}  // namespace stub::server
