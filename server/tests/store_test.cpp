// The store contract, run against both backends: SQLite always, PostgreSQL
// when STUB_TEST_PG_SOCKET names the socket folder of a scratch cluster
// (scripts/test starts one).
#include <libpq-fe.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "server/spool.h"
#include "server/stats.h"
#include "server/store.h"
#include "test_server.h"

namespace stub::server::testing {
namespace {

enum class Backend { kSqlite, kPostgres };

// A fresh, empty database of one backend and the location that names it.
class StoreTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    std::string tmpl = (std::filesystem::temp_directory_path() / "store-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    spool_ = dir_ + "/spool";
    if (GetParam() == Backend::kSqlite) {
      location_ = dir_ + "/requests.db";
      return;
    }
    const char* socket = std::getenv("STUB_TEST_PG_SOCKET");
    if (!socket || !*socket) GTEST_SKIP() << "no PostgreSQL cluster (STUB_TEST_PG_SOCKET)";
    static std::atomic<int> serial{0};
    const std::string name = "t" + std::to_string(getpid()) + "_" + std::to_string(++serial);
    const std::string admin = std::string("postgresql:///postgres?host=") + socket + "&user=postgres";
    PGconn* c = PQconnectdb(admin.c_str());
    ASSERT_EQ(PQstatus(c), CONNECTION_OK) << PQerrorMessage(c);
    PGresult* r = PQexec(c, ("CREATE DATABASE " + name).c_str());
    ASSERT_EQ(PQresultStatus(r), PGRES_COMMAND_OK) << PQerrorMessage(c);
    PQclear(r);
    PQfinish(c);
    location_ = "postgresql:///" + name + "?host=" + socket + "&user=postgres";
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::unique_ptr<Store> Open(bool create = true) {
    std::string error;
    auto store = Store::Open(location_, create, &error, spool_);
    EXPECT_TRUE(store) << error;
    return store;
  }
  std::vector<RecordedRequest> All(Store& store) {
    std::vector<RecordedRequest> out;
    std::string error;
    EXPECT_TRUE(store.ForEach([&](const RecordedRequest& r) { out.push_back(r); }, &error)) << error;
    return out;
  }
  static RecordedRequest Row(const std::string& target) {
    RecordedRequest r;
    r.event_id = NewEventId();
    r.time = "2024-05-01T08:30:00.000Z";
    r.client = "127.0.0.1";
    r.method = "GET";
    r.target = target;
    r.fields = DecodeQuery(target);
    return r;
  }

  std::string dir_, spool_, location_;
};

TEST_P(StoreTest, KeepsBytesNullsAndOrder) {
  auto store = Open();
  ASSERT_TRUE(store);
  std::string error;
  RecordedRequest a = Row(std::string("/\x00\xFF?Data=%00", 11));
  a.fields[1] = std::string("\0x", 2);
  a.fields[2] = "";
  ASSERT_TRUE(store->Add(a, &error)) << error;
  RecordedRequest b = Row("/?Key=Setup&Data=%E4%B8%AD");
  ASSERT_TRUE(store->Add(b, &error)) << error;
  EXPECT_LT(a.id, b.id);

  const auto rows = All(*store);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].target, a.target);
  EXPECT_EQ(rows[0].fields[1], a.fields[1]);
  EXPECT_EQ(rows[0].fields[2], std::optional<std::string>(""));
  EXPECT_EQ(rows[0].fields[3], std::nullopt);
  EXPECT_EQ(rows[1].fields[1], std::optional<std::string>("中"));
  EXPECT_EQ(rows[1].time, b.time);
  EXPECT_EQ(rows[1].method, "GET");
}

TEST_P(StoreTest, ConcurrentWritersShareCommitsAndLoseNothing) {
  auto store = Open();
  ASSERT_TRUE(store);
  constexpr int kThreads = 16, kEach = 40;
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        RecordedRequest r = Row("/?Key=Setup&Data=" + std::to_string(t) + "-" + std::to_string(i));
        std::string error;
        if (!store->Add(r, &error) || r.id <= 0) ++failures;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures, 0);
  std::set<std::string> data;
  for (const auto& r : All(*store)) data.insert(*r.fields[1]);
  EXPECT_EQ(data.size(), size_t{kThreads * kEach});
}

