// The request log behind one small interface, with two implementations:
// SQLite (a file, the embedded default) and PostgreSQL (several servers on
// one database). Writes are grouped: a caller's Add returns once its row is
// durable, and concurrent callers share one commit.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "server/query.h"

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

  // Records one request and sets its id (0 when it waits in the spool).
  // Returns once the row is durable. Thread-safe.
  virtual bool Add(RecordedRequest& request, std::string* error) = 0;
  // Calls `fn` for every recorded request in id order.
  virtual bool ForEach(const std::function<void(const RecordedRequest&)>& fn,
                       std::string* error) = 0;
};

std::unique_ptr<Store> OpenSqliteStore(const std::string& path, bool create, std::string* error);
std::unique_ptr<Store> OpenPostgresStore(const std::string& url, bool create,
                                         const std::string& spool, std::string* error);

}  // namespace stub::server
