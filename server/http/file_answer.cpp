#include "server/http/file_answer.h"

#include <fcntl.h>
#include <microhttpd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "server/http/answer.h"

namespace stub::server {
namespace {

constexpr int64_t kPiece = 64 << 10;
// How often a stalled body looks whether its client has left.
constexpr auto kStallCheck = std::chrono::milliseconds(200);

// The body of one file answer, read by the library as the socket takes it.
struct FileBody {
  // Takes `file`, open on a regular file of `size` bytes.
  FileBody(int file, int64_t size, const FileBehaviour& b, const Exchange& exchange)
      : fd(file),
        size(size),
        truncate(b.truncate >= 0 && b.truncate < size),
        stall(b.stall >= 0 && b.stall < size),
        cut(truncate ? b.truncate : stall ? b.stall : size),
        extra(b.extra),
        pacer(b.rate),
        exchange(exchange) {}
  ~FileBody() { close(fd); }
  FileBody(const FileBody&) = delete;
  FileBody& operator=(const FileBody&) = delete;

  const int fd;
  const int64_t size;   // the file's length
  const bool truncate;  // close after `cut`
  const bool stall;     // go silent after `cut`
  const int64_t cut;    // body bytes taken from the file
  const int64_t extra;  // bytes after the file, beyond the announced length
  const Pacer pacer;
  const Exchange exchange;
};

ssize_t ReadBody(void* cls, uint64_t pos64, char* buf, size_t max) {
  auto* b = static_cast<FileBody*>(cls);
  const auto pos = static_cast<int64_t>(pos64);
  const Exchange& exchange = b->exchange;
  if (exchange.stopping()) return MHD_CONTENT_READER_END_WITH_ERROR;
  if (pos >= b->cut) {
    if (b->truncate) return MHD_CONTENT_READER_END_WITH_ERROR;  // closes, body cut short
    if (b->stall) {
      if (exchange.ClientGone() || !exchange.PauseUntil(Resumer::Clock::now() + kStallCheck))
        return MHD_CONTENT_READER_END_WITH_ERROR;
      return 0;
    }
    const int64_t end = b->size + b->extra;
    if (pos >= end) return MHD_CONTENT_READER_END_OF_STREAM;
    const size_t n = static_cast<size_t>(std::min<int64_t>(end - pos, static_cast<int64_t>(max)));
    std::memset(buf, 'x', n);
    return static_cast<ssize_t>(n);
  }
  const auto due = b->pacer.start() + b->pacer.DueAfter(pos);
  // The pacing wait blocks this pool thread (paced bodies are a test mode):
  // with the connection suspended instead, Wine's URL download saw no
  // progress on a trickling body.
  if (Resumer::Clock::now() < due && !exchange.SleepUntil(due))
    return MHD_CONTENT_READER_END_WITH_ERROR;
  const int64_t want = std::min({b->cut - pos, b->pacer.PieceSize(kPiece), static_cast<int64_t>(max)});
  const ssize_t n = pread(b->fd, buf, static_cast<size_t>(want), pos);
  if (n <= 0) return MHD_CONTENT_READER_END_WITH_ERROR;  // the file shrank while being sent
  return n;
}

// The response owns its body from its creation: the library frees it here.
void FreeBody(void* cls) { const std::unique_ptr<FileBody> body(static_cast<FileBody*>(cls)); }

}  // namespace

Pacer::Pacer(int64_t bytes_per_second)
    : rate_(bytes_per_second), start_(std::chrono::steady_clock::now()) {}

int64_t Pacer::PieceSize(int64_t unlimited) const {
  if (rate_ <= 0) return unlimited;
  return std::clamp<int64_t>(rate_ / 10, 1, unlimited);
}

std::chrono::steady_clock::duration Pacer::DueAfter(int64_t sent_so_far) const {
  if (rate_ <= 0) return {};
  using namespace std::chrono;
  const double seconds = static_cast<double>(sent_so_far) / static_cast<double>(rate_);
  return duration_cast<steady_clock::duration>(duration<double>(seconds));
}

Answer FileAnswer(const Exchange& exchange, const std::string& path, const FileBehaviour& behaviour) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) close(fd);
    return StatusPage(404);
  }
  auto body = std::make_unique<FileBody>(fd, st.st_size, behaviour, exchange);
  const int64_t size = body->size;
  const bool cut_short = body->truncate || body->stall;
  // Chunked without a known length; otherwise the file's length is announced
  // even when the body is cut short or runs over.
  const uint64_t length = behaviour.chunked ? MHD_SIZE_UNKNOWN
                                            : static_cast<uint64_t>(size + behaviour.extra);
  Response r(MHD_create_response_from_callback(length, kPiece, &ReadBody, body.get(), &FreeBody));
  if (!r) return Answer{200, nullptr};
  body.release();  // the response's now
  MHD_add_response_header(r.get(), "Content-Type", "application/octet-stream");
  MHD_add_response_header(r.get(), "Cache-Control", "no-store");
  if (behaviour.extra > 0) {
    // The announced length is the file's; the library then sends the rest
    // beyond it, and the connection cannot carry another answer.
    MHD_set_response_options(r.get(), MHD_RF_INSANITY_HEADER_CONTENT_LENGTH, MHD_RO_END);
    MHD_add_response_header(r.get(), "Content-Length", std::to_string(size).c_str());
    MHD_add_response_header(r.get(), "Connection", "close");
  }
  if (cut_short) MHD_add_response_header(r.get(), "Connection", "close");
  return Answer{200, std::move(r)};
}

}  // namespace stub::server
