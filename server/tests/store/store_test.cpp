// The store on SQLite and (STUB_TEST_PG_SOCKET: a cluster's socket folder) PostgreSQL, and its spool.
#include <sys/stat.h>

#include <set>

#include "server/store/spool.h"
#include "stats/run_scenarios.h"
#include "test_server.h"

namespace stub::server::testing { namespace {

// Rows come back in order with their bytes; a store opened for reading takes none.
TEST_P(BackendTest, KeepsBytesAndOrder) {
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
}

TEST_P(BackendTest, ConcurrentWritersLoseNothing) {
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

// A spool holding `records` after its header, whose replay point is `replayed` (0: the header's end).
std::string SpoolBytes(const std::string& records, uint64_t replayed = 0, uint32_t version = kSpoolVersion) {
  std::string h(kSpoolMagic, sizeof kSpoolMagic);
  if (!replayed) replayed = kSpoolHeaderSize;
  for (uint64_t v : {uint64_t{version}, uint64_t{0}, replayed & 0xFFFFFFFF, replayed >> 32})
    for (int i = 0; i < 4; ++i) h.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  return h + records;
}

// A spool left by a lost database is replayed at the next start, minus rows already committed.
TEST_P(BackendTest, SpoolIsReplayedInOrderExactlyOnce) {
  if (!GetParam()) GTEST_SKIP() << "SQLite writes never wait in a spool";
  const RecordedRequest a = Row("/?Data=a");
  Add(*Open(), a);
  const std::string torn = EncodeSpoolRecord(Row("/?Data=torn"));
  std::vector<std::string> want = {"a"};
  std::string records = EncodeSpoolRecord(a);
  for (int i = 0; i < 4500; ++i) {  // several chunks, each more than one statement's worth
    want.push_back(std::to_string(i));
    records += EncodeSpoolRecord(Row("/?Data=" + want.back()));
  }
  std::ofstream(spool_, std::ios::binary) << SpoolBytes(records + torn.substr(0, torn.size() - 3));
  auto store = Open();
  Add(*store, Row("/?Data=d"));  // joins the spool behind the older rows
  want.push_back("d");
  EXPECT_TRUE(Eventually([&] { return store->Health().spool_rows == 0; }));
  EXPECT_EQ(Data(), want);
  EXPECT_EQ(store->Health().rows_committed, want.size() - 1);  // a, already there, is skipped
  store.reset();
  EXPECT_EQ(std::filesystem::file_size(spool_), kSpoolHeaderSize);
}

TEST_P(BackendTest, SpoolReadsIntactRecordsUpToTheFirstDamage) {
  if (GetParam()) GTEST_SKIP() << "the spool is a file of its own";
  const std::string one = EncodeSpoolRecord(Row(std::string("/?Key=Setup&Data=\x00\xFF", 19)));
  std::string bad_crc = one;
  bad_crc[4] ^= 1;
  size_t good = 0;  // every field and byte comes back; a torn record is not read
  const auto back = DecodeSpoolRecords(one + one.substr(0, 7), &good);
  EXPECT_EQ(std::make_pair(good, back.size() == 1 ? EncodeSpoolRecord(back[0]) : ""),
            std::make_pair(one.size(), one));
  // As a file: a torn end is cut, so the next record follows the intact ones; damage with intact
  // records after it moves the whole file aside, with a loud message, and a fresh spool begins.
  std::string zeros(300, '\0');
  const struct {
    std::string file;
    uint64_t waiting;  // requests waiting once open
    bool aside;        // moved aside
  } files[] = {
      {"", 0, false},
      {SpoolBytes(""), 0, false},
      {SpoolBytes(one + one), 2, false},
      {SpoolBytes(one + one.substr(0, 5)), 1, false},
      {SpoolBytes(one + one.substr(0, one.size() - 1)), 1, false},
      {SpoolBytes(one + zeros), 1, false},                       // grown by a crash, never written
      {SpoolBytes(one + bad_crc), 1, false},                     // the last record, half on disk
      {SpoolBytes(one + one, kSpoolHeaderSize + one.size()), 1, false},  // the first is in the database
      {SpoolBytes(one + bad_crc + one), 0, true},
      {SpoolBytes(one + zeros + one), 0, true},
      {SpoolBytes(one).substr(0, 10), 0, false},                 // a crash while the header was written
      {one + one.substr(0, 9), 1, false},                        // no header: the format before it
      {bad_crc + one, 0, true},                                  // no header, and not that format either
      {"not a spool at all, but a file somebody named so", 0, true},
  };
  for (const auto& f : files) {
    SCOPED_TRACE(f.file.size());
    std::ofstream(spool_, std::ios::binary | std::ios::trunc) << f.file;
    ::testing::internal::CaptureStderr();
    Spool spool;
    std::string error;
    ASSERT_TRUE(spool.Open(spool_, &error)) << error;
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(spool.rows(), f.waiting);
    EXPECT_EQ(!spool.quarantined().empty(), f.aside);
    EXPECT_EQ(said.find("SPOOL DAMAGED") != std::string::npos, f.aside) << said;
    if (f.aside) {
      EXPECT_EQ(ReadFile(spool.quarantined()), f.file);  // kept byte for byte
      std::filesystem::remove(spool.quarantined());
    }
    RecordedRequest b = Row("/?Data=b");
    std::vector<RecordedRequest> rows;
    uint64_t end = 0;
    EXPECT_TRUE(spool.Append({&b}, &error) && spool.ReadChunk(100, 1 << 20, &rows, &end, &error)) << error;
    EXPECT_EQ(rows.size() == f.waiting + 1 ? rows.back().target : error, b.target);
  }
  // A newer format is left alone, and the server does not start on it.
  std::ofstream(spool_, std::ios::binary | std::ios::trunc) << SpoolBytes(one, 0, kSpoolVersion + 1);
  Spool newer;
  std::string error;
  EXPECT_FALSE(newer.Open(spool_, &error));
  EXPECT_NE(error.find("newer"), std::string::npos) << error;
}

// The spool is replayed in chunks of bounded size; the replay point survives a restart; a second
// server cannot open a spool in use.
TEST(Spool, ReplaysInBoundedChunksAndIsLocked) {
  TempDir tmp;
  const std::string path = tmp.path() / "spool";
  std::vector<RecordedRequest> rows;
  for (int i = 0; i < 10; ++i) rows.push_back(Row("/?Data=" + std::to_string(i)));
  std::vector<RecordedRequest*> all;
  for (auto& r : rows) all.push_back(&r);
  std::string error;
  std::vector<RecordedRequest> chunk;
  uint64_t end = 0;
  {
    Spool spool;
    ASSERT_TRUE(spool.Open(path, &error) && spool.Append(all, &error)) << error;
    Spool second;
    EXPECT_FALSE(second.Open(path, &error));
    EXPECT_NE(error.find("in use by another report-server"), std::string::npos) << error;
    const size_t record = EncodeSpoolRecord(rows[0]).size();
    const std::tuple<size_t, size_t, size_t> reads[] = {  // at most rows, at most bytes; rows given
        {4, 1 << 20, 4}, {100, 2 * record, 2}, {100, 1, 1}};
    size_t from = 0;
    for (const auto& [max_rows, max_bytes, given] : reads) {
      ASSERT_TRUE(spool.ReadChunk(max_rows, max_bytes, &chunk, &end, &error)) << error;
      ASSERT_EQ(chunk.size(), given);
      EXPECT_EQ(chunk.front().target, rows[from].target);
      ASSERT_TRUE(spool.Consumed(end, chunk.size(), &error)) << error;
      from += given;
    }
    EXPECT_EQ(spool.rows(), rows.size() - from);
  }
  Spool again;
  ASSERT_TRUE(again.Open(path, &error)) << error;
  EXPECT_EQ(again.rows(), 3u);
  ASSERT_TRUE(again.ReadChunk(100, 1 << 20, &chunk, &end, &error) && again.Consumed(end, chunk.size(), &error));
  EXPECT_EQ(chunk.front().target, rows[7].target);
  EXPECT_TRUE(again.empty());
  EXPECT_EQ(std::filesystem::file_size(path), kSpoolHeaderSize);
}

// The store starts while PostgreSQL is down, on the spool, and writes the spool to it (making the
// schema) once it is back.
TEST_P(BackendTest, StartsWhileTheDatabaseIsDownAndCatchesUp) {
  if (!GetParam()) GTEST_SKIP() << "SQLite is a file";
  const std::string down = dir_ + "/down", name = location_.substr(14, location_.find('?') - 14);
  std::string error;
  auto store = Store::Open(DownLocation(down, name), true, &error, spool_);
  ASSERT_TRUE(store) << error;
  std::vector<std::string> want;
  for (int i = 0; i < 50; ++i) {
    RecordedRequest r = Row("/?Data=" + std::to_string(i));
    want.push_back(std::to_string(i));
    EXPECT_TRUE(store->Add(r, &error)) << error;
    EXPECT_EQ(r.id, 0);  // waits in the spool
  }
  StoreHealth h = store->Health();
  EXPECT_EQ(std::make_tuple(h.database_ok, h.spool_rows, h.rows_spooled, h.rows_committed),
            std::make_tuple(false, uint64_t{50}, uint64_t{50}, uint64_t{0}));
  const char* socket = std::getenv("STUB_TEST_PG_SOCKET");
  std::filesystem::create_symlink(std::string(socket) + "/.s.PGSQL.5432", down + "/.s.PGSQL.5432");  // back
  EXPECT_TRUE(Eventually([&] { return store->Health().spool_rows == 0; }));
  RecordedRequest after = Row("/?Data=after");
  EXPECT_TRUE(store->Add(after, &error)) << error;
  EXPECT_GT(after.id, 0);  // straight into the database again
  want.push_back("after");
  EXPECT_EQ(Data(), want);
  h = store->Health();
  EXPECT_EQ(std::make_tuple(h.database_ok, h.spool_rows, h.rows_committed), std::make_tuple(true, uint64_t{0}, uint64_t{51}));
}

// The request log and the spool are readable by their owner (and group) only, whatever the umask.
TEST(StoreFiles, AreNeverWorldReadable) {
  TempDir tmp;
  const mode_t old = umask(022);
  std::string error;
  const std::string db = tmp.path() / "requests.db", spool = tmp.path() / "spool";
  {
    auto sqlite = Store::Open(db, true, &error);
    RecordedRequest r = Row("/?Data=x");
    ASSERT_TRUE(sqlite && sqlite->Add(r, &error)) << error;
    auto pg = Store::Open(DownLocation(tmp.path() / "down"), true, &error, spool);
    ASSERT_TRUE(pg) << error;
    for (const std::string& path : {db, db + "-wal", db + "-shm", spool}) {
      struct stat st;
      ASSERT_EQ(stat(path.c_str(), &st), 0) << path;
      EXPECT_EQ(st.st_mode & 0037, 0u) << path << " has mode " << std::oct << (st.st_mode & 0777);
    }
  }
  umask(old);
}

// Prune deletes exactly the rows of earlier UTC days, oldest first in chunks, whatever their number.
TEST_P(BackendTest, PruneDeletesTheRowsOfEarlierDaysOnly) {
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

INSTANTIATE_TEST_SUITE_P(Backends, BackendTest, ::testing::Bool(),  // run_figures_test.cpp's tests too
                         [](const auto& info) { return info.param ? "Postgres" : "Sqlite"; });

}}  // namespace stub::server::testing
