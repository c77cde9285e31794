// The store contract on both backends: SQLite always, PostgreSQL when
// STUB_TEST_PG_SOCKET names the socket folder of a scratch cluster.
#include <libpq-fe.h>

#include <atomic>
#include <set>
#include <thread>

#include "server/spool.h"
#include "server/stats.h"
#include "test_server.h"

namespace stub::server::testing {
namespace {

RecordedRequest Row(const std::string& target, const char* time = "2024-05-01T08:30:00.000Z") {
  RecordedRequest r;
  r.event_id = NewEventId();
  r.time = time, r.client = "127.0.0.1", r.method = "GET", r.target = target;
  r.fields = DecodeQuery(target);
  return r;
}

// A fresh, empty database of one backend (true: PostgreSQL).
class StoreTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    const char* socket = std::getenv("STUB_TEST_PG_SOCKET");
    if (!GetParam()) return;
    if (!socket || !*socket) GTEST_SKIP() << "no PostgreSQL cluster (STUB_TEST_PG_SOCKET)";
    static std::atomic<int> serial{0};
    const std::string name = "t" + std::to_string(getpid()) + "_" + std::to_string(++serial);
    PGconn* c = PQconnectdb((std::string("postgresql:///postgres?user=postgres&host=") + socket).c_str());
    PGresult* r = PQexec(c, ("CREATE DATABASE " + name).c_str());
    EXPECT_EQ(PQresultStatus(r), PGRES_COMMAND_OK) << PQerrorMessage(c);
    PQclear(r);
    PQfinish(c);
    location_ = "postgresql:///" + name + "?host=" + socket + "&user=postgres";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::unique_ptr<Store> Open(bool create = true) {
    std::string error;
    auto store = Store::Open(location_, create, &error, spool_);
    EXPECT_TRUE(store) << error;
    return store;
  }
  static void Add(Store& store, RecordedRequest r) {
    std::string error;
    EXPECT_TRUE(store.Add(r, &error)) << error;
  }
  static std::vector<RecordedRequest> All(Store& store) {
    std::vector<RecordedRequest> out;
    std::string error;
    EXPECT_TRUE(store.ForEach([&](const RecordedRequest& r) { out.push_back(r); }, &error)) << error;
    return out;
  }
  static std::vector<std::string> Data(Store& store) {
    std::vector<std::string> out;
    for (const auto& r : All(store)) out.push_back(r.fields[1].value_or("<null>"));
    return out;
  }

  std::string dir_ = MakeTempDir("store"), spool_ = dir_ + "/spool", location_ = dir_ + "/requests.db";
};

// Rows come back in order with their bytes, and the run figures read from the
// store are those of the rows written.
TEST_P(StoreTest, KeepsBytesOrderAndRunFigures) {
  const char* const fail = "DownFinish=Not:2.5 DownCode=1,2, DiskSpace=0 URLMon=1 SavePath=C:\\a\\ "
                           "DownMD5=* ERR: CANNOT OPEN FILE FileMD5=AB url=127.0.0.1/a.exe";
  RecordedRequest rows[] = {
      Row(std::string("/\x00\xFF?Data=%00&TimeID=", 20)),  // a NUL byte, "" and NULL kept apart
      Row("/?Key=Info&TimeID=1&PcId=C1&OS=Win7", "2026-12-05T23:59:58.120Z"),
      Row("/?Key=Setup&Data=BeginDown&TimeID=1&PcId=C1&OS=Win7", "2026-12-06T00:00:01.500Z"),
      Row("/?Key=Setup&Data=DownFinish=OK:8&TimeID=1&PcId=C1&OS=Win7", "2026-12-06T00:00:09.870Z"),
      Row("/?Key=Setup&Data=BeginDown&TimeID=2&PcId=%E6%B5%8B&Channel=%E6%B5%8B", "2026-12-06T08:00:01.000Z"),
      Row("/?Key=Setup&Data=" + std::string(fail) + "&TimeID=2&PcId=%E6%B5%8B", "2026-12-06T08:00:03.000Z"),
      Row("/?Key=Setup&Data=AutoReDown&TimeID=2&PcId=%E6%B5%8B", "2026-12-06T08:00:04.000Z"),
      Row("/?Key=Setup&Data=" + std::string(fail) + "&TimeID=2&PcId=%E6%B5%8B", "2026-12-06T08:00:07.000Z"),
  };
  std::vector<RunEvent> written, read;
  {
    auto store = Open();
    ASSERT_TRUE(store);
    for (const auto& r : rows) Add(*store, r), written.push_back(ToRunEvent(r));
  }
  auto store = Open(false);
  ASSERT_TRUE(store);
  const auto back = All(*store);
  ASSERT_EQ(back.size(), std::size(rows));
  for (size_t i = 0; i < back.size(); ++i)
    EXPECT_EQ(std::tie(back[i].target, back[i].time, back[i].fields), std::tie(rows[i].target, rows[i].time, rows[i].fields));
  std::string error;
  EXPECT_FALSE(store->Add(rows[0], &error));  // opened for reading
  EXPECT_FALSE(Store::Open(dir_ + "/none.db", false, &error));
  ASSERT_TRUE(ReadRunEvents(location_, read, &error)) << error;
  const Stats st = ComputeStats(read, {});
  EXPECT_EQ(StatsLines(st), StatsLines(ComputeStats(written, {})));
  EXPECT_EQ(std::make_pair(st.funnel.failed_twice, st.reasons.full_disk), std::make_pair(int64_t{1}, int64_t{2}));
  EXPECT_EQ(st.install_seconds, (std::vector<double>{11.75}));
  EXPECT_EQ(st.days.at("2026-12-05").runs, 1);  // a run's day is its first request's
}

TEST_P(StoreTest, ConcurrentWritersLoseNothing) {
  auto store = Open();
  ASSERT_TRUE(store);
  std::vector<std::thread> threads;
  for (int t = 0; t < 16; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 40; ++i) Add(*store, Row("/?Data=" + std::to_string(t) + "-" + std::to_string(i)));
    });
  for (auto& t : threads) t.join();
  const auto data = Data(*store);
  EXPECT_EQ(std::set<std::string>(data.begin(), data.end()).size(), 16u * 40);
}

