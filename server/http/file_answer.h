// Answers for file requests: the file itself, sent plainly or in one of the
// faulty ways tests ask for.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "server/http/answer.h"
#include "server/http/exchange.h"
#include "server/options.h"

namespace stub::server {

// The regular file at `path` (already resolved inside the served folder) as
// application/octet-stream, shaped by `behaviour`; the status option is not
// looked at here. A file that cannot be opened gets 404. Pauses in the body
// suspend the connection of the exchange.
Answer FileAnswer(const Exchange& exchange, const std::string& path, const FileBehaviour& behaviour);

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
