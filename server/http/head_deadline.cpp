#include "server/http/head_deadline.h"

#include <sys/socket.h>

namespace stub::server {

HeadDeadlines::HeadDeadlines(Clock::duration span) : span_(span) {
  if (span_ > Clock::duration::zero()) thread_ = std::thread([this] { Run(); });
}

HeadDeadlines::~HeadDeadlines() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void HeadDeadlines::Arm(const void* key, int fd) {
  if (span_ <= Clock::duration::zero()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  const auto due = Clock::now() + span_;
  auto [it, added] = armed_.try_emplace(key, due, fd);
  if (!added) {
    due_.erase({it->second.first, key});
    it->second = {due, fd};
  }
  due_.emplace(due, key);
  // No wake-up: every deadline is one span from when it was set, so none
  // comes before those already waiting, and an idle watchdog looks again
  // after one span anyway (a wake-up per connection would cost more).
}

void HeadDeadlines::Disarm(const void* key) {
  if (span_ <= Clock::duration::zero()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = armed_.find(key);
  if (it == armed_.end()) return;
  due_.erase({it->second.first, key});
  armed_.erase(it);
}

void HeadDeadlines::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!quit_) {
    if (due_.empty()) {
      changed_.wait_for(lock, span_);
      continue;
    }
    const auto [due, key] = *due_.begin();
    if (Clock::now() < due) {
      changed_.wait_until(lock, due);
      continue;
    }
    // Still armed, so the library has not closed the socket yet (it disarms
    // first, under this lock): shutting it down makes the connection read an
    // end and close.
    shutdown(armed_[key].second, SHUT_RDWR);
    armed_.erase(key);
    due_.erase(due_.begin());
  }
}

}  // namespace stub::server
