#include "server/http/file_answer.h"

#include <fcntl.h>
#include <microhttpd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace stub::server {
namespace {

ssize_t ReadBody(void* cls, uint64_t pos, char* buf, size_t max) {
  const int64_t n = static_cast<BodySource*>(cls)->Read(pos, buf, max);
  if (n == BodySource::kEnd) return MHD_CONTENT_READER_END_OF_STREAM;
  if (n < 0) return MHD_CONTENT_READER_END_WITH_ERROR;
  return static_cast<ssize_t>(n);
}

// The response owns its body from its creation: the library frees it here.
void FreeBody(void* cls) { const std::unique_ptr<BodySource> body(static_cast<BodySource*>(cls)); }

}  // namespace

Answer BodyAnswer(std::unique_ptr<BodySource> body, std::optional<uint64_t> length, const Headers& headers) {
  Response r(MHD_create_response_from_callback(length ? *length : MHD_SIZE_UNKNOWN, kBodyPiece, &ReadBody,
                                               body.get(), &FreeBody));
  if (!r) return Answer{200, nullptr};
  body.release();  // the response's now
  MHD_add_response_header(r.get(), "Content-Type", "application/octet-stream");
  MHD_add_response_header(r.get(), "Cache-Control", "no-store");
  for (const auto& [name, value] : headers) {
    // A length other than the body's: the library sends the body all the
    // same, and the connection cannot carry another answer after it.
    if (name == "Content-Length")
      MHD_set_response_options(r.get(), MHD_RF_INSANITY_HEADER_CONTENT_LENGTH, MHD_RO_END);
    MHD_add_response_header(r.get(), name.c_str(), value.c_str());
  }
  return Answer{200, std::move(r)};
}

std::unique_ptr<FileSource> FileSource::Open(const std::string& path, const Exchange& exchange) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return nullptr;
  }
  return std::make_unique<FileSource>(fd, st.st_size, exchange);
}

FileSource::~FileSource() { close(fd_); }

int64_t FileSource::Read(uint64_t pos64, char* buf, size_t max) {
  const auto pos = static_cast<int64_t>(pos64);
  if (exchange_.stopping()) return kFailed;
  if (pos >= size_) return kEnd;
  const int64_t want = std::min({size_ - pos, static_cast<int64_t>(kBodyPiece), static_cast<int64_t>(max)});
  const ssize_t n = pread(fd_, buf, static_cast<size_t>(want), pos);
  return n > 0 ? n : kFailed;  // the file shrank while being sent
}

Answer FileAnswer(const Exchange& exchange, const std::string& path) {
  std::unique_ptr<FileSource> file = FileSource::Open(path, exchange);
  if (!file) return StatusPage(404);
  const auto length = static_cast<uint64_t>(file->size());
  return BodyAnswer(std::move(file), length);
}

}  // namespace stub::server
