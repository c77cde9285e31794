// The store on SQLite and (STUB_TEST_PG_SOCKET: a cluster's socket folder) PostgreSQL, and its spool.
#include <libpq-fe.h>

#include <atomic>
#include <set>
#include <thread>

#include "server/store/spool.h"
#include "stats/run_scenarios.h"
#include "test_server.h"

namespace stub::server::testing { namespace {

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
    PQclear(PQexec(c, ("CREATE DATABASE " + name).c_str()));  // a failure shows when the store opens
    PQfinish(c);
    location_ = "postgresql:///" + name + "?host=" + socket + "&user=postgres";
  }
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
  std::vector<std::string> Data() const {
    std::vector<std::string> out;
    for (const auto& r : ReadAll(location_)) out.push_back(r.fields[1].value_or("<null>"));
    return out;
  }

  TempDir tmp_;
  std::string dir_ = tmp_.path(), spool_ = dir_ + "/spool", location_ = dir_ + "/requests.db";
};

// Rows come back in order with their bytes; the run figures read from the store are those of the rows written.
TEST_P(StoreTest, KeepsBytesOrderAndRunFigures) {
  std::vector<RecordedRequest> rows = Scenarios();
  rows.insert(rows.begin(), Row(std::string("/\x00\xFF?Data=%00&TimeID=&Channel=%E6%B5%8B", 38)));
  if (auto store = Open())
    for (const auto& r : rows) Add(*store, r);
  auto store = Open(false);
  const auto back = ReadAll(location_);
  ASSERT_EQ(back.size(), rows.size());
  for (size_t i = 0; i < back.size(); ++i)
    EXPECT_EQ(std::tie(back[i].target, back[i].time, back[i].fields),
              std::tie(rows[i].target, rows[i].time, rows[i].fields));
  std::string error;
  EXPECT_FALSE(store && store->Add(rows[0], &error));  // opened for reading
  EXPECT_FALSE(Store::Open(dir_ + "/none.db", false, &error));
  std::vector<RunEvent> read;
  ASSERT_TRUE(ReadRunEvents(location_, read, &error)) << error;
  EXPECT_EQ(StatsLines(ComputeStats(read, {})), StatsLines(ComputeStats(RunEvents(rows), {})));
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
  const auto data = Data();
  EXPECT_EQ(std::set<std::string>(data.begin(), data.end()).size(), 16u * 40);
}

// A spool left by a lost database is replayed at the next start, minus rows already committed.
TEST_P(StoreTest, SpoolIsReplayedInOrderExactlyOnce) {
  if (!GetParam()) GTEST_SKIP() << "SQLite writes never wait in a spool";
  const RecordedRequest a = Row("/?Data=a");
  Add(*Open(), a);
  const std::string torn = EncodeSpoolRecord(Row("/?Data=torn"));
  std::vector<std::string> want = {"a"};
  {
    std::ofstream spool(spool_, std::ios::binary);
    spool << EncodeSpoolRecord(a);
    for (int i = 0; i < 1500; ++i) {  // more than one statement's worth
      want.push_back(std::to_string(i));
      spool << EncodeSpoolRecord(Row("/?Data=" + want.back()));
    }
    spool << torn.substr(0, torn.size() - 3);
  }
  auto store = Open();
  Add(*store, Row("/?Data=d"));
  want.push_back("d");
  EXPECT_EQ(Data(), want);
  store.reset();
  EXPECT_EQ(std::filesystem::file_size(spool_), 0u);
}

TEST_P(StoreTest, SpoolReadsIntactRecordsUpToTheFirstDamage) {
  if (GetParam()) GTEST_SKIP() << "the spool is a file of its own";
  const std::string one = EncodeSpoolRecord(Row(std::string("/?Key=Setup&Data=\x00\xFF", 19)));
  std::string bad_crc = one;
  bad_crc[4] ^= 1;
  const std::pair<std::string, size_t> cases[] = {  // bytes, intact records
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
  std::ofstream(spool_, std::ios::binary) << one << one.substr(0, 5);
  Spool spool;
  RecordedRequest b = Row("/?Data=b");
  std::vector<RecordedRequest> rows;
  std::string error;
  EXPECT_TRUE(spool.Open(spool_, &error) && spool.Append({&b}, &error) && spool.ReadAll(&rows, &error));
  EXPECT_EQ(rows.size() == 2 ? rows[1].target : error, b.target);
}

// Prune deletes exactly the rows of earlier UTC days, oldest first in chunks, whatever their number.
TEST_P(StoreTest, PruneDeletesTheRowsOfEarlierDaysOnly) {
  const std::pair<const char*, bool> rows[] = {  // time, kept by a prune before 2026-12-05
      {"2025-12-31T23:59:59.999Z", false}, {"2026-12-05T00:00:00.000Z", true}, {"2026-11-30T12:00:00.000Z", false},
      {"2026-12-04T23:59:59.999Z", false}, {"2026-12-06T08:00:00.000Z", true}, {"2026-12-04T00:00:00.000Z", false},
      {"2026-01-05T10:00:00.000Z", false}, {"2026-12-05T23:59:59.999Z", true}};
  auto store = Open();
  ASSERT_TRUE(store);
  std::vector<std::string> kept;
  for (const auto& [time, keep] : rows) {
    Add(*store, Row(std::string("/?Data=") + time, time));
    if (keep) kept.push_back(time);
  }
  const std::tuple<const char*, int, int64_t> prunes[] = {  // before, chunk, deleted
      {"2025-12-31", 2, 0}, {"2026-12-05", 2, 5}, {"2026-12-05", 2, 0}};
  for (const auto& [before, chunk, want] : prunes) {
    int64_t deleted = -1;
    std::string error;
    EXPECT_TRUE(store->DeleteBefore(before, &deleted, &error, chunk)) << error;
    EXPECT_EQ(deleted, want) << before;
  }
  EXPECT_EQ(Data(), kept);
  int64_t deleted = -1;
  std::string error;
  EXPECT_TRUE(Open(false)->DeleteBefore("2026-12-06", &deleted, &error)) << error;  // as the command opens it
  EXPECT_EQ(deleted, 2);
}

INSTANTIATE_TEST_SUITE_P(Backends, StoreTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Postgres" : "Sqlite"; });

}}  // namespace stub::server::testing
