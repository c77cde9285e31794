// The request log behind one small interface, with two implementations:
// SQLite (a file, the embedded default) and PostgreSQL (several servers on
// one database). Writes are grouped: one writer thread commits every row
// queued meanwhile in one transaction and only then reports each row durable.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/http/query.h"

namespace stub::server {

struct RecordedRequest {
  int64_t id = 0;        // order of arrival in the store, from 1
  std::string event_id;  // unique per request; replays of it are ignored
  std::string time;      // UTC, "2024-05-01T08:30:00.123Z"
  std::string client;    // peer address
  std::string method;    // valid UTF-8
  std::string target;    // raw bytes exactly as received
  QueryFields fields;    // decoded query fields
};

// One run of a stub (its requests with one TimeID and one PcId, an absent
// PcId counting as empty; requests without a Key or a TimeID belong to no
// run) reduced by the database to what the run figures need. Ids are the
// request ids of the rows named, 0 when there is none; "first" and "last"
// are in order of arrival. Only requests other than "Key=Info" count as
// reports; a report whose Data starts with "GetNetIsnull=" is a fallback.
struct RunSummary {
  std::string first_time;    // time of the run's first request
  std::string channel, version, os, bits;  // first non-empty Channel, SoftVer, OS, OSBit
  bool info = false;         // asked for the reply ("Key=Info")
  bool other_report = false; // sent a report that is not a fallback
  bool fallback = false, window_shown = false, begun = false, no_folder = false, browser = false,
       reused = false;       // GetNetIsnull=..., frmLoad, BeginDown, TestEmp=Not, Image4_Click or
                             // SaveExe=Null, IsDownEmp=OK
  int64_t first_retry = 0;   // first AutoReDown
  int64_t first_install = 0, last_install = 0;  // DownFinish=OK:... or CheackFinish=OK
  int64_t last_begin = 0;    // BeginDown
  int64_t last_finish = 0;   // DownFinish=OK:... or DownFinish=Not:...
  int64_t last_failure = 0;  // DownFinish=Not:...
  std::string install_time;  // time of the first install or IsDownEmp=OK report, "" when none
  std::vector<std::string> failures;  // Data of each DownFinish=Not:... report, in order
};

// "YYYY-MM-DDTHH:MM:SS.mmmZ" in UTC.
std::string UtcTimestamp(std::chrono::system_clock::time_point t);
// A fresh event id: random per process, then a counter.
std::string NewEventId();

// Whether `location` names a PostgreSQL database ("postgresql://...",
// "postgres://...") rather than a SQLite file.
bool IsPostgresLocation(const std::string& location);

// What a store has been doing, for the admin address's /metrics and /healthz.
struct StoreHealth {
  bool database_ok = true;     // the last write reached the database (or nothing was written yet)
  std::string problem;         // one line when not: why
  uint64_t spool_rows = 0;     // requests waiting in the spool for the database
  uint64_t batches = 0;        // batches committed to the database
  uint64_t rows_committed = 0; // requests in those batches
  uint64_t rows_spooled = 0;   // requests appended to the spool
  uint64_t refusals = 0;       // batches the database refused (their requests answered 500)
  double commit_seconds = 0;   // time spent in those commits, in all
  double last_commit_seconds = 0;
  uint64_t largest_batch = 0;  // rows in the largest committed batch
};

// The counters behind StoreHealth, and the one line on stderr each change of
// the database's state gets (never one per request). Thread-safe.
class StoreStatus {
 public:
  // A batch of `rows` committed in `seconds`. The first after an outage or
  // a refusal says so once.
  void Committed(size_t rows, double seconds);
  // `rows` went to the spool, which now holds `waiting`.
  void Spooled(size_t rows, uint64_t waiting);
  void SpoolDepth(uint64_t waiting);
  // The database cannot be reached: says so once, until it is back.
  void Unreachable(const std::string& why, const std::string& spool);
  // The database is reachable again (the spool may still be replaying).
  void Reachable(uint64_t waiting);
  // The database (or, with `spool`, the spool) refused a batch: counted, and
  // said once until a commit works.
  void Refused(const std::string& why, bool spool = false);
  StoreHealth Snapshot() const;

 private:
  enum class State { kOk, kUnreachable, kRefusing };
  mutable std::mutex mutex_;
  StoreHealth health_;
  State state_ = State::kOk;
};

class Store {
 public:
  // Opens the store at `location`. With `create`, a missing SQLite file, table
  // or PostgreSQL schema is made; without it, they must exist. `spool` is the
  // local file where PostgreSQL writes wait while the database is away
  // (ignored for SQLite).
  static std::unique_ptr<Store> Open(const std::string& location, bool create, std::string* error,
                                     const std::string& spool = "");
  virtual ~Store() = default;

  // The outcome of one write: ok once the row is durable, else why not.
  using Done = std::function<void(bool ok, const std::string& error)>;
  // Queues one request for recording and sets its id (0 when it waits in the
  // spool); `done` runs on the store's writer thread (or at once when the
  // store cannot write) and must not block. Thread-safe.
  virtual void Submit(std::shared_ptr<RecordedRequest> request, Done done) = 0;
  // Records one request; returns once the row is durable.
  bool Add(RecordedRequest& request, std::string* error);
  // Calls `fn` for every recorded request in id order.
  virtual bool ForEach(const std::function<void(const RecordedRequest&)>& fn,
                       std::string* error) = 0;
  // Calls `fn` for every run (see RunSummary), in no particular order. The
  // database does the reduction on a read connection of its own, so a
  // reading never waits for the writer nor holds it up, and memory here stays
  // bounded by one run at a time whatever the number of rows.
  virtual bool ForEachRun(const std::function<void(const RunSummary&)>& fn, std::string* error) = 0;
  // Deletes every request recorded before `day` (UTC, "YYYY-MM-DD"; that day
  // itself is kept) and sets `deleted` to the number deleted (also when it
  // fails part way). Deletes in short transactions of at most `chunk` rows
  // (or ids), oldest first, so a server writing to the same database waits
  // for none of them long. Rows still waiting in a spool are not touched.
  virtual bool DeleteBefore(const std::string& day, int64_t* deleted, std::string* error,
                            int chunk = kPruneChunk) = 0;
  static constexpr int kPruneChunk = 10000;
  // The counters and state of the writes so far. Thread-safe.
  virtual StoreHealth Health() const = 0;
};

std::unique_ptr<Store> OpenSqliteStore(const std::string& path, bool create, std::string* error);
std::unique_ptr<Store> OpenPostgresStore(const std::string& url, bool create,
                                         const std::string& spool, std::string* error);

}  // namespace stub::server
