// The SQLite store: one file in WAL mode with synchronous=FULL, so a row is
// on disk when its commit returns; writes are grouped into one transaction.
#include <sqlite3.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <random>

#include "server/store/group_commit.h"
#include "server/store/store.h"

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

class SqliteStore : public Store {
 public:
  explicit SqliteStore(sqlite3* db)
      : db_(db), commit_([this](const std::vector<RecordedRequest*>& rows, std::string* error) {
          return WriteBatch(rows, error);
        }) {}
  ~SqliteStore() override {
    commit_.Stop();
    sqlite3_finalize(insert_);
    sqlite3_close(db_);
  }
  bool Prepare(bool create, std::string* error);
  void Submit(std::shared_ptr<RecordedRequest> request, Done done) override {
    if (insert_) commit_.Submit(std::move(request), std::move(done));
    else done(false, "database opened for reading only");
  }
  bool ForEach(const std::function<void(const RecordedRequest&)>& fn, std::string* error) override;

 private:
  std::string LastError() const { return sqlite3_errmsg(db_); }
  bool Exec(const char* sql, std::string* error);
  bool Insert(RecordedRequest& r);
  bool WriteBatch(const std::vector<RecordedRequest*>& rows, std::string* error);

  sqlite3* db_;
  sqlite3_stmt* insert_ = nullptr;
  std::mutex mutex_;  // one statement user at a time
  GroupCommit commit_;
};

}  // namespace

bool IsPostgresLocation(const std::string& location) {
  return location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0;
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

std::unique_ptr<Store> Store::Open(const std::string& location, bool create, std::string* error,
                                   const std::string& spool) {
  if (IsPostgresLocation(location))
    return OpenPostgresStore(location, create, spool.empty() ? "report-server.spool" : spool, error);
  return OpenSqliteStore(location, create, error);
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

std::unique_ptr<Store> OpenSqliteStore(const std::string& path, bool create, std::string* error) {
  sqlite3* db = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) |
                    SQLITE_OPEN_FULLMUTEX;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    *error = "cannot open database " + path + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
    sqlite3_close(db);
    return nullptr;
  }
  auto store = std::make_unique<SqliteStore>(db);
  if (!store->Prepare(create, error)) {
    *error = "cannot prepare database " + path + ": " + *error;
    return nullptr;
  }
  return store;
}

namespace {

bool SqliteStore::Exec(const char* sql, std::string* error) {
  char* msg = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &msg) == SQLITE_OK) return true;
  *error = msg ? msg : LastError();
  sqlite3_free(msg);
  return false;
}

bool SqliteStore::Prepare(bool create, std::string* error) {
  sqlite3_busy_timeout(db_, 5000);
  if (!create) return true;
  // FULL makes each commit reach the disk: an answered report survives a power cut.
  const std::string setup = "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; " + CreateSql();
  if (!Exec(setup.c_str(), error)) return false;
  std::string sql = std::string("INSERT INTO ") + kTable + " (" + ColumnList() +
                    ") VALUES (?, ?, ?, ?";
  for (size_t i = 0; i < kFieldCount; ++i) sql += ", ?";
  sql += ")";
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &insert_, nullptr) != SQLITE_OK) {
    *error = LastError();
    return false;
  }
  return true;
}

bool SqliteStore::Insert(RecordedRequest& r) {
  sqlite3_reset(insert_);
  sqlite3_clear_bindings(insert_);
  const auto text = [&](int col, const std::string& s) {
    sqlite3_bind_text(insert_, col, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
  };
  text(1, r.time);
  text(2, r.client);
  text(3, r.method);
  sqlite3_bind_blob(insert_, 4, r.target.data(), static_cast<int>(r.target.size()), SQLITE_TRANSIENT);
  for (size_t i = 0; i < kFieldCount; ++i) {
    const int col = static_cast<int>(5 + i);
    if (r.fields[i]) text(col, *r.fields[i]);
    else sqlite3_bind_null(insert_, col);
  }
  const bool ok = sqlite3_step(insert_) == SQLITE_DONE;
  if (ok) r.id = sqlite3_last_insert_rowid(db_);
  sqlite3_reset(insert_);
  return ok;
}

bool SqliteStore::WriteBatch(const std::vector<RecordedRequest*>& rows, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!Exec("BEGIN IMMEDIATE", error)) {
    *error = "cannot record request: " + *error;
    return false;
  }
  for (RecordedRequest* r : rows) {
    if (!Insert(*r)) {
      *error = "cannot record request: " + LastError();
      std::string ignored;
      Exec("ROLLBACK", &ignored);
      for (RecordedRequest* undone : rows) undone->id = 0;
      return false;
    }
  }
  if (!Exec("COMMIT", error)) {
    *error = "cannot record request: " + *error;
    std::string ignored;
    Exec("ROLLBACK", &ignored);
    return false;
  }
  return true;
}

bool SqliteStore::ForEach(const std::function<void(const RecordedRequest&)>& fn, std::string* error) {
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

}  // namespace
}  // namespace stub::server
