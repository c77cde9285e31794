#include "server/http_connection.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace stub::server {
namespace {

constexpr int kIdleTimeoutMs = 5000;    // between requests on a kept-alive connection
constexpr int kReadTimeoutMs = 10000;   // between the pieces of one request
constexpr int kWriteTimeoutMs = 30000;  // a client that takes nothing for this long is dropped
constexpr size_t kReadPiece = 64 << 10;

// Position just past the empty line that ends a head whose request line ends
// at `line_end`, or npos. Counts the header lines on the way.
size_t FindHeadEnd(const std::string& in, size_t line_end, size_t& lines) {
  lines = 0;
  for (size_t p = line_end; p != std::string::npos; p = in.find('\n', p + 1)) {
    if (p + 1 < in.size() && in[p + 1] == '\n') return p + 2;
    if (p + 2 < in.size() && in[p + 1] == '\r' && in[p + 2] == '\n') return p + 3;
    ++lines;
  }
  return std::string::npos;
}

}  // namespace

Connection::Connection(int fd, int wake_fd, std::string client)
    : fd_(fd), wake_fd_(wake_fd), client_(std::move(client)) {}

Connection::~Connection() { close(fd_); }

void Connection::Finish() {
  // Closing a socket that still holds unread input resets the connection,
  // which can destroy an answer the client has not read yet. So: announce the
  // end, then read and drop what still comes until the client closes too.
  shutdown(fd_, SHUT_WR);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  char scratch[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || PollSocket(POLLIN, static_cast<int>(left.count())) <= 0) return;
    const ssize_t n = recv(fd_, scratch, sizeof scratch, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) return;
  }
}

int Connection::PollSocket(short events, int timeout_ms) {
  for (;;) {
    pollfd fds[2] = {{fd_, events, 0}, {wake_fd_, POLLIN, 0}};
    const int n = poll(fds, 2, timeout_ms);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fds[0].revents = POLLERR;
    if (fds[1].revents) return -1;
    return fds[0].revents;
  }
}

bool Connection::stopping() const {
  pollfd wake = {wake_fd_, POLLIN, 0};
  return poll(&wake, 1, 0) > 0;
}

Connection::Fill Connection::FillBuffer(int timeout_ms) {
  const int ev = PollSocket(POLLIN, timeout_ms);
  if (ev < 0) return Fill::kStop;
  if (ev == 0) return Fill::kTimeout;
  char buf[kReadPiece];
  for (;;) {
    const ssize_t n = recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) {
      in_.append(buf, static_cast<size_t>(n));
      return Fill::kData;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Fill::kTimeout;
    return Fill::kClosed;
  }
}

Connection::HeadResult Connection::ReadHead(std::string& head) {
  for (;;) {
    // Empty lines before a request line are allowed and skipped.
    const size_t start = in_.find_first_not_of("\r\n");
    in_.erase(0, start == std::string::npos ? in_.size() : start);

    const size_t line_end = in_.find('\n');
    if (line_end == std::string::npos ? in_.size() > kMaxRequestLine
                                      : line_end > kMaxRequestLine)
      return HeadResult::kLineTooLong;
    if (line_end != std::string::npos) {
      size_t lines = 0;
      const size_t end = FindHeadEnd(in_, line_end, lines);
      if (end != std::string::npos) {
        if (end - line_end > kMaxHeaderBlock || lines > kMaxHeaderCount + 1)
          return HeadResult::kHeadTooLong;
        head.assign(in_, 0, end);
        in_.erase(0, end);
        return HeadResult::kOk;
      }
      if (in_.size() - line_end > kMaxHeaderBlock || lines > kMaxHeaderCount + 1)
        return HeadResult::kHeadTooLong;
    }

    switch (FillBuffer(in_.empty() ? kIdleTimeoutMs : kReadTimeoutMs)) {
      case Fill::kData:
        continue;
      case Fill::kStop:
        return HeadResult::kEnded;
      case Fill::kClosed:
      case Fill::kTimeout:
        // A client that sent part of a request and then stopped still gets
        // that part handled (and recorded); the connection closes after it.
        if (in_.empty()) return HeadResult::kEnded;
        head.swap(in_);
        in_.clear();
        broken_input_ = true;
        return HeadResult::kOk;
    }
  }
}

bool Connection::DiscardBody(int64_t length) {
  while (length > 0) {
    if (in_.empty() && FillBuffer(kReadTimeoutMs) != Fill::kData) return false;
    const size_t take = static_cast<size_t>(std::min<int64_t>(length, in_.size()));
    in_.erase(0, take);
    length -= static_cast<int64_t>(take);
  }
  return true;
}

bool Connection::Send(std::string_view data) {
  while (!broken_ && !data.empty()) {
    const ssize_t n = send(fd_, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      data.remove_prefix(static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (PollSocket(POLLOUT, kWriteTimeoutMs) <= 0) broken_ = true;
    } else {
      broken_ = true;
    }
  }
  return !broken_;
}

bool Connection::SendHead(int status, const Headers& headers) {
  return Send(ResponseHead(status, headers, !keep_alive()));
}

bool Connection::SendSimple(int status, std::string_view content_type, std::string_view body) {
  Headers headers;
  if (!content_type.empty()) headers.emplace_back("Content-Type", std::string(content_type));
  headers.emplace_back("Content-Length", std::to_string(body.size()));
  headers.emplace_back("Cache-Control", "no-store");
  if (!SendHead(status, headers)) return false;
  return head_only_ || Send(body);
}

bool Connection::Pause(std::chrono::steady_clock::duration duration) {
  using namespace std::chrono;
  const auto deadline = steady_clock::now() + duration;
  while (!broken_) {
    const auto left = duration_cast<milliseconds>(deadline - steady_clock::now() + 999us);
    if (left.count() <= 0) return true;
    const int ev = PollSocket(0, static_cast<int>(std::min<int64_t>(left.count(), 1 << 30)));
    if (ev < 0) return false;
    if (ev > 0) broken_ = true;  // hang-up or error on the socket
  }
  return false;
}

void Connection::WaitUntilGone() {
  keep_alive_ = false;
  char scratch[4096];
  for (;;) {
    const int ev = PollSocket(POLLIN, -1);
    if (ev < 0) return;
    const ssize_t n = recv(fd_, scratch, sizeof scratch, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) return;
  }
}

void Connection::BeginRequest(bool keep_alive, bool head_only) {
  keep_alive_ = keep_alive && !broken_input_;
  head_only_ = head_only;
}

}  // namespace stub::server
