// The PostgreSQL store: several servers record into one database. Writes go
// in one transaction per batch; while the database is unreachable, or a call
// to it does not end within its deadline, they are appended to a local spool
// instead (on disk before the answer), and a background thread writes the
// spool to the database in order, in bounded chunks, once it is back. Every row carries its event id
// and inserts skip ids already present, so a replay after a commit whose
// answer was lost writes nothing twice.
#include <endian.h>
#include <libpq-fe.h>
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
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

// The rows an insert wrote: those it skipped, already stored, keep id 0.
size_t Written(const std::vector<RecordedRequest*>& rows) {
  size_t n = 0;
  for (const RecordedRequest* r : rows) n += r->id != 0;
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

using Clock = std::chrono::steady_clock;

// Every call to the database ends by its deadline. A host that drops our
// packets never answers, and neither libpq nor TCP notices that for minutes,
// so only a deadline of our own bounds a call. A batch's answers wait at
// most this long before the batch goes to the spool; connecting is bounded
// the same way.
constexpr auto kCallTimeout = std::chrono::milliseconds(1500);
// One chunk of the spool, written in the background: nobody waits on it.
constexpr auto kReplayTimeout = std::chrono::seconds(20);
// Reading every row back (the events and stats commands, the dashboard).
constexpr auto kReadTimeout = std::chrono::seconds(300);
// How often the background thread tries the database while it is away.
constexpr auto kRetryPeriod = std::chrono::milliseconds(250);
// A chunk of the spool: what is read into memory and committed at once.
constexpr size_t kReplayRows = 2000;
constexpr size_t kReplayBytes = 4u << 20;
// At shutdown the spool is written for at most this long; the next start
// replays the rest.
constexpr auto kShutdownDrain = std::chrono::seconds(10);

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
    return r && (s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK);
  }
};

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

std::string Seconds(Clock::duration d) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f s", std::chrono::duration<double>(d).count());
  return buf;
}

// Waits until `c`'s socket is ready for `events`; false once `deadline` passes.
bool WaitSocket(PGconn* c, short events, Clock::time_point deadline, short* ready = nullptr) {
  const int fd = PQsocket(c);
  if (fd < 0) return false;
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p = {fd, events, 0};
    const int n = poll(&p, 1, static_cast<int>(left));
    if (n > 0) {
      if (ready) *ready = p.revents;
      return true;
    }
    if (n < 0 && errno != EINTR) return false;
  }
}

// A connection made by `deadline`, non-blocking, or null with `error`.
PGconn* ConnectBy(const std::string& url, bool writer, Clock::time_point deadline, std::string* error) {
  // Defaults the URL may override (they come before it): keepalives and
  // tcp_user_timeout make the kernel give up on a peer that stopped
  // answering; statement_timeout makes the server end a statement this side
  // gave up on. The client encoding comes after it and always holds.
  const char* const keys[] = {"keepalives", "keepalives_idle", "keepalives_interval", "keepalives_count",
                              "tcp_user_timeout", "options", "dbname", "client_encoding", nullptr};
  const char* const values[] = {"1", "10", "3", "3", "10000", writer ? "-c statement_timeout=30000" : "",
                                url.c_str(), "UTF8", nullptr};
  const auto start = Clock::now();
  PGconn* c = PQconnectStartParams(keys, values, 1);
  if (!c) {
    *error = "cannot connect to the database: out of memory";
    return nullptr;
  }
  PostgresPollingStatusType step = PGRES_POLLING_WRITING;
  while (PQstatus(c) != CONNECTION_BAD && step != PGRES_POLLING_FAILED) {
    if (step == PGRES_POLLING_OK) {
      PQsetnonblocking(c, 1);
      PQsetNoticeProcessor(c, &IgnoreNotice, nullptr);
      return c;
    }
    if (!WaitSocket(c, step == PGRES_POLLING_READING ? POLLIN : POLLOUT, deadline)) {
      *error = "cannot connect to the database: no answer within " + Seconds(Clock::now() - start);
      PQfinish(c);
      return nullptr;
    }
    step = PQconnectPoll(c);
  }
  *error = Trimmed(std::string("cannot connect to the database: ") + PQerrorMessage(c));
  PQfinish(c);
  return nullptr;
}

