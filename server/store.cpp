#include "server/store.h"

#include <sqlite3.h>

#include <cstdio>
#include <ctime>

namespace stub::server {
namespace {

constexpr const char* kTable = "requests";

std::string ColumnList() {
  std::string out = "time, client, method, target";
  for (const char* name : kFieldNames) out += std::string(", \"") + name + "\"";
  return out;
}

std::string CreateSql() {
  std::string sql = std::string("CREATE TABLE IF NOT EXISTS ") + kTable +
                    " (id INTEGER PRIMARY KEY AUTOINCREMENT, time TEXT NOT NULL,"
                    " client TEXT NOT NULL, method TEXT NOT NULL, target BLOB NOT NULL";
  for (const char* name : kFieldNames) sql += std::string(", \"") + name + "\" TEXT";
  return sql + ")";
}

std::string ColumnText(sqlite3_stmt* st, int col) {
  const void* p = sqlite3_column_blob(st, col);  // blob access keeps embedded NULs
  const int n = sqlite3_column_bytes(st, col);
  return p ? std::string(static_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
}

}  // namespace

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

std::unique_ptr<Store> Store::Open(const std::string& path, bool create, std::string* error) {
  sqlite3* db = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) |
                    SQLITE_OPEN_FULLMUTEX;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    *error = "cannot open database " + path + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
    sqlite3_close(db);
    return nullptr;
  }
  std::unique_ptr<Store> store(new Store(db));
  sqlite3_busy_timeout(db, 5000);
  char* msg = nullptr;
  const std::string setup =
      create ? "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; " + CreateSql() : "";
  if (!setup.empty() && sqlite3_exec(db, setup.c_str(), nullptr, nullptr, &msg) != SQLITE_OK) {
    *error = "cannot prepare database " + path + ": " + (msg ? msg : store->LastError());
    sqlite3_free(msg);
    return nullptr;
  }
  if (create) {
    std::string sql = std::string("INSERT INTO ") + kTable + " (" + ColumnList() +
                      ") VALUES (?, ?, ?, ?";
    for (size_t i = 0; i < kFieldCount; ++i) sql += ", ?";
    sql += ")";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &store->insert_, nullptr) != SQLITE_OK) {
      *error = "cannot prepare database " + path + ": " + store->LastError();
      return nullptr;
    }
  }
  return store;
}

Store::~Store() {
  sqlite3_finalize(insert_);
  sqlite3_close(db_);
}

std::string Store::LastError() const { return sqlite3_errmsg(db_); }

bool Store::Add(RecordedRequest& r, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!insert_) {
    *error = "database opened for reading only";
    return false;
  }
  sqlite3_reset(insert_);
  sqlite3_clear_bindings(insert_);
  const auto text = [&](int col, const std::string& s) {
    sqlite3_bind_text(insert_, col, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
  };
  text(1, r.time);
  text(2, r.client);
  text(3, r.method);
  sqlite3_bind_blob(insert_, 4, r.target.data(), static_cast<int>(r.target.size()),
                    SQLITE_TRANSIENT);
  for (size_t i = 0; i < kFieldCount; ++i) {
    const int col = static_cast<int>(5 + i);
    if (r.fields[i]) text(col, *r.fields[i]);
    else sqlite3_bind_null(insert_, col);
  }
  if (sqlite3_step(insert_) != SQLITE_DONE) {
    *error = "cannot record request: " + LastError();
    sqlite3_reset(insert_);
    return false;
  }
  r.id = sqlite3_last_insert_rowid(db_);
  sqlite3_reset(insert_);
  return true;
}

bool Store::ForEach(const std::function<void(const RecordedRequest&)>& fn, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string sql =
      "SELECT id, " + ColumnList() + " FROM " + kTable + " ORDER BY id";
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    *error = "cannot read requests: " + LastError();
    return false;
  }
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    RecordedRequest r;
    r.id = sqlite3_column_int64(st, 0);
    r.time = ColumnText(st, 1);
    r.client = ColumnText(st, 2);
    r.method = ColumnText(st, 3);
    r.target = ColumnText(st, 4);
    for (size_t i = 0; i < kFieldCount; ++i) {
      const int col = static_cast<int>(5 + i);
      if (sqlite3_column_type(st, col) != SQLITE_NULL) r.fields[i] = ColumnText(st, col);
    }
    fn(r);
  }
  const bool ok = rc == SQLITE_DONE;
  if (!ok) *error = "cannot read requests: " + LastError();
  sqlite3_finalize(st);
  return ok;
}

}  // namespace stub::server
