// Paused connections of the HTTP daemon and the thread that wakes them: a
// delayed answer or a throttled body suspends its connection until a due
// time, an answer waiting for its row's commit until another thread wakes
// it; a stop wakes every one at once and refuses new pauses.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <set>
#include <mutex>
#include <thread>

struct MHD_Connection;

namespace stub::server {

class Resumer {
 public:
  using Clock = std::chrono::steady_clock;
  Resumer();
  ~Resumer();
  Resumer(const Resumer&) = delete;
  Resumer& operator=(const Resumer&) = delete;

  // Suspends `connection` until `due`. Call only from the connection's own
  // library callback. False (nothing suspended) once stopping.
  bool PauseUntil(MHD_Connection* connection, Clock::time_point due);
  // Suspends `connection` until Wake(connection) or a stop; same rules.
  bool Pause(MHD_Connection* connection);
  // Resumes `connection` if Pause still holds it; any thread.
  void Wake(MHD_Connection* connection);
  bool stopping() const;
  // Blocks the calling thread until `due`; false when a stop comes first.
  bool SleepUntil(Clock::time_point due);
  // Resumes every paused connection now and refuses later pauses.
  void StopAll();

 private:
  void Run();

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable stop_;
  std::multimap<Clock::time_point, MHD_Connection*> paused_;
  std::set<MHD_Connection*> waiting_;  // paused until woken
  bool stopping_ = false;
  bool quit_ = false;
  std::thread thread_;
};

}  // namespace stub::server