// Runs one statement on `c` by `deadline`. Null with `error` when it failed
// or no answer came in time; the caller then drops the connection.
PGresult* RunBy(PGconn* c, const std::string& sql, Clock::time_point deadline, std::string* error,
                int count = 0, const char* const* values = nullptr, const int* lengths = nullptr,
                const int* formats = nullptr, int result_format = 0) {
  const auto start = Clock::now();
  const auto timed_out = [&] {
    *error = "no answer from the database within " + Seconds(Clock::now() - start);
    return nullptr;
  };
  if (!PQsendQueryParams(c, sql.c_str(), count, nullptr, values, lengths, formats, result_format)) {
    *error = Trimmed(PQerrorMessage(c));
    return nullptr;
  }
  for (int left; (left = PQflush(c)) != 0;) {
    short ready = 0;
    if (left < 0) return *error = Trimmed(PQerrorMessage(c)), nullptr;
    if (!WaitSocket(c, POLLIN | POLLOUT, deadline, &ready)) return timed_out();
    if ((ready & POLLIN) && !PQconsumeInput(c)) return *error = Trimmed(PQerrorMessage(c)), nullptr;
  }
  PGresult* result = nullptr;
  for (;;) {
    while (PQisBusy(c)) {
      if (!WaitSocket(c, POLLIN, deadline)) {
        PQclear(result);
        return timed_out();
      }
      if (!PQconsumeInput(c)) {
        PQclear(result);
        return *error = Trimmed(PQerrorMessage(c)), nullptr;
      }
    }
    PGresult* next = PQgetResult(c);
    if (!next) break;
    if (result) PQclear(result);
    result = next;
  }
  if (!result) *error = Trimmed(PQerrorMessage(c));
  else if (PQresultStatus(result) != PGRES_COMMAND_OK && PQresultStatus(result) != PGRES_TUPLES_OK)
    *error = Trimmed(PQresultErrorMessage(result));
  return result;
}

// kOk: done; kLost: no answer, or an error that passes (the connection, the
// server's resources, an operator, a conflict): the rows wait in the spool;
// kFailed: the database refuses them for good (a missing table, a
// permission): their requests are answered 500.
enum class Outcome { kOk, kLost, kFailed };

Outcome Judge(PGconn* c, const PGresult* r) {
  if (!r || PQstatus(c) != CONNECTION_OK) return Outcome::kLost;
  const auto s = PQresultStatus(r);
  if (s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK) return Outcome::kOk;
  const char* state = PQresultErrorField(r, PG_DIAG_SQLSTATE);
  const std::string cls = state ? std::string(state).substr(0, 2) : "";
  return cls == "08" || cls == "53" || cls == "57" || cls == "40" ? Outcome::kLost : Outcome::kFailed;
}

// Runs `sql` and judges it; `error` says why when not kOk.
Outcome Step(PGconn* c, const std::string& sql, Clock::time_point deadline, std::string* error) {
  Result r(RunBy(c, sql, deadline, error));
  return Judge(c, r.r);
}

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
    if (writable_) {
      const auto until = Clock::now() + kShutdownDrain;
      while (Clock::now() < until && ReplayStep()) {}
    }
    if (conn_) PQfinish(conn_);
    if (reader_) PQfinish(reader_);
  }

  bool Init(bool create, const std::string& spool, std::string* error);

  void Submit(std::shared_ptr<RecordedRequest> request, Done done) override {
    if (!writable_) return done(false, "database opened for reading only");
    if (request->event_id.empty()) request->event_id = NewEventId();
    commit_.Submit(std::move(request), std::move(done));
  }

  bool ForEach(const std::function<void(const RecordedRequest&)>& fn, std::string* error) override;
  bool ForEachRun(const std::function<void(const RunSummary&)>& fn, std::string* error) override;
  bool DeleteBefore(const std::string& day, int64_t* deleted, std::string* error, int chunk) override;
  StoreHealth Health() const override { return status_.Snapshot(); }

 private:
  Outcome CreateSchema(PGconn* c, Clock::time_point deadline, std::string* error);
  Outcome Insert(PGconn* c, const std::vector<RecordedRequest*>& rows, Clock::time_point deadline,
                 std::string* error);
  bool WriteBatch(const std::vector<RecordedRequest*>& rows, std::string* error);
  // Appends a batch to the spool. Caller holds spool_mutex_.
  bool SpoolBatch(const std::vector<RecordedRequest*>& rows, std::string* error);
  // The background work, one step: connect while the database is away, else
  // write one chunk of the spool. False when nothing more can be done now.
  bool ReplayStep();
  void ReplayLoop();
  // The connection stopped answering. Caller holds conn_mutex_.
  void Lost(const std::string& why) {
    if (conn_) PQfinish(conn_);
    conn_ = nullptr;
    status_.Unreachable(why, spool_path_);
  }

  const std::string url_;
  std::string spool_path_;
  bool writable_ = false;
  // The writing connection; null while the database is away. The writer
  // uses it only while the spool is empty, the background thread only while
  // it is not, so neither waits for the other's calls.
  std::mutex conn_mutex_;
  PGconn* conn_ = nullptr;
  bool schema_ready_ = false;
  std::mutex spool_mutex_;  // held for file operations only, never across a database call
  Spool spool_;
  StoreStatus status_;
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

