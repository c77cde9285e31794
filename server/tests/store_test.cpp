// The run figures, and the store contract on both backends: SQLite always,
// PostgreSQL when STUB_TEST_PG_SOCKET names the socket folder of a scratch cluster.
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

const char kOk[] = "DownFinish=OK:3.5 DownCode=1,2,4,14,5,6, SavePath=C:\\Temp\\ url=127.0.0.1/a.exe";
const char kMismatch[] =
    "DownFinish=Not:2 DownCode=1,2,4,14,5,6, DiskSpace=900 URLMon=1 SavePath=C:\\Temp\\ "
    "DownMD5=AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA FileMD5=BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB url=127.0.0.1/a.exe";
const char kUnreadableFullDisk[] =
    "DownFinish=Not:0.5 DownCode=1, DiskSpace=0 URLMon= SavePath=C:\\Program Files\\app\\ "
    "DownMD5=* ERR: CANNOT OPEN FILE FileMD5=BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB url=127.0.0.1/a.exe";

struct Step {
  const char *time, *time_id, *pc, *key, *data;
};

// Interleaved as they would arrive.
const Step kScenarios[] = {
    {"2026-12-05T10:00:00.000Z", "t1", "pc1", "Info", ""},  // clean install: 10 s from the request to the install
    {"2026-12-05T10:00:01.100Z", "t1", "pc1", "Setup", "frmLoad"},
    {"2026-12-05T10:00:01.700Z", "t1", "pc1", "Setup", "BeginDown"},
    {"2026-12-05T10:00:01.800Z", "", "", "", ""},  // the download itself (no Key)
    {"2026-12-05T10:00:02.000Z", "t2b", "pc2", "Info", ""},  // a retry that installs: 40 s
    {"2026-12-05T10:00:02.600Z", "t2b", "pc2", "Setup", "frmLoad"},
    {"2026-12-05T10:00:03.000Z", "t2b", "pc2", "Setup", "BeginDown"},
    {"2026-12-05T10:00:10.000Z", "t1", "pc1", "Setup", kOk},
    {"2026-12-05T10:00:20.000Z", "t2b", "pc2", "Setup", kMismatch},
    {"2026-12-05T10:00:21.000Z", "t2b", "pc2", "Setup", "AutoReDown"},
    {"2026-12-05T10:00:22.000Z", "t2b", "pc2", "Setup", "BeginDown"},
    {"2026-12-05T10:00:42.000Z", "t2b", "pc2", "Setup", kOk},
    {"2026-12-05T11:00:00.000Z", "t1", "pc3", "Info", ""},  // same TimeID, another machine: a run reusing the file, 2 s
    {"2026-12-05T11:00:01.100Z", "t1", "pc3", "Setup", "frmLoad"},
    {"2026-12-05T11:00:02.000Z", "t1", "pc3", "Setup", "IsDownEmp=OK"},
    {"2026-12-06T09:00:00.000Z", "t4b", "pc1", "Info", ""},  // a double failure, then the browser
    {"2026-12-06T09:00:01.100Z", "t4b", "pc1", "Setup", "frmLoad"},
    {"2026-12-06T09:00:02.000Z", "t4b", "pc1", "Setup", "BeginDown"},
    {"2026-12-06T09:00:03.000Z", "t4b", "pc1", "Setup", kUnreadableFullDisk},
    {"2026-12-06T09:00:04.000Z", "t4b", "pc1", "Setup", "AutoReDown"},
    {"2026-12-06T09:00:05.000Z", "t4b", "pc1", "Setup", "BeginDown"},
    {"2026-12-06T09:00:09.000Z", "t4b", "pc1", "Setup", kMismatch},
    {"2026-12-06T09:00:30.000Z", "t4b", "pc1", "Setup", "Image4_Click"},
    {"2026-12-06T09:10:00.000Z", "t5", "pc2", "Info", ""},  // closed during the download
    {"2026-12-06T09:10:01.100Z", "t5", "pc2", "Setup", "frmLoad"},
    {"2026-12-06T09:10:02.000Z", "t5", "pc2", "Setup", "BeginDown"},
    {"2026-12-06T09:10:03.000Z", "t6", "pc2", "Info", ""},  // a second instance of it: asks, reports nothing else
    {"2026-12-06T09:20:00.000Z", "t7", "pc3", "Info", ""},  // no usable reply nor writable folder, installs: 20 s
    {"2026-12-06T09:20:05.000Z", "t7", "pc3", "Setup", "GetNetIsnull=''"},
    {"2026-12-06T09:20:06.100Z", "t7", "pc3", "Setup", "frmLoad"},
    {"2026-12-06T09:20:07.000Z", "t7", "pc3", "Setup", "TestEmp=Not"},
    {"2026-12-06T09:20:07.100Z", "t7", "pc3", "Setup", "BeginDown"},
    {"2026-12-06T09:20:20.000Z", "t7", "pc3", "Setup", kOk},
};

