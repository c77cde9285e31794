// File answers of a faulty download host: the file's body paced, cut short,
// gone quiet, chunked or running past its announced length.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "server/http/answer.h"
#include "server/http/exchange.h"

namespace stub::server {

// How file bodies go wrong; the defaults send them whole.
struct FileFaults {
  int status = 0;         // non-zero: answer every file request with this status
  int64_t rate = 0;       // bytes per second; 0 = unthrottled
  int64_t truncate = -1;  // send this many body bytes, then close
  int64_t stall = -1;     // send this many body bytes, then go silent
  bool chunked = false;   // chunked transfer instead of Content-Length
  int64_t extra = 0;      // bytes sent beyond the announced length
};

// The regular file at `path` (already resolved inside the served folder),
// its body shaped by `faults` (the status is not looked at here); 404 when
// it cannot be opened.
Answer FaultyFileAnswer(const Exchange& exchange, const std::string& path, const FileFaults& faults);

// Spreads a body over time at a fixed byte rate: each piece leaves when the
// bytes before it are due, so the first piece goes at once.
class Pacer {
 public:
  explicit Pacer(int64_t bytes_per_second);
  // How much to send next: at most a tenth of a second's worth (at least one
  // byte), or `unlimited` without a rate.
  int64_t PieceSize(int64_t unlimited) const;
  // When `sent_so_far` bytes are due, counted from the pacer's creation.
  std::chrono::steady_clock::duration DueAfter(int64_t sent_so_far) const;
  std::chrono::steady_clock::time_point start() const { return start_; }

 private:
  int64_t rate_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace stub::server
