// A local file of requests waiting for the database: a header (magic,
// version, replay point), then records of length, CRC-32 and payload,
// appended and fsync'd before the requests are answered.
//
// It stays a framed file rather than becoming a SQLite outbox: an append is
// one write and one fdatasync, with no second journal to keep, the server
// needs no second database engine when it writes to PostgreSQL, and the
// replay only ever reads forwards from a point it keeps in the header, in
// chunks of bounded size, so neither memory nor a restart depends on how
// many requests wait.
//
// A torn record at the very end (a crash mid-append) is cut off when the
// file opens. A damaged record with intact records after it is not: the
// whole file is moved aside, with a loud message, and a fresh spool begins,
// so nothing after the damage is silently dropped. A spool of the format
// before the header (records from the first byte) gets one when it opens.
// The file is locked while open, so two servers never share one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "server/store/store.h"

namespace stub::server {

// "RSSPOOL" and a NUL, a 32-bit version, 32 reserved bits, then the 64-bit
// offset of the first record not yet in the database (little-endian).
inline constexpr char kSpoolMagic[8] = {'R', 'S', 'S', 'P', 'O', 'O', 'L', '\0'};
inline constexpr uint32_t kSpoolVersion = 1;
inline constexpr size_t kSpoolHeaderSize = 24;

// One record's bytes; the payload holds event id, time, client, method and
// target (the query fields are decoded again from the target).
std::string EncodeSpoolRecord(const RecordedRequest& r);
// The requests of whole, intact records from the start of `bytes`; `good`
// is the length they cover.
std::vector<RecordedRequest> DecodeSpoolRecords(std::string_view bytes, size_t* good);

class Spool {
 public:
  ~Spool();
  // Opens or creates the file (mode 0600), locks it, cuts a torn tail off
  // and moves a damaged file aside. False when the file cannot be used: it
  // cannot be opened, another server holds it, or a newer server wrote it.
  bool Open(const std::string& path, std::string* error);
  // Nothing waits for the database.
  bool empty() const { return replayed_ == size_; }
  // Requests waiting for the database.
  uint64_t rows() const { return rows_; }
  // Appends `rows` and waits until they are on disk.
  bool Append(const std::vector<RecordedRequest*>& rows, std::string* error);
  // The next waiting requests, at most `max_rows` of them and about
  // `max_bytes`, in order of arrival; `end` is where they end, for Consumed.
  // A damaged record there moves the file aside (none are given then).
  bool ReadChunk(size_t max_rows, size_t max_bytes, std::vector<RecordedRequest>* out, uint64_t* end,
                 std::string* error);
  // The `count` requests up to `end` are safely in the database. Once every
  // waiting request is, the file is emptied down to its header.
  bool Consumed(uint64_t end, size_t count, std::string* error);
  // Where a damaged spool was last moved; "" when none was.
  const std::string& quarantined() const { return quarantined_; }

 private:
  bool Create(std::string* error);
  bool Scan(std::string* error);
  bool Quarantine(uint64_t at, uint64_t intact, std::string* error);
  // Puts a header in front of a spool written before it had one.
  bool Upgrade(uint64_t file_size, std::string* error);
  void Close();

  int fd_ = -1;
  uint64_t size_ = 0;      // end of the last intact record
  uint64_t replayed_ = 0;  // records before this offset are in the database
  uint64_t rows_ = 0;      // records after it
  std::string path_, quarantined_;
};

}  // namespace stub::server
