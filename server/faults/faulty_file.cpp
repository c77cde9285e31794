#include "server/faults/faulty_file.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>

#include "server/http/file_answer.h"

namespace stub::server {
namespace {

// How often a stalled body looks whether its client has left.
constexpr auto kStallCheck = std::chrono::milliseconds(200);

// The file's body as the faults shape it.
class FaultyBody : public BodySource {
 public:
  FaultyBody(std::unique_ptr<FileSource> file, const FileFaults& f, const Exchange& exchange)
      : file_(std::move(file)),
        size_(file_->size()),
        truncate_(f.truncate >= 0 && f.truncate < size_),
        stall_(f.stall >= 0 && f.stall < size_),
        cut_(truncate_ ? f.truncate : stall_ ? f.stall : size_),
        extra_(f.extra),
        pacer_(f.rate),
        exchange_(exchange) {}

  int64_t size() const { return size_; }
  bool cut_short() const { return truncate_ || stall_; }

  int64_t Read(uint64_t pos64, char* buf, size_t max) override {
    const auto pos = static_cast<int64_t>(pos64);
    if (exchange_.stopping()) return kFailed;
    if (pos >= cut_) {
      if (truncate_) return kFailed;  // closes, body cut short
      if (stall_) {
        if (exchange_.ClientGone() || !exchange_.PauseUntil(Resumer::Clock::now() + kStallCheck))
          return kFailed;
        return 0;
      }
      const int64_t end = size_ + extra_;
      if (pos >= end) return kEnd;
      const size_t n = static_cast<size_t>(std::min<int64_t>(end - pos, static_cast<int64_t>(max)));
      std::memset(buf, 'x', n);
      return static_cast<int64_t>(n);
    }
    const auto due = pacer_.start() + pacer_.DueAfter(pos);
    // The pacing wait blocks this pool thread (paced bodies are a test mode):
    // with the connection suspended instead, Wine's URL download saw no
    // progress on a trickling body.
    if (Resumer::Clock::now() < due && !exchange_.SleepUntil(due)) return kFailed;
    const int64_t want = std::min(
        {cut_ - pos, pacer_.PieceSize(static_cast<int64_t>(kBodyPiece)), static_cast<int64_t>(max)});
    return file_->Read(pos64, buf, static_cast<size_t>(want));
  }

 private:
  const std::unique_ptr<FileSource> file_;
  const int64_t size_;    // the file's length
  const bool truncate_;   // close after `cut_`
  const bool stall_;      // go silent after `cut_`
  const int64_t cut_;     // body bytes taken from the file
  const int64_t extra_;   // bytes after the file, beyond the announced length
  const Pacer pacer_;
  const Exchange exchange_;
};

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

Answer FaultyFileAnswer(const Exchange& exchange, const std::string& path, const FileFaults& faults) {
  std::unique_ptr<FileSource> file = FileSource::Open(path, exchange);
  if (!file) return StatusPage(404);
  auto body = std::make_unique<FaultyBody>(std::move(file), faults, exchange);
  const int64_t size = body->size();
  Headers headers;
  // The announced length is the file's; the body then runs past it.
  if (faults.extra > 0) headers.emplace_back("Content-Length", std::to_string(size));
  if (faults.extra > 0 || body->cut_short()) headers.emplace_back("Connection", "close");
  // Chunked without a known length; otherwise the file's length is announced
  // even when the body is cut short or runs over.
  const std::optional<uint64_t> length =
      faults.chunked ? std::nullopt : std::optional<uint64_t>(static_cast<uint64_t>(size + faults.extra));
  return BodyAnswer(std::move(body), length, headers);
}

}  // namespace stub::server