TEST_P(StoreTest, ReopensAndRefusesAMissingStoreWithoutCreate) {
  {
    auto store = Open();
    ASSERT_TRUE(store);
    RecordedRequest r = Row("/?Key=Setup");
    std::string error;
    ASSERT_TRUE(store->Add(r, &error)) << error;
  }
  auto again = Open(false);
  ASSERT_TRUE(again);
  EXPECT_EQ(All(*again).size(), 1u);
  RecordedRequest r = Row("/x");
  std::string error;
  EXPECT_FALSE(again->Add(r, &error));  // opened for reading

  if (GetParam() == Backend::kSqlite) {
    EXPECT_FALSE(Store::Open(dir_ + "/none.db", false, &error));
    EXPECT_FALSE(error.empty());
  }
}

// Requests left in the spool by a server that lost its database are written
// at the next start, in order, and a request the database already holds (its
// commit succeeded but the answer was lost) is not written twice.
TEST_P(StoreTest, SpoolIsReplayedInOrderExactlyOnce) {
  if (GetParam() == Backend::kSqlite) GTEST_SKIP() << "SQLite writes never wait in a spool";
  RecordedRequest committed = Row("/?Key=Setup&Data=a");
  {
    auto store = Open();
    ASSERT_TRUE(store);
    std::string error;
    ASSERT_TRUE(store->Add(committed, &error)) << error;
  }
  const RecordedRequest b = Row("/?Key=Setup&Data=b"), c = Row("/?Key=Setup&Data=c");
  const std::string torn = EncodeSpoolRecord(Row("/?Key=Setup&Data=torn"));
  std::ofstream(spool_, std::ios::binary)
      << EncodeSpoolRecord(committed) << EncodeSpoolRecord(b) << EncodeSpoolRecord(c)
      << torn.substr(0, torn.size() - 3);
  {
    auto store = Open();
    ASSERT_TRUE(store);
    RecordedRequest d = Row("/?Key=Setup&Data=d");
    std::string error;
    ASSERT_TRUE(store->Add(d, &error)) << error;  // goes after the spooled ones
    std::vector<std::string> data;
    for (const auto& r : All(*store)) data.push_back(*r.fields[1]);
    EXPECT_EQ(data, (std::vector<std::string>{"a", "b", "c", "d"}));
  }
  EXPECT_EQ(std::filesystem::file_size(spool_), 0u);
}

// The run figures are computed from what a store gives back, so each store
// must give back what they read: times, keys, data texts, profile fields.
TEST_P(StoreTest, RunFiguresFromTheStoreMatchTheEventsWritten) {
  auto store = Open();
  ASSERT_TRUE(store);
  const char* const fail =
      "DownFinish=Not:2.5 DownCode=1,2, DiskSpace=0 URLMon=1 SavePath=C:\\Program Files\\a\\ "
      "DownMD5=* ERR: CANNOT OPEN FILE FileMD5=AB url=127.0.0.1/a.exe";
  const struct {
    const char *time, *time_id, *pc, *channel, *data;  // data null: the Info request
  } rows[] = {
      {"2026-12-05T23:59:58.120Z", "20261206005958", "C1", "wlpq", nullptr},
      {"2026-12-05T23:59:59.000Z", "20261206005958", "C1", "wlpq", "one"},
      {"2026-12-06T00:00:01.500Z", "20261206005958", "C1", "wlpq", "BeginDown"},
      {"2026-12-06T00:00:09.870Z", "20261206005958", "C1", "wlpq", "DownFinish=OK:8 DownCode=1, SavePath=C:\\Temp\\ url=x"},
      {"2026-12-06T08:00:00.000Z", "20261206160000", "C2", "测试", nullptr},
      {"2026-12-06T08:00:01.000Z", "20261206160000", "C2", "测试", "BeginDown"},
      {"2026-12-06T08:00:03.000Z", "20261206160000", "C2", "测试", fail},
      {"2026-12-06T08:00:04.000Z", "20261206160000", "C2", "测试", "AutoReDown"},
      {"2026-12-06T08:00:05.000Z", "20261206160000", "C2", "测试", "BeginDown"},
      {"2026-12-06T08:00:07.000Z", "20261206160000", "C2", "测试", fail},
  };
  std::vector<RunEvent> written;
  for (const auto& row : rows) {
    RecordedRequest r;
    r.event_id = NewEventId();
    r.time = row.time;
    r.client = "127.0.0.1";
    r.method = "GET";
    r.target = "/?Key=Setup";
    r.fields[0] = row.data ? "Setup" : "Info";
    if (row.data) r.fields[1] = row.data;
    r.fields[2] = row.time_id;
    r.fields[6] = row.channel;
    r.fields[7] = row.pc;
    r.fields[9] = "Win7";
    r.fields[10] = "64";
    std::string error;
    ASSERT_TRUE(store->Add(r, &error)) << error;
    written.push_back(ToRunEvent(r));
  }
  std::vector<RunEvent> read;
  std::string error;
  ASSERT_TRUE(ReadRunEvents(location_, read, &error)) << error;
  const Stats st = ComputeStats(read, {});
  EXPECT_EQ(StatsLines(st), StatsLines(ComputeStats(written, {})));
  EXPECT_EQ(st.funnel.runs, 2);
  EXPECT_EQ(st.funnel.installed_first, 1);
  EXPECT_EQ(st.funnel.failed_twice, 1);
  EXPECT_EQ(st.reasons.full_disk, 2);
  EXPECT_EQ(st.reasons.file_unreadable, 2);
  EXPECT_EQ(st.install_seconds, (std::vector<double>{11.75}));
  EXPECT_EQ(st.days.at("2026-12-05").runs, 1);  // a run's day is its first request's
}

