// The SQLite store: one file in WAL mode with synchronous=FULL, so a row is
// on disk when its commit returns; writes are grouped into one transaction.
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <mutex>

#include "server/store/group_commit.h"
#include "server/store/requests_table.h"
#include "server/store/store.h"

namespace stub::server {
namespace {

constexpr TableDialect kSqlite = {"CREATE TABLE IF NOT EXISTS", "id INTEGER PRIMARY KEY AUTOINCREMENT",
                                   "TEXT", "TEXT", "BLOB", "TEXT"};
// A subquery with a LIMIT is never merged into a grouping query.
constexpr RunDialect kSqliteRuns = {"", false, " LIMIT -1"};

class SqliteStore : public Store {
 public:
  SqliteStore(sqlite3* db, std::string path)
      : db_(db), path_(std::move(path)), commit_([this](const std::vector<RecordedRequest*>& rows, std::string* error) {
          return WriteBatch(rows, error);
        }) {}
  ~SqliteStore() override {
    commit_.Stop();
    sqlite3_finalize(insert_);
    sqlite3_close(db_);
    sqlite3_close(reader_);
  }
  bool Prepare(bool create, std::string* error);
  void Submit(std::shared_ptr<RecordedRequest> request, Done done) override {
    if (insert_) commit_.Submit(std::move(request), std::move(done));
    else done(false, "database opened for reading only");
  }
  bool ForEach(const std::function<void(const RecordedRequest&)>& fn, std::string* error) override;
  bool ForEachRun(const std::function<void(const RunSummary&)>& fn, std::string* error) override;
  bool DeleteBefore(const std::string& day, int64_t* deleted, std::string* error, int chunk) override;
  StoreHealth Health() const override { return status_.Snapshot(); }

 private:
  std::string LastError() const { return sqlite3_errmsg(db_); }
  bool Exec(const char* sql, std::string* error);
  bool Insert(RecordedRequest& r);
  bool WriteBatch(const std::vector<RecordedRequest*>& rows, std::string* error);
  bool Write(const std::vector<RecordedRequest*>& rows, std::string* error);

  sqlite3* db_;
  sqlite3_stmt* insert_ = nullptr;
  std::mutex mutex_;  // one statement user at a time
  StoreStatus status_;
  // Runs are read on a read-only connection of their own: in WAL mode it
  // reads a snapshot while the writer commits, and neither waits for the other.
  const std::string path_;
  sqlite3* reader_ = nullptr;  // opened at the first reading
  std::mutex read_mutex_;      // the reader's statements
  GroupCommit commit_;
};

}  // namespace

std::unique_ptr<Store> OpenSqliteStore(const std::string& path, bool create, std::string* error) {
  // A new file is made here, readable by its owner and group only (it holds
  // client addresses and machine ids); SQLite gives its journal files the
  // same mode.
  if (create && path.rfind("file:", 0) != 0 && path.rfind(":memory:", 0) != 0) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0640);
    if (fd >= 0) close(fd);
  }
  sqlite3* db = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) |
                    SQLITE_OPEN_FULLMUTEX;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    *error = "cannot open database " + path + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
    sqlite3_close(db);
    return nullptr;
  }
  auto store = std::make_unique<SqliteStore>(db, path);
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
  // The time index serves readings and prunes by day; a database made
  // before it existed gets it here.
  const std::string setup = "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; " + CreateRequestsSql(kSqlite) +
                            "; CREATE INDEX IF NOT EXISTS " + kRequestsTable + "_time ON " + kRequestsTable +
                            " (time)";
  if (!Exec(setup.c_str(), error)) return false;
  std::string sql = std::string("INSERT INTO ") + kRequestsTable + " (" + RequestColumns() +
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
  const auto start = std::chrono::steady_clock::now();
  const bool ok = Write(rows, error);
  if (ok) status_.Committed(rows.size(), std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  else status_.Refused(*error);
  if (!ok) *error = "cannot record request: " + *error;
  return ok;
}

bool SqliteStore::Write(const std::vector<RecordedRequest*>& rows, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!Exec("BEGIN IMMEDIATE", error)) return false;
  for (RecordedRequest* r : rows) {
    if (!Insert(*r)) {
      *error = LastError();
      std::string ignored;
      Exec("ROLLBACK", &ignored);
      for (RecordedRequest* undone : rows) undone->id = 0;
      return false;
    }
  }
  if (!Exec("COMMIT", error)) {
    std::string ignored;
    Exec("ROLLBACK", &ignored);
    return false;
  }
  return true;
}

