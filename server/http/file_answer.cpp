#include "server/http/file_answer.h"

#include <fcntl.h>
#include <microhttpd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "server/http/answer.h"

namespace stub::server {
namespace {

constexpr int64_t kPiece = 64 << 10;
// How often a stalled body looks whether its client has left.
constexpr auto kStallCheck = std::chrono::milliseconds(200);

// The body of one file answer, read by the library as the socket takes it.
struct FileBody {
  int fd;
  int64_t size;      // the file's length
  int64_t cut;       // body bytes taken from the file
  bool truncate;     // close after `cut`
  bool stall;        // go silent after `cut`
  int64_t extra;     // bytes after the file, beyond the announced length
  Pacer pacer;
  HttpExchange exchange;
};

// True once the peer has closed its side (or the socket failed).
bool ClientGone(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
  if (!info) return true;
  char byte;
  const ssize_t n = recv(info->connect_fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

ssize_t ReadBody(void* cls, uint64_t pos64, char* buf, size_t max) {
  auto* b = static_cast<FileBody*>(cls);
  const auto pos = static_cast<int64_t>(pos64);
  Resumer& resumer = *b->exchange.resumer;
  if (resumer.stopping()) return MHD_CONTENT_READER_END_WITH_ERROR;
  if (pos >= b->cut) {
    if (b->truncate) return MHD_CONTENT_READER_END_WITH_ERROR;  // closes, body cut short
    if (b->stall) {
      if (ClientGone(b->exchange.connection) ||
          !resumer.PauseUntil(b->exchange.connection, Resumer::Clock::now() + kStallCheck))
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
  if (Resumer::Clock::now() < due && !resumer.SleepUntil(due))
    return MHD_CONTENT_READER_END_WITH_ERROR;
  const int64_t want = std::min({b->cut - pos, b->pacer.PieceSize(kPiece), static_cast<int64_t>(max)});
  const ssize_t n = pread(b->fd, buf, static_cast<size_t>(want), pos);
  if (n <= 0) return MHD_CONTENT_READER_END_WITH_ERROR;  // the file shrank while being sent
  return n;
}

void FreeBody(void* cls) {
  auto* b = static_cast<FileBody*>(cls);
  close(b->fd);
  delete b;
}

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

HttpAnswer FileAnswer(const HttpExchange& exchange, const std::string& path,
                      const FileBehaviour& behaviour) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) close(fd);
    return StatusPage(404);
  }
  const int64_t size = st.st_size;
  const bool truncate = behaviour.truncate >= 0 && behaviour.truncate < size;
  const bool stall = behaviour.stall >= 0 && behaviour.stall < size;
  auto* body = new FileBody{fd,       size, truncate ? behaviour.truncate : stall ? behaviour.stall : size,
                            truncate, stall, behaviour.extra, Pacer(behaviour.rate), exchange};
  // Chunked without a known length; otherwise the file's length is announced
  // even when the body is cut short or runs over.
  const uint64_t length = behaviour.chunked ? MHD_SIZE_UNKNOWN
                                            : static_cast<uint64_t>(size + behaviour.extra);
  MHD_Response* r = MHD_create_response_from_callback(length, kPiece, &ReadBody, body, &FreeBody);
  MHD_add_response_header(r, "Content-Type", "application/octet-stream");
  MHD_add_response_header(r, "Cache-Control", "no-store");
  if (behaviour.extra > 0) {
    // The announced length is the file's; the library then sends the rest
    // beyond it, and the connection cannot carry another answer.
    MHD_set_response_options(r, MHD_RF_INSANITY_HEADER_CONTENT_LENGTH, MHD_RO_END);
    MHD_add_response_header(r, "Content-Length", std::to_string(size).c_str());
    MHD_add_response_header(r, "Connection", "close");
  }
  if (truncate || stall) MHD_add_response_header(r, "Connection", "close");
  return HttpAnswer{200, r, 0};
}

}  // namespace stub::server
