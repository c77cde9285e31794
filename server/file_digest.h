// Digests of the files the rules announce, computed by the server itself and
// computed again whenever a file changes, so an announced digest is never
// stale.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace stub::server {

class DigestCache {
 public:
  // The MD5 of the regular file at `path` as 32 lower-case hex digits, ""
  // when it is missing or unreadable. A file whose size, modification time or
  // inode differs from the last look is read again. Thread-safe.
  std::string Digest(const std::string& path);

 private:
  struct Entry {
    int64_t size = -1, mtime_ns = 0;
    uint64_t inode = 0, device = 0;
    std::string md5;
  };
  std::mutex mutex_;
  std::map<std::string, Entry> entries_;
};

}  // namespace stub::server