bool SqliteStore::ForEach(const std::function<void(const RecordedRequest&)>& fn, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string sql =
      "SELECT id, " + RequestColumns() + " FROM " + kRequestsTable + " ORDER BY id";
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    *error = "cannot read requests: " + LastError();
    return false;
  }
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    RecordedRequest r = RequestFromRow([st](int index) -> std::optional<std::string> {
      const int col = 1 + index;  // after the id
      if (sqlite3_column_type(st, col) == SQLITE_NULL) return std::nullopt;
      const void* p = sqlite3_column_blob(st, col);  // blob access keeps embedded NULs
      return p ? std::string(static_cast<const char*>(p), static_cast<size_t>(sqlite3_column_bytes(st, col)))
               : std::string();
    });
    r.id = sqlite3_column_int64(st, 0);
    fn(r);
  }
  const bool ok = rc == SQLITE_DONE;
  if (!ok) *error = "cannot read requests: " + LastError();
  sqlite3_finalize(st);
  return ok;
}

bool SqliteStore::ForEachRun(const std::function<void(const RunSummary&)>& fn, std::string* error) {
  std::lock_guard<std::mutex> lock(read_mutex_);
  const auto failed = [&](sqlite3* db) {
    *error = std::string("cannot read runs: ") + sqlite3_errmsg(db);
    return false;
  };
  if (!reader_) {
    if (sqlite3_open_v2(path_.c_str(), &reader_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
      const bool ok = reader_ ? failed(reader_) : (*error = "cannot read runs: out of memory", false);
      sqlite3_close(reader_);
      reader_ = nullptr;
      return ok;
    }
    sqlite3_busy_timeout(reader_, 5000);
  }
  sqlite3_stmt* runs = nullptr;
  sqlite3_stmt* failures = nullptr;
  // Both statements read one snapshot: the transaction begins at the first step.
  bool ok = sqlite3_exec(reader_, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK &&
            sqlite3_prepare_v2(reader_, RunSummarySql(kSqliteRuns).c_str(), -1, &runs, nullptr) == SQLITE_OK &&
            sqlite3_prepare_v2(reader_, RunFailuresSql(kSqliteRuns).c_str(), -1, &failures, nullptr) == SQLITE_OK;
  if (!ok) failed(reader_);
  const auto next = [&](sqlite3_stmt* st) {
    return [&, st](std::vector<std::optional<std::string>>& row) {
      if (!ok) return false;
      const int rc = sqlite3_step(st);
      if (rc != SQLITE_ROW) {
        if (rc != SQLITE_DONE) ok = failed(reader_);
        return false;
      }
      row.resize(static_cast<size_t>(sqlite3_column_count(st)));
      for (int col = 0; col < static_cast<int>(row.size()); ++col) {
        if (sqlite3_column_type(st, col) == SQLITE_NULL) {
          row[col].reset();
          continue;
        }
        const void* p = sqlite3_column_blob(st, col);  // blob access keeps embedded NULs
        row[col] = p ? std::string(static_cast<const char*>(p), static_cast<size_t>(sqlite3_column_bytes(st, col)))
                          : std::string();
      }
      return true;
    };
  };
  if (ok) JoinRuns(next(runs), next(failures), fn);
  sqlite3_finalize(runs);
  sqlite3_finalize(failures);
  sqlite3_exec(reader_, "COMMIT", nullptr, nullptr, nullptr);
  return ok;
}

bool SqliteStore::DeleteBefore(const std::string& day, int64_t* deleted, std::string* error, int chunk) {
  std::lock_guard<std::mutex> lock(mutex_);
  *deleted = 0;
  if (chunk < 1) chunk = 1;
  // Times are "YYYY-MM-DDTHH:MM:SS.mmmZ": every time of an earlier day sorts
  // before the bare day, every time of that day after it. Oldest rows first.
  const std::string sql = std::string("DELETE FROM ") + kRequestsTable + " WHERE id IN (SELECT id FROM " +
                          kRequestsTable + " WHERE time < ?1 ORDER BY id LIMIT " +
                          std::to_string(chunk) + ")";
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    *error = "cannot delete requests: " + LastError();
    return false;
  }
  bool ok = true;
  for (;;) {  // each statement its own transaction
    sqlite3_bind_text(st, 1, day.data(), static_cast<int>(day.size()), SQLITE_TRANSIENT);
    ok = sqlite3_step(st) == SQLITE_DONE;
    if (!ok) *error = "cannot delete requests: " + LastError();
    sqlite3_reset(st);
    if (!ok) break;
    const int64_t n = sqlite3_changes(db_);
    *deleted += n;
    if (n < chunk) break;
  }
  sqlite3_finalize(st);
  return ok;
}

}  // namespace
}  // namespace stub::server
