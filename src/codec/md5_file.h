// File digest with the result texts callers rely on: 32 lower-case hex digits,
// the empty text for a missing path, or an error text containing "ERR".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace stub {

inline constexpr char16_t kErrOpen[] = u"* ERR: CANNOT OPEN FILE";
inline constexpr char16_t kErrLength[] = u"* ERR: CANNOT GET LENGTH OF FILE";
inline constexpr char16_t kErrRead[] = u"* ERR: CANNOT READ FILE";
inline constexpr char16_t kErrSync[] = u"* ERR: SYNC ERROR OF FILE";

// What the digest needs from the platform's file system.
class DigestFile {
 public:
  virtual ~DigestFile() = default;
  virtual bool Exists(const std::u16string& path) = 0;  // file or folder
  // Opens a regular file for reading, letting others only read meanwhile.
  virtual bool Open(const std::u16string& path) = 0;
  virtual bool Size(int64_t& size) = 0;
  // Reads up to `cap` bytes; false on a failed read.
  virtual bool Read(uint8_t* buf, size_t cap, size_t& got) = 0;
  virtual void Close() = 0;  // may be called more than once
};

// The digest of `path` read through `file`; window messages are let through
// every 1 MiB and once at the end.
std::u16string MD5File(const std::u16string& path, DigestFile& file);

// The same through the platform's own file system.
std::u16string MD5File(const std::u16string& path);

}  // namespace stub
