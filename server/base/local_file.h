// Local files as the rooms read them: whole but bounded, and told apart from
// an earlier version of themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace stub::server {

// The first `limit` bytes of the file at `path` (all of it when shorter);
// nullopt when it cannot be opened or read.
std::optional<std::string> ReadFileBytes(const std::string& path, size_t limit);

// What tells one version of a file from the next: a file rewritten in place
// changes its size or time, one renamed over it its inode.
struct FileStamp {
  bool regular = false;  // a plain file, not a folder or a device
  int64_t size = 0, mtime_ns = 0;
  uint64_t inode = 0, device = 0;
  bool operator==(const FileStamp& o) const;
  bool operator!=(const FileStamp& o) const { return !(*this == o); }
};

// The stamp of what `path` names, links followed; nullopt when it names nothing.
std::optional<FileStamp> StampOf(const std::string& path);

}  // namespace stub::server