bool PostgresStore::Init(bool create, const std::string& spool, std::string* error) {
  std::string why;
  PGconn* c = ConnectBy(url_, create, Clock::now() + kCallTimeout, &why);
  if (!create) {  // reading: the database must be there
    if (!c) *error = why;
    else PQfinish(c);
    return c != nullptr;
  }
  spool_path_ = spool;
  if (!spool_.Open(spool, error)) {
    if (c) PQfinish(c);
    return false;
  }
  status_.SpoolDepth(spool_.rows());
  if (c) {
    switch (CreateSchema(c, Clock::now() + kCallTimeout, &why)) {
      case Outcome::kOk: schema_ready_ = true; break;
      case Outcome::kFailed:  // a newer schema, or no right to make one: the operator must act
        *error = why;
        PQfinish(c);
        return false;
      case Outcome::kLost: PQfinish(c), c = nullptr; break;
    }
  }
  // A database that is away does not stop the server: it starts on the
  // spool, and the background thread makes the schema once it is back.
  conn_ = c;
  if (!c) status_.Unreachable(why, spool_path_);
  writable_ = true;
  replayer_ = std::thread([this] { ReplayLoop(); });
  return true;
}

Outcome PostgresStore::CreateSchema(PGconn* c, Clock::time_point deadline, std::string* error) {
  std::string ignored;
  Outcome o = Outcome::kOk;
  const auto step = [&](const std::string& sql) {
    return o == Outcome::kOk && (o = Step(c, sql, deadline, error)) == Outcome::kOk;
  };
  int version = 0;
  if (step("BEGIN") && step(kSchemaLock) &&
      step("CREATE TABLE IF NOT EXISTS schema_version (version integer NOT NULL)")) {
    Result r(RunBy(c, "SELECT max(version) FROM schema_version", deadline, error));
    o = Judge(c, r.r);
    if (o == Outcome::kOk && !PQgetisnull(r.r, 0, 0)) version = std::atoi(PQgetvalue(r.r, 0, 0));
  }
  if (o == Outcome::kOk && version > kSchemaVersion) {
    *error = "the database has schema version " + std::to_string(version) + ", newer than this server's " +
             std::to_string(kSchemaVersion);
    o = Outcome::kFailed;
  }
  if (version == 0) {
    step(CreateRequestsSql(kPostgres));
    step("INSERT INTO schema_version VALUES (" + std::to_string(kSchemaVersion) + ")");
  }
  // The time index serves readings and prunes by day (compared byte by byte,
  // as they compare); a database made before it existed gets it here.
  step(std::string("CREATE INDEX IF NOT EXISTS ") + kRequestsTable + "_time ON " + kRequestsTable +
       " (time COLLATE \"C\")");
  if (step("COMMIT")) return Outcome::kOk;
  if (PQstatus(c) == CONNECTION_OK) Step(c, "ROLLBACK", deadline, &ignored);
  if (o == Outcome::kFailed) *error = "cannot make the schema: " + *error;
  return o;
}

