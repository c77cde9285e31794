// Deadlines for reading requests: a connection must deliver a whole request
// within a fixed time of opening (or of its previous answer), however it
// trickles the bytes in; when it has not, its socket is shut down and the
// library closes the connection. An idle time-out alone lets a client hold a
// connection for ever with one byte every little while.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

namespace stub::server {

class HeadDeadlines {
 public:
  using Clock = std::chrono::steady_clock;
  // `span` 0 keeps no deadline at all.
  explicit HeadDeadlines(Clock::duration span);
  ~HeadDeadlines();
  HeadDeadlines(const HeadDeadlines&) = delete;
  HeadDeadlines& operator=(const HeadDeadlines&) = delete;

  // Starts (or starts again) the time of connection `key` on socket `fd`.
  // The caller disarms the key before the socket is closed.
  void Arm(const void* key, int fd);
  // The request of `key` has arrived whole, or its connection ends.
  void Disarm(const void* key);

 private:
  void Run();

  const Clock::duration span_;
  std::mutex mutex_;
  std::condition_variable changed_;  // only for the end
  std::map<const void*, std::pair<Clock::time_point, int>> armed_;  // key: due, socket
  std::set<std::pair<Clock::time_point, const void*>> due_;        // the same, soonest first
  bool quit_ = false;
  std::thread thread_;
};

}  // namespace stub::server