// The scenarios as recorded: TimeIDs holding "b" are channel `beta`, pc2 is a 32-bit XP machine.
std::vector<RecordedRequest> Scenarios(const std::string& beta = "beta") {
  std::vector<RecordedRequest> out;
  for (const Step& s : kScenarios) {
    const bool xp = std::string(s.pc) == "pc2", b = std::string(s.time_id).find('b') != std::string::npos;
    out.push_back(Row(std::string("/?Key=") + s.key + "&Data=" + s.data + "&TimeID=" + s.time_id +
                          "&PcId=" + s.pc + "&Channel=" + (b ? beta : "wlpq") + "&SoftVer=V3.1.1" +
                          (xp ? "&OS=WinXP&OSBit=32" : "&OS=Win7&OSBit=64"),
                      s.time));
  }
  return out;
}

std::vector<RunEvent> RunEvents(const std::string& beta = "beta") {
  std::vector<RunEvent> out;
  for (const auto& r : Scenarios(beta)) out.push_back(ToRunEvent(r));
  return out;
}

TEST(Stats, FunnelOfTheScenarios) {
  const Stats st = ComputeStats(RunEvents(), {});
  const Funnel& f = st.funnel;
  EXPECT_EQ((std::vector<int64_t>{f.runs, f.window_shown, f.download_begun, f.installed_first, f.installed_retry,
                                  f.reused, f.failed_twice, f.browser_used, f.closed_during_download,
                                  f.second_instance}),
            (std::vector<int64_t>{7, 6, 5, 2, 1, 1, 1, 1, 1, 1}));
  const Reasons& r = st.reasons;
  EXPECT_EQ((std::vector<int64_t>{r.digest_mismatch, r.file_unreadable, r.full_disk, r.no_writable_folder,
                                  r.fallback_download}),
            (std::vector<int64_t>{2, 1, 1, 1, 1}));
  EXPECT_EQ(r.trails, (std::map<std::string, int64_t>{{"1,", 1}, {"1,2,4,14,5,6,", 2}}));
  EXPECT_EQ(st.install_seconds, (std::vector<double>{2, 10, 20, 40}));
  EXPECT_EQ(Percentile(st.install_seconds, 50), 10);
  EXPECT_EQ(Percentile(st.install_seconds, 90), 40);
  EXPECT_EQ(st.days.at("2026-12-05").installed(), 3);
  EXPECT_EQ(st.days.at("2026-12-06").runs, 4);
  EXPECT_EQ(st.splits.at("2026-12-05").at("os").at("WinXP").installed_retry, 1);
  EXPECT_EQ(st.splits.at("2026-12-06").at("bits").at("32").runs, 2);
  // One failure without a retry is not failing twice.
  EXPECT_EQ(ComputeStats({ToRunEvent(Row(std::string("/?Key=Setup&TimeID=t9&Data=") + kMismatch))}, {})
                .funnel.failed_twice, 0);
  const auto lines = StatsLines(ComputeStats(RunEvents("b%FF"), {}));
  EXPECT_EQ(lines[0].rfind("{\"kind\":\"funnel\",\"runs\":7,", 0), 0u) << lines[0];
  EXPECT_NE(lines[2].find("\"median_s\":10.0,\"p90_s\":40.0"), std::string::npos) << lines[2];
  EXPECT_EQ(lines.back(), "{\"kind\":\"channels\",\"values\":[\"b\xEF\xBF\xBD\",\"wlpq\"]}");
  const std::tuple<StatsFilter, int64_t, int64_t> filters[] = {  // since, until, channel: runs, installs
      {{"2026-12-06", "", ""}, 4, 1}, {{"", "2026-12-05", "beta"}, 1, 1}, {{"2027-01-01", "", ""}, 0, 0}};
  for (const auto& [filter, runs, installed] : filters) {
    const Stats fs = ComputeStats(RunEvents(), filter);
    EXPECT_EQ(std::make_pair(fs.funnel.runs, fs.funnel.installed()), std::make_pair(runs, installed))
        << filter.since << filter.until << filter.channel;
    EXPECT_EQ(fs.channels, (std::vector<std::string>{"beta", "wlpq"}));  // the choices stay complete
  }
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
  std::vector<RecordedRequest> rows = Scenarios();
  rows.insert(rows.begin(), Row(std::string("/\x00\xFF?Data=%00&TimeID=&Channel=%E6%B5%8B", 38)));
  {
    auto store = Open();
    ASSERT_TRUE(store);
    for (const auto& r : rows) Add(*store, r);
  }
  auto store = Open(false);
  ASSERT_TRUE(store);
  const auto back = All(*store);
  ASSERT_EQ(back.size(), rows.size());
  for (size_t i = 0; i < back.size(); ++i)
    EXPECT_EQ(std::tie(back[i].target, back[i].time, back[i].fields),
              std::tie(rows[i].target, rows[i].time, rows[i].fields));
  std::string error;
  EXPECT_FALSE(store->Add(rows[0], &error));  // opened for reading
  EXPECT_FALSE(Store::Open(dir_ + "/none.db", false, &error));
  std::vector<RunEvent> read, written;
  for (const auto& r : rows) written.push_back(ToRunEvent(r));
  ASSERT_TRUE(ReadRunEvents(location_, read, &error)) << error;
  EXPECT_EQ(StatsLines(ComputeStats(read, {})), StatsLines(ComputeStats(written, {})));
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
