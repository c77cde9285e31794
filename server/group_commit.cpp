#include "server/group_commit.h"

namespace stub::server {

bool GroupCommit::Add(RecordedRequest& request, std::string* error) {
  Waiter me;
  me.request = &request;
  std::unique_lock<std::mutex> lock(mutex_);
  queue_.push_back(&me);
  for (;;) {
    if (me.done) break;
    if (writing_) {
      done_.wait(lock);
      continue;
    }
    // Lead: take the queue as it is now and write it while others gather.
    writing_ = true;
    std::vector<Waiter*> batch;
    while (!queue_.empty() && batch.size() < max_batch_) {
      batch.push_back(queue_.front());
      queue_.pop_front();
    }
    std::vector<RecordedRequest*> rows;
    rows.reserve(batch.size());
    for (Waiter* w : batch) rows.push_back(w->request);
    lock.unlock();
    std::string batch_error;
    const bool ok = writer_(rows, &batch_error);
    lock.lock();
    for (Waiter* w : batch) {
      w->done = true;
      w->ok = ok;
      if (!ok) w->error = batch_error;
    }
    writing_ = false;
    done_.notify_all();
  }
  if (!me.ok) *error = me.error;
  return me.ok;
}

}  // namespace stub::server
