#include "server/store/spool.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace stub::server {
namespace {

// A record never gets near this (a request head is under 32 KiB); larger
// lengths mean a damaged file.
constexpr uint32_t kMaxRecord = 1u << 20;
// How much of the file is read at once.
constexpr size_t kWindow = 4u << 20;
constexpr size_t kFields = 5;  // event id, time, client, method, target

void PutU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

uint32_t GetU32(std::string_view in, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<unsigned char>(in[at + i])) << (8 * i);
  return v;
}

uint32_t Crc(std::string_view bytes) {
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

bool Fail(std::string* error, const std::string& what, const std::string& path) {
  *error = what + " " + path + ": " + std::strerror(errno);
  return false;
}

std::string Header(uint64_t replayed) {
  std::string h(kSpoolMagic, sizeof kSpoolMagic);
  PutU32(h, kSpoolVersion);
  PutU32(h, 0);
  PutU32(h, static_cast<uint32_t>(replayed));
  PutU32(h, static_cast<uint32_t>(replayed >> 32));
  return h;
}

bool WriteAll(int fd, std::string_view bytes, uint64_t at) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(at + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// A file (or, for DecodeSpoolRecords, bytes in memory) read forwards
// through a window of bounded size.
class Reader {
 public:
  Reader(int fd, uint64_t size) : fd_(fd), size_(size) {}
  explicit Reader(std::string_view bytes) : size_(bytes.size()), mem_(bytes) {}
  uint64_t size() const { return size_; }
  // The bytes [at, at + n), fewer where the file ends; false on a read error.
  bool Get(uint64_t at, size_t n, std::string_view* out) {
    if (at >= size_) return *out = {}, true;
    n = static_cast<size_t>(std::min<uint64_t>(n, size_ - at));
    if (fd_ < 0) return *out = mem_.substr(static_cast<size_t>(at), n), true;
    if (at < start_ || at + n > start_ + buf_.size()) {
      start_ = at;
      buf_.resize(static_cast<size_t>(std::min<uint64_t>(std::max(n, kWindow), size_ - at)));
      size_t got = 0;
      while (got < buf_.size()) {
        const ssize_t r = pread(fd_, buf_.data() + got, buf_.size() - got, static_cast<off_t>(at + got));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return false;
        if (r == 0) break;
        got += static_cast<size_t>(r);
      }
      buf_.resize(got);
      if (got < n) n = got;
    }
    *out = std::string_view(buf_).substr(static_cast<size_t>(at - start_), n);
    return true;
  }

 private:
  int fd_ = -1;
  uint64_t size_;
  std::string_view mem_;
  std::string buf_;
  uint64_t start_ = 0;
};

enum class Decoded { kWhole, kShort, kBad, kError };

// The record at `at`: kShort when the file ends inside it, kBad when it is
// not one this program wrote. The payload's lengths are checked before its
// CRC, so searching for the next record past damage stays cheap.
Decoded DecodeAt(Reader& in, uint64_t at, RecordedRequest* r, uint64_t* next) {
  std::string_view bytes;
  if (!in.Get(at, 8, &bytes)) return Decoded::kError;
  if (bytes.size() < 8) return Decoded::kShort;
  const uint32_t len = GetU32(bytes, 0);
  if (len > kMaxRecord || len < 4 * kFields) return Decoded::kBad;
  if (!in.Get(at, 8 + len, &bytes)) return Decoded::kError;
  if (bytes.size() < 8 + len) return Decoded::kShort;
  const std::string_view payload = bytes.substr(8);
  size_t p = 0;
  size_t starts[kFields], lengths[kFields];
  for (size_t i = 0; i < kFields; ++i) {
    if (payload.size() - p < 4) return Decoded::kBad;
    lengths[i] = GetU32(payload, p);
    starts[i] = p += 4;
    if (payload.size() - p < lengths[i]) return Decoded::kBad;
    p += lengths[i];
  }
  if (p != payload.size() || Crc(payload) != GetU32(bytes, 4)) return Decoded::kBad;
  if (r) {
    std::string* texts[kFields] = {&r->event_id, &r->time, &r->client, &r->method, &r->target};
    for (size_t i = 0; i < kFields; ++i) texts[i]->assign(payload.substr(starts[i], lengths[i]));
    r->fields = DecodeQuery(r->target);
    r->id = 0;
  }
  *next = at + 8 + len;
  return Decoded::kWhole;
}

// Whether an intact record starts anywhere after `at`: then the damage at
// `at` is in the middle of the file, not a torn end.
bool IntactAfter(Reader& in, uint64_t at) {
  uint64_t next;
  for (uint64_t p = at + 1; p + 8 <= in.size(); ++p)
    if (DecodeAt(in, p, nullptr, &next) == Decoded::kWhole) return true;
  return false;
}

std::string UtcStamp() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm tm{};
  gmtime_r(&now, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y%m%dT%H%M%SZ", &tm);
  return buf;
}

}  // namespace

std::string EncodeSpoolRecord(const RecordedRequest& r) {
  std::string payload;
  for (const std::string* s : {&r.event_id, &r.time, &r.client, &r.method, &r.target}) {
    PutU32(payload, static_cast<uint32_t>(s->size()));
    payload += *s;
  }
  std::string out;
  PutU32(out, static_cast<uint32_t>(payload.size()));
  PutU32(out, Crc(payload));
  return out + payload;
}

std::vector<RecordedRequest> DecodeSpoolRecords(std::string_view bytes, size_t* good) {
  std::vector<RecordedRequest> out;
  Reader in(bytes);
  uint64_t at = 0, next = 0;
  RecordedRequest r;
  while (DecodeAt(in, at, &r, &next) == Decoded::kWhole) {
    out.push_back(std::move(r));
    at = next;
  }
  *good = static_cast<size_t>(at);
  return out;
}

Spool::~Spool() { Close(); }

void Spool::Close() {
  if (fd_ >= 0) close(fd_);  // also releases the lock
  fd_ = -1;
}

bool Spool::Create(std::string* error) {
  // Owner only: the requests hold client addresses and machine ids.
  fd_ = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) return Fail(error, "cannot open spool", path_);
  if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) return Fail(error, "cannot lock spool", path_);
    *error = "spool " + path_ + " is in use by another report-server (give each server a --spool of its own)";
    Close();
    return false;
  }
  return true;
}