// A spool left by a server that lost its database is written at the next start, in
// order, minus what the database already holds (committed, but the answer was lost).
TEST_P(StoreTest, SpoolIsReplayedInOrderExactlyOnce) {
  if (!GetParam()) GTEST_SKIP() << "SQLite writes never wait in a spool";
  const RecordedRequest a = Row("/?Data=a");
  Add(*Open(), a);
  const std::string torn = EncodeSpoolRecord(Row("/?Data=torn"));
  std::ofstream(spool_, std::ios::binary) << EncodeSpoolRecord(a) << EncodeSpoolRecord(Row("/?Data=b"))
                                          << EncodeSpoolRecord(Row("/?Data=c")) << torn.substr(0, torn.size() - 3);
  auto store = Open();
  Add(*store, Row("/?Data=d"));
  EXPECT_EQ(Data(*store), (std::vector<std::string>{"a", "b", "c", "d"}));
  store.reset();
  EXPECT_EQ(std::filesystem::file_size(spool_), 0u);
}

INSTANTIATE_TEST_SUITE_P(Backends, StoreTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Postgres" : "Sqlite"; });

TEST(Spool, IntactRecordsUpToTheFirstDamage) {
  const std::string one = EncodeSpoolRecord(Row(std::string("/?Key=Setup&Data=\x00\xFF", 19)));
  std::string bad_crc = one;
  bad_crc[4] ^= 1;
  const std::pair<std::string, size_t> cases[] = {  // bytes, intact records
      {"", 0},
      {one + one, 2},
      {one + one.substr(0, 7), 1},               // torn length
      {one + one.substr(0, one.size() - 1), 1},  // torn payload
      {one + bad_crc + one, 1},                  // damage ends the reading
      {std::string("\xFF\xFF\xFF\xFF\0\0\0\0", 8), 0},
  };
  for (const auto& [bytes, records] : cases) {
    size_t good = 99;
    const auto rows = DecodeSpoolRecords(bytes, &good);
    EXPECT_EQ(std::make_pair(rows.size(), good), std::make_pair(records, records * one.size())) << bytes.size();
    for (const auto& row : rows) EXPECT_EQ(EncodeSpoolRecord(row), one);
  }
  // A torn tail is cut when the spool opens, so the next record follows the intact ones.
  const std::string dir = MakeTempDir("spool");
  std::ofstream(dir + "/spool", std::ios::binary) << one << one.substr(0, 5);
  Spool spool;
  RecordedRequest b = Row("/?Data=b");
  std::vector<RecordedRequest> rows;
  std::string error;
  EXPECT_TRUE(spool.Open(dir + "/spool", &error) && spool.Append({&b}, &error) && spool.ReadAll(&rows, &error));
  std::filesystem::remove_all(dir);
  ASSERT_EQ(rows.size(), 2u) << error;
  EXPECT_EQ(rows[1].target, b.target);
}

}  // namespace
}  // namespace stub::server::testing
