// Group commit: callers queue their rows and one writer thread writes
// whatever is queued in one transaction, then reports the outcome to every
// row of the batch. One durable commit then serves every request that
// arrived while the previous one was being written.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/store/store.h"

namespace stub::server {

class GroupCommit {
 public:
  // Writes a batch durably, all or nothing.
  using Writer = std::function<bool(const std::vector<RecordedRequest*>&, std::string* error)>;
  explicit GroupCommit(Writer writer, size_t max_batch = 512);
  // Stops the writer after the queue is written (see Stop).
  ~GroupCommit();
  GroupCommit(const GroupCommit&) = delete;
  GroupCommit& operator=(const GroupCommit&) = delete;

  // Queues `request`; `done` runs on the writer thread once its batch is
  // written or has failed. Once stopped, `done` runs at once with an error.
  void Submit(std::shared_ptr<RecordedRequest> request, Store::Done done);
  // Writes what is queued, then ends the writer thread. The owner calls it
  // before anything the writer uses goes away. Safe to call more than once.
  void Stop();

 private:
  struct Entry {
    std::shared_ptr<RecordedRequest> request;
    Store::Done done;
  };
  void Run();

  Writer writer_;
  const size_t max_batch_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Entry> queue_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace stub::server
