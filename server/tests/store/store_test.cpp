// The run figures, and the store on SQLite and (STUB_TEST_PG_SOCKET: a cluster's socket folder) PostgreSQL.
#include <libpq-fe.h>

#include <atomic>
#include <set>
#include <thread>

#include "server/stats/figures.h"
#include "server/store/spool.h"
#include "test_server.h"

namespace stub::server::testing { namespace {

RecordedRequest Row(const std::string& target, const std::string& time = "2024-05-01T08:30:00.000Z") {
  RecordedRequest r;
  r.event_id = NewEventId(), r.time = time, r.client = "127.0.0.1", r.method = "GET", r.target = target;
  return r.fields = DecodeQuery(target), r;
}

const char kOk[] = "DownFinish=OK:3.5 DownCode=1,2,4,14,5,6, SavePath=C:\\Temp\\ url=127.0.0.1/a.exe";
const char kOkSigned[] = "DownFinish=OK:3.5 DownCode=1,2,4,14,5,6, SavePath=C:\\Temp\\ url=127.0.0.1/a.exe Sign=ok";
const char kMismatch[] =
    "DownFinish=Not:2 DownCode=1,2,4,14,5,6, DiskSpace=900 URLMon=1 SavePath=C:\\Temp\\ "
    "DownMD5=AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA FileMD5=BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB url=127.0.0.1/a.exe";
const char kUnreadableFullDisk[] =
    "DownFinish=Not:0.5 DownCode=1, DiskSpace=0 URLMon= SavePath=C:\\Program Files\\app\\ "
    "DownMD5=* ERR: CANNOT OPEN FILE FileMD5=BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB url=127.0.0.1/a.exe";

// One run: TimeID, PcId, the time (on 2026-12-DD) of its "Info" request, then its "Setup" reports (time, Data).
struct Run {
  const char *time_id, *pc, *info;
  std::vector<std::pair<const char*, const char*>> setup;
};
const Run kRuns[] = {
    {"t1", "pc1", "05T10:00:00.000",  // clean install: 10 s from the request to the install
     {{"05T10:00:01.100", "frmLoad"}, {"05T10:00:01.700", "BeginDown"}, {"05T10:00:10.000", kOk}}},
    {"t2b", "pc2", "05T10:00:02.000",  // a retry that installs: 40 s
     {{"05T10:00:02.600", "frmLoad"}, {"05T10:00:03.000", "BeginDown"}, {"05T10:00:20.000", kMismatch},
      {"05T10:00:21.000", "AutoReDown"}, {"05T10:00:22.000", "BeginDown"}, {"05T10:00:42.000", kOk}}},
    {"t1", "pc3", "05T11:00:00.000",  // same TimeID, another machine: a run reusing the file, 2 s
     {{"05T11:00:01.100", "frmLoad"}, {"05T11:00:02.000", "IsDownEmp=OK"}}},
    {"t4b", "pc1", "06T09:00:00.000",  // a double failure, then the browser
     {{"06T09:00:01.100", "frmLoad"}, {"06T09:00:02.000", "BeginDown"}, {"06T09:00:03.000", kUnreadableFullDisk},
      {"06T09:00:04.000", "AutoReDown"}, {"06T09:00:05.000", "BeginDown"}, {"06T09:00:09.000", kMismatch},
      {"06T09:00:30.000", "Image4_Click"}}},
    {"t5", "pc2", "06T09:10:00.000",  // closed during the download
     {{"06T09:10:01.100", "frmLoad"}, {"06T09:10:02.000", "BeginDown"}}},
    {"t6", "pc2", "06T09:10:03.000", {}},  // a second instance of it: asks, reports nothing else
    {"t7", "pc3", "06T09:20:00.000",  // no usable reply nor writable folder, installs: 20 s
     {{"06T09:20:05.000", "GetNetIsnull=''"}, {"06T09:20:06.100", "frmLoad"}, {"06T09:20:07.000", "TestEmp=Not"},
      {"06T09:20:07.100", "BeginDown"}, {"06T09:20:20.000", kOkSigned}}},
};

// The runs as recorded, after a download: TimeIDs holding "b" are channel `beta`, pc2 is a 32-bit XP machine.
std::vector<RecordedRequest> Scenarios(const std::string& beta = "beta") {
  std::vector<RecordedRequest> out = {Row("/a.exe", "2026-12-05T10:00:01.800Z")};
  for (const Run& run : kRuns) {
    const bool xp = std::string(run.pc) == "pc2", b = std::string(run.time_id).find('b') != std::string::npos;
    const std::string rest = std::string("&SoftVer=V3.1.1&TimeID=") + run.time_id + "&PcId=" + run.pc + "&Channel=" +
                             (b ? beta : "wlpq") + (xp ? "&OS=WinXP&OSBit=32" : "&OS=Win7&OSBit=64");
    out.push_back(Row("/?Key=Info&Data=" + rest, std::string("2026-12-") + run.info + "Z"));
    for (const auto& [time, data] : run.setup)
      out.push_back(Row(std::string("/?Key=Setup&Data=") + data + rest, std::string("2026-12-") + time + "Z"));
  }
  return out;
}

std::vector<RunEvent> RunEvents(const std::vector<RecordedRequest>& rows = Scenarios()) {
  std::vector<RunEvent> out;
  for (const auto& r : rows) out.push_back(ToRunEvent(r));
  return out;
}

TEST(Stats, FunnelOfTheScenarios) {
  const Stats st = ComputeStats(RunEvents(), {});
  const Funnel& f = st.funnel;
  const Reasons& r = st.reasons;
  EXPECT_EQ((std::vector<int64_t>{f.runs, f.window_shown, f.download_begun, f.installed_first, f.installed_retry,
                                  f.reused, f.failed_twice, f.browser_used, f.closed_during_download,
                                  f.second_instance, r.digest_mismatch, r.file_unreadable, r.full_disk,
                                  r.no_writable_folder, r.fallback_download}),
            (std::vector<int64_t>{7, 6, 5, 2, 1, 1, 1, 1, 1, 1, 2, 1, 1, 1, 1}));
  EXPECT_EQ(r.trails, (std::map<std::string, int64_t>{{"1,", 1}, {"1,2,4,14,5,6,", 2}}));
  EXPECT_EQ(st.install_seconds, (std::vector<double>{2, 10, 20, 40}));
  EXPECT_EQ(std::make_tuple(st.days.at("2026-12-05").installed(), st.days.at("2026-12-06").runs,
                            st.splits.at("2026-12-05").at("os").at("WinXP").installed_retry,
                            st.splits.at("2026-12-06").at("bits").at("32").runs), std::make_tuple(3, 4, 1, 2));
  // One failure without a retry is not failing twice.
  EXPECT_EQ(ComputeStats({ToRunEvent(Row(std::string("/?Key=Setup&TimeID=t9&Data=") + kMismatch))}, {})
                .funnel.failed_twice, 0);
  const auto lines = StatsLines(ComputeStats(RunEvents(Scenarios("b%FF")), {}));
  EXPECT_EQ(lines[0].rfind("{\"kind\":\"funnel\",\"runs\":7,", 0), 0u) << lines[0];
  EXPECT_NE(lines[2].find("\"median_s\":10.0,\"p90_s\":40.0"), std::string::npos) << lines[2];  // percentiles
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

// Each failed download counts under one reason. A report that ends in a refused signature counts under its
// verdict whatever its digests say; only a known verdict at the very end counts, so an address cannot pass for one.
TEST(Stats, ReasonOfEachFailedDownload) {
  const std::string mismatch = kMismatch, unreadable = kUnreadableFullDisk;
  const std::pair<std::string, const char*> cases[] = {  // a failed download's data, its reason or refusal verdict
      {mismatch, "digest_mismatch"},
      {unreadable, "file_unreadable"},
      {mismatch + " Sign=unsigned", "unsigned"},
      {mismatch + " Sign=bad-digest", "bad-digest"},
      {unreadable + " Sign=untrusted-root", "untrusted-root"},
      {mismatch + " Sign=not-pinned", "not-pinned"},
      {mismatch + " Sign=ok", "digest_mismatch"},  // the signature was not what failed
      {mismatch + " Sign=expired", "digest_mismatch"},
      {mismatch + " Sign=", "digest_mismatch"},
      {mismatch + " Sign=unsigned ", "digest_mismatch"},
      {mismatch + " Sign=unsignedx", "digest_mismatch"},
      {mismatch + "Sign=unsigned", "digest_mismatch"},
      {mismatch + " sign=unsigned", "digest_mismatch"},            // an address's own text, lower case
      {mismatch + "/a b Sign=unsigned Sign=ok", "digest_mismatch"},  // only the last field counts
      {unreadable + "?q= Sign=not-pinned x", "file_unreadable"},
  };
  std::vector<RunEvent> all;
  for (const auto& [data, reason] : cases) {
    all.push_back(ToRunEvent(Row("/?Key=Setup&TimeID=t" + std::to_string(all.size()) + "&Data=" + data)));
    const Reasons r = ComputeStats({all.back()}, {}).reasons;
    std::string got = r.digest_mismatch ? "digest_mismatch" : r.file_unreadable ? "file_unreadable" : "";
    for (const auto& [verdict, n] : r.signature_verdicts) got += verdict;
    EXPECT_EQ(std::make_tuple(got, r.digest_mismatch + r.file_unreadable + r.signature, r.trails.size()),
              std::make_tuple(reason, 1, 1u)) << data;
  }
  EXPECT_EQ(StatsLines(ComputeStats(all, {}))[1],
            "{\"kind\":\"reasons\",\"digest_mismatch\":9,\"file_unreadable\":2,\"signature\":4,"
            "\"signature_unsigned\":1,\"signature_bad_digest\":1,\"signature_untrusted_root\":1,"
            "\"signature_not_pinned\":1,\"full_disk\":3,\"no_writable_folder\":0,\"fallback_download\":0,"
            "\"trails\":{\"1,\":3,\"1,2,4,14,5,6,\":12}}");
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

INSTANTIATE_TEST_SUITE_P(Backends, StoreTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Postgres" : "Sqlite"; });

}}  // namespace stub::server::testing
