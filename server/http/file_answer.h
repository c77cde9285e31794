// Answers for file requests: a body made piece by piece as the socket takes
// it, and the served file sent that way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "server/http/answer.h"
#include "server/http/exchange.h"

namespace stub::server {

// The largest piece of a body the library asks for at once.
constexpr size_t kBodyPiece = 64 << 10;

// A body made on the connection's thread while its answer is sent.
class BodySource {
 public:
  static constexpr int64_t kEnd = -1;     // the body is complete
  static constexpr int64_t kFailed = -2;  // the connection closes, the body cut short
  virtual ~BodySource() = default;
  // Writes up to `max` bytes of the body from `pos` into `buf` and returns
  // how many; 0 to be asked again (after a pause), or kEnd or kFailed.
  virtual int64_t Read(uint64_t pos, char* buf, size_t max) = 0;
};

// 200 with `body` as application/octet-stream, not to be cached: `length`
// announced, or chunked without one, then `headers`. A Content-Length among
// them is sent as given, and the body may run past it.
Answer BodyAnswer(std::unique_ptr<BodySource> body, std::optional<uint64_t> length,
                  const Headers& headers = {});

// A regular file read for a body; a stop of the daemon ends it.
class FileSource : public BodySource {
 public:
  // The regular file at `path`, or null when it cannot be opened as one.
  static std::unique_ptr<FileSource> Open(const std::string& path, const Exchange& exchange);
  // Takes `fd`, open on a regular file of `size` bytes.
  FileSource(int fd, int64_t size, const Exchange& exchange) : fd_(fd), size_(size), exchange_(exchange) {}
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  int64_t size() const { return size_; }
  int64_t Read(uint64_t pos, char* buf, size_t max) override;

 private:
  const int fd_;
  const int64_t size_;
  const Exchange exchange_;
};

// The regular file at `path` (already resolved inside the served folder),
// whole; 404 when it cannot be opened.
Answer FileAnswer(const Exchange& exchange, const std::string& path);

}  // namespace stub::server
