#include "server/store/spool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace stub::server {
namespace {

// A record never gets near this; larger lengths mean a damaged file.
constexpr uint32_t kMaxRecord = 16u << 20;

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
  size_t at = 0;
  while (bytes.size() - at >= 8) {
    const uint32_t len = GetU32(bytes, at);
    if (len > kMaxRecord || bytes.size() - at - 8 < len) break;
    const std::string_view payload = bytes.substr(at + 8, len);
    if (Crc(payload) != GetU32(bytes, at + 4)) break;
    RecordedRequest r;
    size_t p = 0;
    bool whole = true;
    for (std::string* s : {&r.event_id, &r.time, &r.client, &r.method, &r.target}) {
      if (payload.size() - p < 4) { whole = false; break; }
      const uint32_t n = GetU32(payload, p);
      p += 4;
      if (payload.size() - p < n) { whole = false; break; }
      s->assign(payload.substr(p, n));
      p += n;
    }
    if (!whole) break;
    r.fields = DecodeQuery(r.target);
    out.push_back(std::move(r));
    at += 8 + len;
  }
  *good = at;
  return out;
}

Spool::~Spool() {
  if (fd_ >= 0) close(fd_);
}

bool Spool::Open(const std::string& path, std::string* error) {
  path_ = path;
  fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) return Fail(error, "cannot open spool", path);
  std::vector<RecordedRequest> rows;
  if (!ReadAll(&rows, error)) return false;  // also cuts a torn tail
  return true;
}

bool Spool::Append(const std::vector<RecordedRequest*>& rows, std::string* error) {
  std::string bytes;
  for (const RecordedRequest* r : rows) bytes += EncodeSpoolRecord(*r);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = pwrite(fd_, bytes.data() + done, bytes.size() - done,
                             static_cast<off_t>(size_ + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // Whatever was written is a torn tail; cut it so later records stay readable.
      if (ftruncate(fd_, static_cast<off_t>(size_)) != 0) {}
      return Fail(error, "cannot write spool", path_);
    }
    done += static_cast<size_t>(n);
  }
  if (fdatasync(fd_) != 0) return Fail(error, "cannot sync spool", path_);
  size_ += bytes.size();
  return true;
}

bool Spool::ReadAll(std::vector<RecordedRequest>* out, std::string* error) {
  struct stat st;
  if (fstat(fd_, &st) != 0) return Fail(error, "cannot read spool", path_);
  std::string bytes(static_cast<size_t>(st.st_size), '\0');
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = pread(fd_, bytes.data() + got, bytes.size() - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(error, "cannot read spool", path_);
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  bytes.resize(got);
  size_t good = 0;
  *out = DecodeSpoolRecords(bytes, &good);
  if (good != bytes.size() && (ftruncate(fd_, static_cast<off_t>(good)) != 0 || fdatasync(fd_) != 0))
    return Fail(error, "cannot cut the torn end of spool", path_);
  size_ = good;
  return true;
}

bool Spool::Clear(std::string* error) {
  if (ftruncate(fd_, 0) != 0 || fdatasync(fd_) != 0) return Fail(error, "cannot empty spool", path_);
  size_ = 0;
  return true;
}

}  // namespace stub::server
