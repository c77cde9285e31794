// The PostgreSQL store: several servers record into one database. Writes go
// in one transaction per batch; while the database is unreachable they are
// appended to a local spool instead (on disk before the answer) and written
// to the database in order once it is back. Every row carries its event id
// and inserts skip ids already present, so a replay after a commit whose
// answer was lost writes nothing twice.
#include <endian.h>
#include <libpq-fe.h>

#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "server/store/group_commit.h"
#include "server/store/requests_table.h"
#include "server/store/spool.h"
#include "server/store/store.h"

namespace stub::server {
namespace {

constexpr int kSchemaVersion = 1;
// Ties the schema creation of concurrent servers together.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(716253)";
constexpr auto kReconnectPause = std::chrono::milliseconds(200);
constexpr auto kReplayPeriod = std::chrono::milliseconds(250);

// Method, target and fields are bytes: a target is kept exactly as received
// and decoded fields may hold NUL, which text columns refuse.
constexpr TableDialect kPostgres = {"CREATE TABLE", "id bigserial PRIMARY KEY, event_id text NOT NULL UNIQUE",
                                    "text", "bytea", "bytea", "bytea"};
// An OFFSET keeps the planner from pulling the subquery up into the grouping.
constexpr RunDialect kPostgresRuns = {"::bytea", true, " OFFSET 0"};

constexpr int kParams = 5 + static_cast<int>(kFieldCount);  // per row
// One INSERT, so one round trip, writes a whole batch. A statement ends after
// this many rows (the protocol allows 65,535 parameters in one) or once its
// values pass this many bytes, so a long spool replay stays bounded in memory.
constexpr size_t kRowsPerInsert = 1000;
constexpr size_t kBytesPerInsert = 8u << 20;

size_t RowBytes(const RecordedRequest& r) {
  size_t n = r.event_id.size() + r.time.size() + r.client.size() + r.method.size() + r.target.size();
  for (const auto& f : r.fields) n += f ? f->size() : 0;
  return n;
}

std::string InsertSql(size_t rows) {
  static const std::string head =
      std::string("INSERT INTO ") + kRequestsTable + " (event_id, " + RequestColumns() + ") VALUES ";
  std::string sql = head;
  int n = 0;
  for (size_t r = 0; r < rows; ++r) {
    sql += r ? ", (" : "(";
    for (int i = 0; i < kParams; ++i) sql += (i ? ", $" : "$") + std::to_string(++n);
    sql += ")";
  }
  return sql + " ON CONFLICT (event_id) DO NOTHING RETURNING event_id, id";
}

void IgnoreNotice(void*, const char*) {}

// Owns one result.
struct Result {
  PGresult* r;
  explicit Result(PGresult* res) : r(res) {}
  ~Result() { PQclear(r); }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  bool ok() const {
    const auto s = PQresultStatus(r);
    return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
  }
};

class PostgresStore : public Store {
 public:
  explicit PostgresStore(std::string url)
      : url_(std::move(url)),
        commit_([this](const std::vector<RecordedRequest*>& rows, std::string* error) {
          return WriteBatch(rows, error);
        }) {}
  ~PostgresStore() override {
    commit_.Stop();
    {
      std::lock_guard<std::mutex> lock(replay_mutex_);
      quit_ = true;
    }
    replay_wake_.notify_all();
    if (replayer_.joinable()) replayer_.join();
    std::lock_guard<std::mutex> lock(write_mutex_);
    if (!spool_path_.empty()) {
      std::string ignored;
      Drain(&ignored);
    }
    if (conn_) PQfinish(conn_);
    if (reader_) PQfinish(reader_);
  }

  bool Init(bool create, const std::string& spool, std::string* error) {
    if (!Connect(error)) return false;
    if (create) {
      if (!CreateSchema(error)) return false;
      spool_path_ = spool;
      if (!spool_.Open(spool, error)) return false;
      replayer_ = std::thread([this] { ReplayLoop(); });
    }
    return true;
  }