Outcome PostgresStore::Insert(PGconn* c, const std::vector<RecordedRequest*>& rows, Clock::time_point deadline,
                              std::string* error) {
  // Where each statement's rows end.
  std::vector<size_t> ends;
  for (size_t k = 0, first = 0, bytes = 0; k < rows.size(); ++k) {
    bytes += RowBytes(*rows[k]);
    if (k + 1 - first == kRowsPerInsert || bytes >= kBytesPerInsert || k + 1 == rows.size()) {
      ends.push_back(k + 1);
      first = k + 1, bytes = 0;
    }
  }
  const auto failed = [&](Outcome o) {
    std::string ignored;
    if (o == Outcome::kFailed) Step(c, "ROLLBACK", deadline, &ignored);
    for (RecordedRequest* r : rows) r->id = 0;
    return o;
  };
  // A batch is usually one statement, atomic on its own; several go in one
  // transaction.
  const bool several = ends.size() > 1;
  if (several) {
    if (const Outcome o = Step(c, "BEGIN", deadline, error); o != Outcome::kOk) return failed(o);
  }
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
    Result res(RunBy(c, InsertSql(end - start), deadline, error, static_cast<int>(values.size()),
                     values.data(), lengths.data(), formats.data()));
    if (const Outcome o = Judge(c, res.r); o != Outcome::kOk) return failed(o);
    // Rows whose event id was already stored are skipped and keep id 0.
    std::unordered_map<std::string, int64_t> ids;
    for (int t = 0; t < PQntuples(res.r); ++t) ids[PQgetvalue(res.r, t, 0)] = std::atoll(PQgetvalue(res.r, t, 1));
    for (size_t k = start; k < end; ++k) {
      const auto it = ids.find(rows[k]->event_id);
      rows[k]->id = it == ids.end() ? 0 : it->second;
    }
  }
  if (several) {
    if (const Outcome o = Step(c, "COMMIT", deadline, error); o != Outcome::kOk) return failed(o);
  }
  return Outcome::kOk;
}

bool PostgresStore::SpoolBatch(const std::vector<RecordedRequest*>& rows, std::string* error) {
  for (RecordedRequest* r : rows) r->id = 0;
  if (!spool_.Append(rows, error)) {
    status_.Refused(*error, true);
    *error = "cannot record request: " + *error;
    return false;
  }
  status_.Spooled(rows.size(), spool_.rows());
  return true;
}

bool PostgresStore::WriteBatch(const std::vector<RecordedRequest*>& rows, std::string* error) {
  {
    // Older requests waiting in the spool go first, so the order holds: while
    // any wait, new ones join them there.
    std::lock_guard<std::mutex> lock(spool_mutex_);
    if (!spool_.empty()) return SpoolBatch(rows, error);
  }
  {
    std::lock_guard<std::mutex> lock(conn_mutex_);
    if (conn_) {
      const auto start = Clock::now();
      std::string why;
      switch (Insert(conn_, rows, start + kCallTimeout, &why)) {
        case Outcome::kOk:
          status_.Committed(Written(rows), std::chrono::duration<double>(Clock::now() - start).count());
          return true;
        case Outcome::kFailed:
          status_.Refused(why);
          *error = "cannot record request: " + why;
          return false;
        case Outcome::kLost:
          Lost(why);
          replay_wake_.notify_all();
          break;
      }
    }
  }
  std::lock_guard<std::mutex> lock(spool_mutex_);
  return SpoolBatch(rows, error);
}

bool PostgresStore::ReplayStep() {
  std::unique_lock<std::mutex> lock(conn_mutex_);
  if (!conn_) {
    lock.unlock();  // connecting can take its whole deadline; the writer spools meanwhile
    std::string why;
    PGconn* c = ConnectBy(url_, true, Clock::now() + kCallTimeout, &why);
    Outcome o = c ? Outcome::kOk : Outcome::kLost;
    if (c && !schema_ready_ && (o = CreateSchema(c, Clock::now() + kCallTimeout, &why)) == Outcome::kOk)
      schema_ready_ = true;
    if (o != Outcome::kOk) {
      if (c) PQfinish(c);
      if (o == Outcome::kFailed) status_.Refused(why);
      else status_.Unreachable(why, spool_path_);
      return false;
    }
    lock.lock();
    conn_ = c;
    std::lock_guard<std::mutex> spool(spool_mutex_);
    status_.Reachable(spool_.rows());
  }
  std::vector<RecordedRequest> chunk;
  uint64_t end = 0;
  std::string why;
  {
    std::lock_guard<std::mutex> spool(spool_mutex_);
    if (spool_.empty()) return false;
    const bool read = spool_.ReadChunk(kReplayRows, kReplayBytes, &chunk, &end, &why);
    status_.SpoolDepth(spool_.rows());
    if (!read) {
      status_.Refused(why, true);
      return false;
    }
    if (chunk.empty()) return true;  // a damaged spool was moved aside
  }
  std::vector<RecordedRequest*> rows;
  rows.reserve(chunk.size());
  for (auto& r : chunk) rows.push_back(&r);
  const auto start = Clock::now();
  switch (Insert(conn_, rows, start + kReplayTimeout, &why)) {
    case Outcome::kOk: break;
    case Outcome::kLost: Lost(why); return false;
    case Outcome::kFailed: status_.Refused(why); return false;
  }
  status_.Committed(Written(rows), std::chrono::duration<double>(Clock::now() - start).count());
  // Marked written only after the commit: a crash in between replays rows
  // whose event ids the database already has, and they are skipped.
  std::lock_guard<std::mutex> spool(spool_mutex_);
  if (!spool_.Consumed(end, chunk.size(), &why)) status_.Refused(why, true);
  status_.SpoolDepth(spool_.rows());
  return true;
}

