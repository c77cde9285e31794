// Group commit: callers queue their rows, the first waiting caller writes the
// whole queue in one transaction and wakes the others with the outcome. One
// durable commit then serves many concurrent requests.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "server/store.h"

namespace stub::server {

class GroupCommit {
 public:
  // Writes a batch durably, all or nothing.
  using Writer = std::function<bool(const std::vector<RecordedRequest*>&, std::string* error)>;
  explicit GroupCommit(Writer writer, size_t max_batch = 512)
      : writer_(std::move(writer)), max_batch_(max_batch) {}

  // Returns once `request` has been written (or its batch failed).
  bool Add(RecordedRequest& request, std::string* error);

 private:
  struct Waiter {
    RecordedRequest* request = nullptr;
    bool done = false;
    bool ok = false;
    std::string error;
  };
  Writer writer_;
  const size_t max_batch_;
  std::mutex mutex_;
  std::condition_variable done_;
  std::deque<Waiter*> queue_;
  bool writing_ = false;
};

}  // namespace stub::server