  void Submit(std::shared_ptr<RecordedRequest> request, Done done) override {
    if (spool_path_.empty()) return done(false, "database opened for reading only");
    if (request->event_id.empty()) request->event_id = NewEventId();
    commit_.Submit(std::move(request), std::move(done));
  }

  bool ForEach(const std::function<void(const RecordedRequest&)>& fn, std::string* error) override;
  bool ForEachRun(const std::function<void(const RunSummary&)>& fn, std::string* error) override;
  bool DeleteBefore(const std::string& day, int64_t* deleted, std::string* error, int chunk) override;

 private:
  bool Connect(std::string* error);
  bool Exec(const char* sql, std::string* error);
  bool CreateSchema(std::string* error);
  // kOk: all rows committed; kLost: the database is unreachable; kFailed: it refused them.
  enum class Outcome { kOk, kLost, kFailed };
  Outcome Insert(const std::vector<RecordedRequest*>& rows, std::string* error);
  bool WriteBatch(const std::vector<RecordedRequest*>& rows, std::string* error);
  // Writes the spool to the database and empties it; false while the
  // database is away. Caller holds write_mutex_.
  bool Drain(std::string* error);
  void ReplayLoop();
  void Drop() {
    if (conn_) PQfinish(conn_);
    conn_ = nullptr;
  }