INSTANTIATE_TEST_SUITE_P(Backends, StoreTest,
                         ::testing::Values(Backend::kSqlite, Backend::kPostgres),
                         [](const auto& info) {
                           return info.param == Backend::kSqlite ? "Sqlite" : "Postgres";
                         });

TEST(SpoolRecords, IntactRecordsUpToTheFirstDamage) {
  RecordedRequest r;
  r.event_id = "e1";
  r.time = "t";
  r.client = "c";
  r.method = "GET";
  r.target = std::string("/?Key=Setup&Data=\x00\xFF", 19);
  const std::string one = EncodeSpoolRecord(r);
  std::string bad_crc = one;
  bad_crc[4] ^= 1;
  const struct {
    std::string bytes;
    size_t records;
    size_t good;
  } cases[] = {
      {"", 0, 0},
      {one, 1, one.size()},
      {one + one, 2, 2 * one.size()},
      {one + one.substr(0, 7), 1, one.size()},               // torn length
      {one + one.substr(0, one.size() - 1), 1, one.size()},  // torn payload
      {one + bad_crc + one, 1, one.size()},                  // damage ends the reading
      {std::string("\xFF\xFF\xFF\xFF\0\0\0\0", 8), 0, 0},     // absurd length
  };
  for (const auto& c : cases) {
    size_t good = 99;
    const auto rows = DecodeSpoolRecords(c.bytes, &good);
    EXPECT_EQ(rows.size(), c.records) << c.bytes.size();
    EXPECT_EQ(good, c.good) << c.bytes.size();
    for (const auto& row : rows) {
      EXPECT_EQ(row.target, r.target);
      EXPECT_EQ(row.event_id, "e1");
      EXPECT_EQ(*row.fields[0], "Setup");
    }
  }
}

// A torn tail is cut when the spool opens, so a record appended next is read
// back right after the intact ones.
TEST(SpoolRecords, AppendAfterATornTail) {
  const std::string path =
      (std::filesystem::temp_directory_path() / ("spool-" + std::to_string(getpid()))).string();
  RecordedRequest a, b;
  a.event_id = "a";
  b.event_id = "b";
  const std::string one = EncodeSpoolRecord(a);
  std::ofstream(path, std::ios::binary) << one << one.substr(0, 5);
  std::vector<RecordedRequest> rows;
  {
    Spool spool;
    std::string error;
    ASSERT_TRUE(spool.Open(path, &error)) << error;
    ASSERT_TRUE(spool.Append({&b}, &error)) << error;
    ASSERT_TRUE(spool.ReadAll(&rows, &error)) << error;
  }
  std::filesystem::remove(path);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].event_id, "b");
}

}  // namespace
}  // namespace stub::server::testing
