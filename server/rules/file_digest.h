// Digests of the files the rules announce, computed by the server itself and
// computed again whenever a file changes, so an announced digest is never
// stale.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "server/base/local_file.h"

namespace stub::server {

// What a reply announces about one file, both as lower-case hex digits (32
// for the MD5, 64 for the SHA-256); both "" when the file cannot be read.
struct FileDigests {
  std::string md5, sha256;
  bool empty() const { return md5.empty(); }
};

class DigestCache {
 public:
  // The digests of the regular file at `path`, read in one pass; empty when
  // it is missing or unreadable. A file whose size, modification time or
  // inode differs from the last look is read again. Thread-safe.
  FileDigests Digest(const std::string& path);

 private:
  struct Entry {
    std::optional<FileStamp> stamp;  // of the file that was hashed
    FileDigests digests;
  };
  std::mutex mutex_;
  std::map<std::string, Entry> entries_;
};

}  // namespace stub::server