  const std::string url_;
  std::string spool_path_;  // empty: opened for reading
  PGconn* conn_ = nullptr;
  std::chrono::steady_clock::time_point last_attempt_{};
  std::mutex write_mutex_;  // the connection and the spool
  Spool spool_;
  GroupCommit commit_;
  std::mutex replay_mutex_;
  std::condition_variable replay_wake_;
  bool quit_ = false;
  std::thread replayer_;
  // Runs are read on a connection of their own, so a reading never waits
  // for the writer's connection nor holds it.
  PGconn* reader_ = nullptr;
  std::mutex read_mutex_;  // the reader
};

bool PostgresStore::Connect(std::string* error) {
  if (conn_ && PQstatus(conn_) == CONNECTION_OK) return true;
  Drop();
  last_attempt_ = std::chrono::steady_clock::now();
  conn_ = PQconnectdb(url_.c_str());
  if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
    *error = std::string("cannot connect to the database: ") +
             (conn_ ? PQerrorMessage(conn_) : "out of memory");
    while (!error->empty() && error->back() == '\n') error->pop_back();
    Drop();
    return false;
  }
  PQsetNoticeProcessor(conn_, &IgnoreNotice, nullptr);
  return Exec("SET client_encoding TO 'UTF8'", error);
}

bool PostgresStore::Exec(const char* sql, std::string* error) {
  Result r(PQexec(conn_, sql));
  if (r.ok()) return true;
  *error = PQerrorMessage(conn_);
  return false;
}

bool PostgresStore::CreateSchema(std::string* error) {
  std::string ignored;
  if (!Exec("BEGIN", error) || !Exec(kSchemaLock, error) ||
      !Exec("CREATE TABLE IF NOT EXISTS schema_version (version integer NOT NULL)", error)) {
    Exec("ROLLBACK", &ignored);
    return false;
  }
  int version = 0;
  {
    Result r(PQexec(conn_, "SELECT max(version) FROM schema_version"));
    if (!r.ok()) {
      *error = PQerrorMessage(conn_);
      Exec("ROLLBACK", &ignored);
      return false;
    }
    if (!PQgetisnull(r.r, 0, 0)) version = std::atoi(PQgetvalue(r.r, 0, 0));
  }
  if (version > kSchemaVersion) {
    *error = "the database has schema version " + std::to_string(version) +
             ", newer than this server's " + std::to_string(kSchemaVersion);
    Exec("ROLLBACK", &ignored);
    return false;
  }
  if (version == 0) {
    const std::string insert = "INSERT INTO schema_version VALUES (" + std::to_string(kSchemaVersion) + ")";
    if (!Exec(CreateRequestsSql(kPostgres).c_str(), error) || !Exec(insert.c_str(), error)) {
      Exec("ROLLBACK", &ignored);
      return false;
    }
  }
  // The time index serves readings and prunes by day (compared byte by byte,
  // as they compare); a database made before it existed gets it here.
  const std::string index = std::string("CREATE INDEX IF NOT EXISTS ") + kRequestsTable + "_time ON " +
                            kRequestsTable + " (time COLLATE \"C\")";
  if (!Exec(index.c_str(), error)) {
    Exec("ROLLBACK", &ignored);
    return false;
  }
  return Exec("COMMIT", error);
}

PostgresStore::Outcome PostgresStore::Insert(const std::vector<RecordedRequest*>& rows,
                                             std::string* error) {
  const auto failed = [&]() {
    *error = std::string("cannot record request: ") + PQerrorMessage(conn_);
    if (PQstatus(conn_) != CONNECTION_OK) {
      Drop();
      return Outcome::kLost;
    }
    std::string ignored;
    Exec("ROLLBACK", &ignored);
    return Outcome::kFailed;
  };
  // Where each statement's rows end.
  std::vector<size_t> ends;
  for (size_t k = 0, first = 0, bytes = 0; k < rows.size(); ++k) {
    bytes += RowBytes(*rows[k]);
    if (k + 1 - first == kRowsPerInsert || bytes >= kBytesPerInsert || k + 1 == rows.size()) {
      ends.push_back(k + 1);
      first = k + 1, bytes = 0;
    }
  }
  // A batch is usually one statement, atomic on its own; several go in one
  // transaction.
  const bool several = ends.size() > 1;
  if (several && !Exec("BEGIN", error)) return failed();
  std::vector<const char*> values;
  std::vector<int> lengths, formats;
  for (size_t start = 0, e = 0; e < ends.size(); start = ends[e++]) {
    const size_t end = ends[e];
    values.clear(), lengths.clear(), formats.clear();
    for (size_t k = start; k < end; ++k) {
      RecordedRequest* r = rows[k];
      const std::string* texts[5] = {&r->event_id, &r->time, &r->client, &r->method, &r->target};
      for (int i = 0; i < 5; ++i) {
        values.push_back(texts[i]->data());
        lengths.push_back(static_cast<int>(texts[i]->size()));
        formats.push_back(i >= 3);  // method and target as raw bytes
      }
      for (const auto& f : r->fields) {
        values.push_back(f ? f->data() : nullptr);
        lengths.push_back(f ? static_cast<int>(f->size()) : 0);
        formats.push_back(1);
      }
    }
    Result res(PQexecParams(conn_, InsertSql(end - start).c_str(), static_cast<int>(values.size()), nullptr,
                            values.data(), lengths.data(), formats.data(), 0));
    if (!res.ok()) return failed();
    // Rows whose event id was already stored are skipped and keep id 0.
    std::unordered_map<std::string, int64_t> ids;
    for (int t = 0; t < PQntuples(res.r); ++t) ids[PQgetvalue(res.r, t, 0)] = std::atoll(PQgetvalue(res.r, t, 1));
    for (size_t k = start; k < end; ++k) {
      const auto it = ids.find(rows[k]->event_id);
      rows[k]->id = it == ids.end() ? 0 : it->second;
    }
  }
  if (several && !Exec("COMMIT", error)) return failed();
  return Outcome::kOk;
}

bool PostgresStore::Drain(std::string* error) {
  if (spool_.empty()) return true;
  if (!conn_ && std::chrono::steady_clock::now() - last_attempt_ < kReconnectPause) return false;
  if (!Connect(error)) return false;
  std::vector<RecordedRequest> waiting;
  if (!spool_.ReadAll(&waiting, error)) return false;
  std::vector<RecordedRequest*> rows;
  for (auto& r : waiting) rows.push_back(&r);
  if (!rows.empty() && Insert(rows, error) != Outcome::kOk) return false;
  // Emptied only after the commit: a crash in between replays rows whose
  // event ids the database already has, and they are skipped.
  return spool_.Clear(error);
}

bool PostgresStore::WriteBatch(const std::vector<RecordedRequest*>& rows, std::string* error) {
  std::lock_guard<std::mutex> lock(write_mutex_);
  std::string why;
  // Older requests waiting in the spool go first, so the order holds.
  if (Drain(&why) && (conn_ || std::chrono::steady_clock::now() - last_attempt_ >= kReconnectPause) &&
      Connect(&why)) {
    switch (Insert(rows, &why)) {
      case Outcome::kOk: return true;
      case Outcome::kFailed: *error = why; return false;
      case Outcome::kLost: break;
    }
  }
  for (RecordedRequest* r : rows) r->id = 0;
  return spool_.Append(rows, error);
}

void PostgresStore::ReplayLoop() {
  std::unique_lock<std::mutex> lock(replay_mutex_);
  while (!quit_) {
    replay_wake_.wait_for(lock, kReplayPeriod);
    if (quit_) break;
    lock.unlock();
    {
      std::lock_guard<std::mutex> write(write_mutex_);
      std::string ignored;
      Drain(&ignored);
    }
    lock.lock();
  }
}

bool PostgresStore::ForEach(const std::function<void(const RecordedRequest&)>& fn,
                            std::string* error) {
  std::lock_guard<std::mutex> lock(write_mutex_);
  if (!Connect(error)) return false;
  const std::string sql =
      std::string("SELECT id, event_id, ") + RequestColumns() + " FROM " + kRequestsTable + " ORDER BY id";
  Result r(PQexecParams(conn_, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 1));
  if (!r.ok()) {
    *error = std::string("cannot read requests: ") + PQerrorMessage(conn_);
    return false;
  }
  const auto bytes = [&](int row, int col) {
    return std::string(PQgetvalue(r.r, row, col), static_cast<size_t>(PQgetlength(r.r, row, col)));
  };
  for (int row = 0; row < PQntuples(r.r); ++row) {
    RecordedRequest e = RequestFromRow([&](int index) -> std::optional<std::string> {
      const int col = 2 + index;  // after the id and the event id
      if (PQgetisnull(r.r, row, col)) return std::nullopt;
      return bytes(row, col);
    });
    uint64_t id_be;
    std::memcpy(&id_be, PQgetvalue(r.r, row, 0), sizeof id_be);
    e.id = static_cast<int64_t>(be64toh(id_be));
    e.event_id = bytes(row, 1);
    fn(e);
  }
  return true;
}

bool PostgresStore::ForEachRun(const std::function<void(const RunSummary&)>& fn, std::string* error) {
  std::lock_guard<std::mutex> lock(read_mutex_);
  const auto failed = [&] {
    *error = std::string("cannot read runs: ") + (reader_ ? PQerrorMessage(reader_) : "out of memory");
    while (!error->empty() && error->back() == '\n') error->pop_back();
    if (reader_ && PQstatus(reader_) != CONNECTION_OK) {
      PQfinish(reader_);
      reader_ = nullptr;
    }
    return false;
  };
  if (reader_ && PQstatus(reader_) != CONNECTION_OK) {
    PQfinish(reader_);
    reader_ = nullptr;
  }
  if (!reader_) {
    reader_ = PQconnectdb(url_.c_str());
    if (!reader_ || PQstatus(reader_) != CONNECTION_OK) return failed();
    PQsetNoticeProcessor(reader_, &IgnoreNotice, nullptr);
  }
  const auto exec = [&](const std::string& sql) { return Result(PQexec(reader_, sql.c_str())).ok(); };
  // Both cursors read one snapshot; every row comes in binary, so each value
  // is its bytes (the numbers are sent as text).
  if (!exec("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY") ||
      !exec("SET LOCAL cursor_tuple_fraction = 1") ||
      !exec("DECLARE runs NO SCROLL CURSOR FOR " + RunSummarySql(kPostgresRuns)) ||
      !exec("DECLARE failures NO SCROLL CURSOR FOR " + RunFailuresSql(kPostgresRuns))) {
    failed();
    if (reader_) exec("ROLLBACK");
    return false;
  }
  bool ok = true;
  struct Batch {
    std::unique_ptr<Result> rows;
    int next = 0;
  } run_batch, failure_batch;
  const auto next = [&](const char* cursor, Batch& b) {
    return [&, cursor](std::vector<std::optional<std::string>>& row) {
      if (!ok) return false;
      if (!b.rows || b.next >= PQntuples(b.rows->r)) {
        const std::string fetch = std::string("FETCH 5000 FROM ") + cursor;
        b.rows = std::make_unique<Result>(PQexecParams(reader_, fetch.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 1));
        b.next = 0;
        if (!b.rows->ok()) return ok = failed();
        if (PQntuples(b.rows->r) == 0) return false;
      }
      row.resize(static_cast<size_t>(PQnfields(b.rows->r)));
      for (int col = 0; col < static_cast<int>(row.size()); ++col) {
        if (PQgetisnull(b.rows->r, b.next, col)) row[col].reset();
        else row[col] = std::string(PQgetvalue(b.rows->r, b.next, col),
                                    static_cast<size_t>(PQgetlength(b.rows->r, b.next, col)));
      }
      ++b.next;
      return true;
    };
  };
  JoinRuns(next("runs", run_batch), next("failures", failure_batch), fn);
  run_batch.rows.reset();
  failure_batch.rows.reset();
  if (reader_) exec(ok ? "COMMIT" : "ROLLBACK");
  return ok;
}

bool PostgresStore::DeleteBefore(const std::string& day, int64_t* deleted, std::string* error, int chunk) {
  std::lock_guard<std::mutex> lock(write_mutex_);
  *deleted = 0;
  if (chunk < 1) chunk = 1;
  if (!Connect(error)) return false;
  const auto failed = [&] {
    *error = std::string("cannot delete requests: ") + PQerrorMessage(conn_);
    while (!error->empty() && error->back() == '\n') error->pop_back();
    return false;
  };
  // The ids there are now; rows that come meanwhile are new.
  int64_t low, high;
  {
    Result r(PQexec(conn_, (std::string("SELECT coalesce(min(id), 1), coalesce(max(id), 0) FROM ") +
                            kRequestsTable).c_str()));
    if (!r.ok() || PQntuples(r.r) != 1) return failed();
    low = std::atoll(PQgetvalue(r.r, 0, 0)), high = std::atoll(PQgetvalue(r.r, 0, 1));
  }
  // One range of ids at a time, each its own transaction: the primary key
  // finds each range whatever the planner knows of the table (a seq scan per
  // chunk would read the whole table each time). Times are
  // "YYYY-MM-DDTHH:MM:SS.mmmZ" compared byte by byte (COLLATE "C", whatever
  // the database's locale): every time of an earlier day sorts before the
  // bare day, every time of that day after it.
  const std::string sql = std::string("DELETE FROM ") + kRequestsTable +
                          " WHERE id >= $2 AND id < $3 AND time COLLATE \"C\" < $1";
  for (; low <= high; low += chunk) {
    const std::string from = std::to_string(low), to = std::to_string(low + chunk);
    const char* values[3] = {day.c_str(), from.c_str(), to.c_str()};
    Result r(PQexecParams(conn_, sql.c_str(), 3, nullptr, values, nullptr, nullptr, 0));
    if (!r.ok()) return failed();
    *deleted += std::atoll(PQcmdTuples(r.r));
  }
  return true;
}

}  // namespace

std::unique_ptr<Store> OpenPostgresStore(const std::string& url, bool create,
                                         const std::string& spool, std::string* error) {
  auto store = std::make_unique<PostgresStore>(url);
  if (!store->Init(create, spool, error)) return nullptr;
  return store;
}

}  // namespace stub::server
