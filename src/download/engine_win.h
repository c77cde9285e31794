// The download engine on Windows: the system's URL download service, run on a
// worker thread so the window keeps answering; progress comes back to the
// window's thread in order.
#pragma once

#include <cstdint>
#include <string>

#include "download/ports.h"

namespace stub {

class URLDownFile final : public DownloadEngine {
 public:
  // A transfer that reports nothing for `stallSeconds` is aborted.
  explicit URLDownFile(int32_t stallSeconds) : stallSeconds_(stallSeconds) {}
  TransferEnd DownloadFile(const std::u16string& url, const std::u16string& path,
                           ProgressSink& sink) override;

 private:
  int32_t stallSeconds_;
};

}  // namespace stub
