#include "server/file_response.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace stub::server {
namespace {

constexpr int64_t kPiece = 64 << 10;

// Closes the file descriptor on every path out.
struct FileHandle {
  int fd;
  ~FileHandle() {
    if (fd >= 0) close(fd);
  }
};

std::string ChunkHeader(size_t n) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%zx\r\n", n);
  return buf;
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

bool Pacer::WaitFor(Connection& conn, int64_t sent_so_far) const {
  if (rate_ <= 0) return true;
  const auto wait = start_ + DueAfter(sent_so_far) - std::chrono::steady_clock::now();
  return wait <= std::chrono::steady_clock::duration::zero() || conn.Pause(wait);
}

void SendStatusPage(Connection& conn, int status) {
  if (status == 204 || status == 304) {
    conn.SendHead(status, {{"Cache-Control", "no-store"}});
    return;
  }
  const std::string title = std::to_string(status) + " " + ReasonPhrase(status);
  conn.SendSimple(status, "text/html; charset=utf-8",
                  "<html><head><title>" + title + "</title></head><body><h1>" + title +
                      "</h1></body></html>");
}

void SendFile(Connection& conn, const std::string& path, const FileBehaviour& b) {
  FileHandle file{open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  struct stat st;
  if (file.fd < 0 || fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    SendStatusPage(conn, 404);
    return;
  }
  const int64_t size = st.st_size;
  const bool truncate = b.truncate >= 0 && b.truncate < size;
  const bool stall = b.stall >= 0 && b.stall < size;
  const int64_t cut = truncate ? b.truncate : stall ? b.stall : size;
  // After a short or overlong body the connection cannot carry another answer.
  if (truncate || stall || b.extra > 0) conn.SetClose();

  Headers headers = {{"Content-Type", "application/octet-stream"}};
  if (b.chunked) headers.emplace_back("Transfer-Encoding", "chunked");
  else headers.emplace_back("Content-Length", std::to_string(size));
  headers.emplace_back("Cache-Control", "no-store");
  if (!conn.SendHead(200, headers) || conn.head_only()) return;

  const Pacer pacer(b.rate);
  std::vector<char> buf(static_cast<size_t>(pacer.PieceSize(kPiece)));
  for (int64_t sent = 0; sent < cut;) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(cut - sent, pacer.PieceSize(kPiece)));
    const ssize_t n = pread(file.fd, buf.data(), want, sent);
    if (n <= 0) {  // the file shrank while being sent
      conn.SetClose();
      return;
    }
    const std::string_view data(buf.data(), static_cast<size_t>(n));
    const bool ok = b.chunked ? conn.Send(ChunkHeader(data.size()) + std::string(data) + "\r\n")
                              : conn.Send(data);
    if (!ok) return;
    sent += n;
    if (sent < cut && !pacer.WaitFor(conn, sent)) return;
  }
  if (truncate) return;  // the connection closes with the body cut short
  if (stall) {
    conn.WaitUntilGone();
    return;
  }
  if (b.chunked) conn.Send("0\r\n\r\n");
  for (int64_t left = b.extra; left > 0;) {
    const int64_t n = std::min(left, kPiece);
    if (!conn.Send(std::string(static_cast<size_t>(n), 'x'))) return;
    left -= n;
  }
}

}  // namespace stub::server