bool Spool::Open(const std::string& path, std::string* error) {
  Close();
  path_ = path;
  return Create(error) && Scan(error);
}

bool Spool::Scan(std::string* error) {
  struct stat st;
  if (fstat(fd_, &st) != 0) return Fail(error, "cannot read spool", path_);
  const uint64_t file_size = static_cast<uint64_t>(st.st_size);
  Reader in(fd_, file_size);
  std::string_view head;
  if (!in.Get(0, kSpoolHeaderSize, &head)) return Fail(error, "cannot read spool", path_);
  rows_ = 0;
  // Empty, or a crash while its header was first written: a new spool.
  if (head.size() < kSpoolHeaderSize && Header(0).compare(0, head.size(), head) == 0) {
    size_ = replayed_ = kSpoolHeaderSize;
    if (ftruncate(fd_, 0) != 0 || !WriteAll(fd_, Header(size_), 0) || fdatasync(fd_) != 0)
      return Fail(error, "cannot write spool", path_);
    return true;
  }
  if (head.size() < sizeof kSpoolMagic || head.compare(0, sizeof kSpoolMagic, std::string_view(kSpoolMagic, 8)) != 0) {
    uint64_t next;
    // Records from the very start: a spool of the format before the header.
    if (DecodeAt(in, 0, nullptr, &next) == Decoded::kWhole) return Upgrade(file_size, error) && Scan(error);
    return Quarantine(0, 0, error);  // not a spool this program wrote
  }
  if (head.size() < kSpoolHeaderSize) return Quarantine(0, 0, error);
  if (GetU32(head, 8) > kSpoolVersion) {
    *error = "spool " + path_ + " was written by a newer report-server (format " +
             std::to_string(GetU32(head, 8)) + "); run that one, or move the file away";
    Close();
    return false;
  }
  replayed_ = GetU32(head, 16) | (static_cast<uint64_t>(GetU32(head, 20)) << 32);
  // A replay point that cannot be right only costs a longer replay: rows
  // the database already has are skipped by their event ids.
  if (replayed_ < kSpoolHeaderSize || replayed_ > file_size) replayed_ = kSpoolHeaderSize;
  uint64_t at = replayed_, next = 0;
  for (;;) {
    const Decoded d = DecodeAt(in, at, nullptr, &next);
    if (d == Decoded::kError) return Fail(error, "cannot read spool", path_);
    if (d != Decoded::kWhole) break;
    ++rows_;
    at = next;
  }
  if (at < file_size && IntactAfter(in, at)) return Quarantine(at, rows_, error);
  size_ = at;
  if (at < file_size && (ftruncate(fd_, static_cast<off_t>(at)) != 0 || fdatasync(fd_) != 0))
    return Fail(error, "cannot cut the torn end of spool", path_);
  if (replayed_ == size_ && size_ > kSpoolHeaderSize) return Consumed(size_, 0, error);
  return true;
}