void PostgresStore::ReplayLoop() {
  std::unique_lock<std::mutex> lock(replay_mutex_);
  while (!quit_) {
    lock.unlock();
    const bool more = ReplayStep();
    lock.lock();
    if (!more && !quit_) replay_wake_.wait_for(lock, kRetryPeriod);
  }
}

bool PostgresStore::ForEach(const std::function<void(const RecordedRequest&)>& fn,
                            std::string* error) {
  // A connection of its own: a long read never holds up the writes.
  PGconn* c = ConnectBy(url_, false, Clock::now() + kCallTimeout, error);
  if (!c) return false;
  const std::string sql =
      std::string("SELECT id, event_id, ") + RequestColumns() + " FROM " + kRequestsTable + " ORDER BY id";
  Result r(RunBy(c, sql, Clock::now() + kReadTimeout, error, 0, nullptr, nullptr, nullptr, 1));
  if (!r.ok()) {
    *error = "cannot read requests: " + *error;
    PQfinish(c);
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
  PQfinish(c);
  return true;
}

bool PostgresStore::ForEachRun(const std::function<void(const RunSummary&)>& fn, std::string* error) {
  std::lock_guard<std::mutex> lock(read_mutex_);
  // Every call is bounded as the writer's are: a database that stops
  // answering ends the reading with an error instead of holding it.
  const auto deadline = Clock::now() + kReadTimeout;
  const auto drop_broken = [&] {  // the next reading connects anew
    if (reader_ && PQstatus(reader_) != CONNECTION_OK) {
      PQfinish(reader_);
      reader_ = nullptr;
    }
  };
  const auto failed = [&] {
    *error = "cannot read runs: " + *error;
    drop_broken();
    return false;
  };
  drop_broken();
  if (!reader_ && !(reader_ = ConnectBy(url_, false, Clock::now() + kCallTimeout, error))) return failed();
  const auto exec = [&](const std::string& sql) { return Result(RunBy(reader_, sql, deadline, error)).ok(); };
  // Both cursors read one snapshot; every row comes in binary, so each value
  // is its bytes (the numbers are sent as text).
  if (!exec("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY") ||
      !exec("SET LOCAL cursor_tuple_fraction = 1") ||
      !exec("DECLARE runs NO SCROLL CURSOR FOR " + RunSummarySql(kPostgresRuns)) ||
      !exec("DECLARE failures NO SCROLL CURSOR FOR " + RunFailuresSql(kPostgresRuns))) {
    failed();
    std::string ignored;
    if (reader_) Result rolled_back(RunBy(reader_, "ROLLBACK", deadline, &ignored));
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
        b.rows = std::make_unique<Result>(RunBy(reader_, fetch, deadline, error, 0, nullptr, nullptr, nullptr, 1));
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
  std::string ignored;
  if (reader_) Result ended(RunBy(reader_, ok ? "COMMIT" : "ROLLBACK", deadline, ok ? error : &ignored));
  return ok;
}

bool PostgresStore::DeleteBefore(const std::string& day, int64_t* deleted, std::string* error, int chunk) {
  *deleted = 0;
  if (chunk < 1) chunk = 1;
  // A connection of its own, as for reading: the writer's stays the writer's.
  PGconn* c = ConnectBy(url_, true, Clock::now() + kCallTimeout, error);
  if (!c) return false;
  const std::unique_ptr<PGconn, void (*)(PGconn*)> owner(c, &PQfinish);
  const auto failed = [&] {
    *error = "cannot delete requests: " + *error;
    return false;
  };
  // The ids there are now; rows that come meanwhile are new.
  int64_t low, high;
  {
    Result r(RunBy(c, std::string("SELECT coalesce(min(id), 1), coalesce(max(id), 0) FROM ") + kRequestsTable,
                   Clock::now() + kReadTimeout, error));
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
    Result r(RunBy(c, sql, Clock::now() + kReadTimeout, error, 3, values));
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
