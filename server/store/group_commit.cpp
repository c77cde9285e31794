#include "server/store/group_commit.h"

namespace stub::server {

GroupCommit::GroupCommit(Writer writer, size_t max_batch)
    : writer_(std::move(writer)), max_batch_(max_batch), thread_([this] { Run(); }) {}

GroupCommit::~GroupCommit() { Stop(); }

void GroupCommit::Submit(std::shared_ptr<RecordedRequest> request, Store::Done done) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!stopping_) {
      queue_.push_back({std::move(request), std::move(done)});
      if (queue_.size() == 1) wake_.notify_one();
      return;
    }
  }
  done(false, "cannot record request: the store is closing");
}

void GroupCommit::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void GroupCommit::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopping, and everything is written
    // Take the queue as it is now and write it while the next batch gathers.
    std::vector<Entry> batch;
    while (!queue_.empty() && batch.size() < max_batch_) {
      batch.push_back(std::move(queue_.front()));
      queue_.pop_front();
    }
    lock.unlock();
    std::vector<RecordedRequest*> rows;
    rows.reserve(batch.size());
    for (const Entry& e : batch) rows.push_back(e.request.get());
    std::string error;
    const bool ok = writer_(rows, &error);
    for (Entry& e : batch) e.done(ok, ok ? std::string() : error);
    batch.clear();  // the callbacks' captures go before the lock is taken again
    lock.lock();
  }
}

}  // namespace stub::server
