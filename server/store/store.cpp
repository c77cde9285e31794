// What every store shares: choosing the database by its location, a write
// that waits for its row, and the event id and time each row carries.
#include "server/store/store.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <random>

namespace stub::server {

bool IsPostgresLocation(const std::string& location) {
  return location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0;
}

std::unique_ptr<Store> Store::Open(const std::string& location, bool create, std::string* error,
                                   const std::string& spool) {
  if (IsPostgresLocation(location))
    return OpenPostgresStore(location, create, spool.empty() ? "report-server.spool" : spool, error);
  return OpenSqliteStore(location, create, error);
}

bool Store::Add(RecordedRequest& request, std::string* error) {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false, result = false;
  // The caller's row itself, not a copy: it stays alive while this waits.
  Submit(std::shared_ptr<RecordedRequest>(std::shared_ptr<void>(), &request),
         [&](bool ok, const std::string& why) {
           std::lock_guard<std::mutex> lock(mutex);
           if (!ok) *error = why;
           result = ok;
           finished = true;
           done.notify_one();
         });
  std::unique_lock<std::mutex> lock(mutex);
  done.wait(lock, [&] { return finished; });
  return result;
}

namespace {
// The first line of a message (libpq's add a hint or the statement on further lines).
std::string FirstLine(const std::string& message) {
  std::string line = message.substr(0, message.find_first_of("\r\n"));
  for (char& c : line) if (c == '\t') c = ' ';
  return line;
}

void Say(const char* severity, const std::string& message) {
  std::fprintf(stderr, "report-server: %s: %s\n", severity, message.c_str());
}
}  // namespace

void StoreStatus::Committed(size_t rows, double seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++health_.batches;
  health_.rows_committed += rows;
  health_.commit_seconds += seconds;
  health_.last_commit_seconds = seconds;
  if (rows > health_.largest_batch) health_.largest_batch = rows;
  if (state_ == State::kRefusing) Say("notice", "the database accepts writes again");
  if (state_ == State::kUnreachable) Say("notice", "database reachable again; recording into it");
  state_ = State::kOk;
  health_.database_ok = true;
  health_.problem.clear();
}

void StoreStatus::Spooled(size_t rows, uint64_t waiting) {
  std::lock_guard<std::mutex> lock(mutex_);
  health_.rows_spooled += rows;
  health_.spool_rows = waiting;
}

void StoreStatus::SpoolDepth(uint64_t waiting) {
  std::lock_guard<std::mutex> lock(mutex_);
  health_.spool_rows = waiting;
}

void StoreStatus::Unreachable(const std::string& why, const std::string& spool) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (state_ != State::kUnreachable)
    Say("warning", "database unreachable (" + FirstLine(why) + "); requests wait in the spool " + spool +
                       " until it is back");
  state_ = State::kUnreachable;
  health_.database_ok = false;
  health_.problem = "database unreachable, spooling";
}

void StoreStatus::Reachable(uint64_t waiting) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (state_ == State::kUnreachable)
    Say("notice", "database reachable again; writing the " + std::to_string(waiting) +
                      " spooled requests to it, then recording into it");
  state_ = State::kOk;
  health_.database_ok = true;
  health_.problem.clear();
}

void StoreStatus::Refused(const std::string& why, bool spool) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++health_.refusals;
  const std::string what = spool ? "the spool cannot be written" : "the database refuses writes";
  if (state_ != State::kRefusing) Say("error", what + " (" + FirstLine(why) + "); requests are answered 500");
  state_ = State::kRefusing;
  health_.database_ok = false;
  health_.problem = (spool ? "spool cannot be written: " : "database refuses writes: ") + FirstLine(why);
}

StoreHealth StoreStatus::Snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return health_;
}

std::string NewEventId() {
  static const uint64_t process = [] {
    std::random_device rd;
    return (static_cast<uint64_t>(rd()) << 32) ^ rd();
  }();
  static std::atomic<uint64_t> counter{0};
  char buf[40];
  std::snprintf(buf, sizeof buf, "%016llx%016llx", static_cast<unsigned long long>(process),
                static_cast<unsigned long long>(++counter));
  return buf;
}

std::string UtcTimestamp(std::chrono::system_clock::time_point t) {
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(t.time_since_epoch()).count();
  std::time_t secs = static_cast<std::time_t>(ms / 1000);
  int millis = static_cast<int>(ms % 1000);
  if (millis < 0) millis += 1000, --secs;
  std::tm tm{};
  gmtime_r(&secs, &tm);
  char buf[80];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, millis);
  return buf;
}

}  // namespace stub::server
