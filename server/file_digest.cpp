#include "server/file_digest.h"

#include <sys/stat.h>

#include <fstream>
#include <vector>

#include "base/text.h"
#include "codec/md5.h"

namespace stub::server {
namespace {

bool Look(const std::string& path, int64_t& size, int64_t& mtime_ns, uint64_t& inode,
          uint64_t& device) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  size = st.st_size;
  mtime_ns = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
  inode = st.st_ino;
  device = st.st_dev;
  return true;
}

std::string Hash(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "";
  Md5 md5;
  std::vector<char> buf(64 * 1024);
  while (in) {
    in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    if (in.gcount() > 0) md5.Update(buf.data(), static_cast<size_t>(in.gcount()));
  }
  if (in.bad()) return "";
  return Utf16ToUtf8Lossy(md5.Finish());
}

}  // namespace

std::string DigestCache::Digest(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  // A file being rewritten while it is read changes under the reader: read
  // until the look before and after agree (a few tries at most).
  for (int attempt = 0; attempt < 5; ++attempt) {
    Entry now;
    if (!Look(path, now.size, now.mtime_ns, now.inode, now.device)) {
      entries_.erase(path);
      return "";
    }
    Entry& old = entries_[path];
    if (old.size == now.size && old.mtime_ns == now.mtime_ns && old.inode == now.inode &&
        old.device == now.device && !old.md5.empty())
      return old.md5;
    now.md5 = Hash(path);
    Entry after;
    if (Look(path, after.size, after.mtime_ns, after.inode, after.device) &&
        after.size == now.size && after.mtime_ns == now.mtime_ns && after.inode == now.inode) {
      old = now;
      return now.md5;
    }
  }
  entries_.erase(path);
  return "";
}

}  // namespace stub::server
