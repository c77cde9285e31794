// The request log: one SQLite table, written by the server (one writer at a
// time) and read by the "events" command, also while the server runs.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "server/query.h"

struct sqlite3;
struct sqlite3_stmt;

namespace stub::server {

struct RecordedRequest {
  int64_t id = 0;       // order of arrival, from 1
  std::string time;     // UTC, "2024-05-01T08:30:00.123Z"
  std::string client;   // peer address
  std::string method;   // valid UTF-8
  std::string target;   // raw bytes exactly as received
  QueryFields fields;   // decoded query fields
};

// "YYYY-MM-DDTHH:MM:SS.mmmZ" in UTC.
std::string UtcTimestamp(std::chrono::system_clock::time_point t);

class Store {
 public:
  // Opens the database at `path`. With `create`, the file and the table are
  // made when missing and the journal is switched to WAL; without it, a
  // missing file or table is an error.
  static std::unique_ptr<Store> Open(const std::string& path, bool create, std::string* error);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // Appends one request and sets its id. Thread-safe.
  bool Add(RecordedRequest& request, std::string* error);
  // Calls `fn` for every recorded request in id order.
  bool ForEach(const std::function<void(const RecordedRequest&)>& fn, std::string* error);

 private:
  explicit Store(sqlite3* db) : db_(db) {}
  std::string LastError() const;

  sqlite3* db_;
  sqlite3_stmt* insert_ = nullptr;
  std::mutex mutex_;
};

}  // namespace stub::server
