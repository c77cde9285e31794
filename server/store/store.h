// The request log behind one small interface, with two implementations:
// SQLite (a file, the embedded default) and PostgreSQL (several servers on
// one database). Writes are grouped: one writer thread commits every row
// queued meanwhile in one transaction and only then reports each row durable.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

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

// "YYYY-MM-DDTHH:MM:SS.mmmZ" in UTC.
std::string UtcTimestamp(std::chrono::system_clock::time_point t);
// A fresh event id: random per process, then a counter.
std::string NewEventId();

// Whether `location` names a PostgreSQL database ("postgresql://...",
// "postgres://...") rather than a SQLite file.
bool IsPostgresLocation(const std::string& location);

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
  // Deletes every request recorded before `day` (UTC, "YYYY-MM-DD"; that day
  // itself is kept) and sets `deleted` to the number deleted (also when it
  // fails part way). Deletes in short transactions of at most `chunk` rows
  // (or ids), oldest first, so a server writing to the same database waits
  // for none of them long. Rows still waiting in a spool are not touched.
  virtual bool DeleteBefore(const std::string& day, int64_t* deleted, std::string* error,
                            int chunk = kPruneChunk) = 0;
  static constexpr int kPruneChunk = 10000;
};

std::unique_ptr<Store> OpenSqliteStore(const std::string& path, bool create, std::string* error);
std::unique_ptr<Store> OpenPostgresStore(const std::string& url, bool create,
                                         const std::string& spool, std::string* error);

}  // namespace stub::server
