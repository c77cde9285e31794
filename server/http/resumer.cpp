#include "server/http/resumer.h"

#include <microhttpd.h>

namespace stub::server {

Resumer::Resumer() : thread_([this] { Run(); }) {}

Resumer::~Resumer() {
  StopAll();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

bool Resumer::PauseUntil(MHD_Connection* connection, Clock::time_point due) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_) return false;
  // Resuming is only processed after the current callback returns, so the
  // order of these two calls does not race with the waking thread.
  MHD_suspend_connection(connection);
  const bool first = paused_.empty() || due < paused_.begin()->first;
  paused_.emplace(due, connection);
  if (first) wake_.notify_all();
  return true;
}

bool Resumer::Pause(MHD_Connection* connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_) return false;
  MHD_suspend_connection(connection);  // before anyone can wake it, as above
  waiting_.insert(connection);
  return true;
}

void Resumer::Wake(MHD_Connection* connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  // After a stop the set is empty: the connection may be gone by now.
  if (waiting_.erase(connection) != 0) MHD_resume_connection(connection);
}

bool Resumer::stopping() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stopping_;
}

bool Resumer::SleepUntil(Clock::time_point due) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !stop_.wait_until(lock, due, [this] { return stopping_; });
}

void Resumer::StopAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  stopping_ = true;
  stop_.notify_all();
  for (const auto& [due, connection] : paused_) MHD_resume_connection(connection);
  paused_.clear();
  for (MHD_Connection* connection : waiting_) MHD_resume_connection(connection);
  waiting_.clear();
}

void Resumer::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!quit_) {
    if (paused_.empty()) {
      wake_.wait(lock);
      continue;
    }
    const auto due = paused_.begin()->first;
    if (Clock::now() < due) {
      wake_.wait_until(lock, due);
      continue;
    }
    MHD_resume_connection(paused_.begin()->second);
    paused_.erase(paused_.begin());
  }
}

}  // namespace stub::server