bool Spool::Upgrade(uint64_t file_size, std::string* error) {
  // The same records behind a header, written beside the old file and then
  // put in its place, so a crash leaves one or the other whole.
  const std::string next = path_ + ".upgrade";
  const int out = open(next.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (out < 0) return Fail(error, "cannot upgrade spool", next);
  bool ok = WriteAll(out, Header(kSpoolHeaderSize), 0);
  Reader in(fd_, file_size);
  for (uint64_t at = 0; ok && at < file_size; at += kWindow) {
    std::string_view piece;
    ok = in.Get(at, kWindow, &piece) && WriteAll(out, piece, kSpoolHeaderSize + at);
  }
  ok = ok && fdatasync(out) == 0;
  close(out);
  if (!ok || rename(next.c_str(), path_.c_str()) != 0) {
    unlink(next.c_str());
    return Fail(error, "cannot upgrade spool", path_);
  }
  std::fprintf(stderr, "report-server: notice: spool %s given a header (format %u)\n", path_.c_str(),
               static_cast<unsigned>(kSpoolVersion));
  Close();
  return Create(error);
}

bool Spool::Quarantine(uint64_t at, uint64_t intact, std::string* error) {
  std::string aside = path_ + ".damaged-" + UtcStamp();
  for (int n = 2; access(aside.c_str(), F_OK) == 0; ++n) aside = path_ + ".damaged-" + UtcStamp() + "-" + std::to_string(n);
  if (rename(path_.c_str(), aside.c_str()) != 0) return Fail(error, "cannot move the damaged spool", path_);
  std::fprintf(stderr,
               "report-server: error: SPOOL DAMAGED: %s has a damaged record at byte %llu, with intact "
               "records after it; moved to %s (%llu waiting requests before the damage and the rest after "
               "it are kept there, unreplayed); continuing with a fresh spool\n",
               path_.c_str(), static_cast<unsigned long long>(at), aside.c_str(),
               static_cast<unsigned long long>(intact));
  quarantined_ = aside;
  Close();
  if (!Create(error)) return false;
  size_ = replayed_ = kSpoolHeaderSize;
  rows_ = 0;
  if (ftruncate(fd_, 0) != 0 || !WriteAll(fd_, Header(size_), 0) || fdatasync(fd_) != 0)
    return Fail(error, "cannot write spool", path_);
  return true;
}

bool Spool::Append(const std::vector<RecordedRequest*>& rows, std::string* error) {
  std::string bytes;
  for (const RecordedRequest* r : rows) bytes += EncodeSpoolRecord(*r);
  if (!WriteAll(fd_, bytes, size_)) {
    const int saved = errno;
    // Whatever was written is a torn tail; cut it so later records stay readable.
    if (ftruncate(fd_, static_cast<off_t>(size_)) != 0) {}
    errno = saved;
    return Fail(error, "cannot write spool", path_);
  }
  if (fdatasync(fd_) != 0) return Fail(error, "cannot sync spool", path_);
  size_ += bytes.size();
  rows_ += rows.size();
  return true;
}

bool Spool::ReadChunk(size_t max_rows, size_t max_bytes, std::vector<RecordedRequest>* out, uint64_t* end,
                      std::string* error) {
  out->clear();
  Reader in(fd_, size_);
  uint64_t at = replayed_, next = 0;
  RecordedRequest r;
  while (at < size_ && out->size() < max_rows && at - replayed_ < max_bytes) {
    const Decoded d = DecodeAt(in, at, &r, &next);
    if (d == Decoded::kError) return Fail(error, "cannot read spool", path_);
    if (d != Decoded::kWhole) {  // changed on disk since it was written
      out->clear();
      *end = kSpoolHeaderSize;
      return Quarantine(at, rows_, error);
    }
    out->push_back(std::move(r));
    at = next;
  }
  *end = at;
  return true;
}

bool Spool::Consumed(uint64_t end, size_t count, std::string* error) {
  if (end < replayed_ || end > size_) return true;  // a chunk of a spool since moved aside
  replayed_ = end;
  rows_ -= std::min<uint64_t>(rows_, count);
  if (replayed_ == size_) {
    // Everything is in the database: start over after the header.
    size_ = replayed_ = kSpoolHeaderSize;
    rows_ = 0;
    if (ftruncate(fd_, static_cast<off_t>(size_)) != 0 || !WriteAll(fd_, Header(size_), 0) || fdatasync(fd_) != 0)
      return Fail(error, "cannot empty spool", path_);
    return true;
  }
  // Not synced: should it be lost, the replay repeats rows the database skips.
  if (!WriteAll(fd_, Header(replayed_), 0)) return Fail(error, "cannot write spool", path_);
  return true;
}

}  // namespace stub::server
