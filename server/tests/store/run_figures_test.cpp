// The run figures as each store reduces them in its database: those of the requests walked one by one.
#include <future>

#include "stats/run_scenarios.h"
#include "test_server.h"

namespace stub::server::testing { namespace {

// Runs whose figures depend on the order of their requests, on absent against empty fields and on bytes a
// database could compare or read back wrongly. Each TimeID starting with "e" is one run unless said otherwise.
std::vector<RecordedRequest> EdgeRows() {
  const std::pair<std::string, const char*> rows[] = {  // target, time on 2026-12-DD
      {"/?Key=Info&TimeID=e1", "07T10:00:00.000"},  // no PcId and an empty one: one run
      {"/?Key=Setup&TimeID=e1&PcId=&Data=frmLoad", "07T10:00:01.000"},
      {"/?Key=Info&TimeID=e2&PcId=a&Channel=", "07T10:00:00.000"},  // the first channel given counts
      {"/?Key=Setup&TimeID=e2&PcId=a&Channel=late&SoftVer=V4&Data=BeginDown", "07T10:00:02.000"},
      {"/?Key=Setup&TimeID=e2&PcId=a&Channel=later&OS=Win8&OSBit=64&Data=AutoReDown", "07T10:00:03.000"},
      {"/?Key=Setup&TimeID=e2&PcId=b&Channel=other&Data=CheackFinish=OK", "07T10:00:04.000"},  // another machine
      // installed before the retry, then a failure after it: installed first and failed twice
      {"/?Key=Setup&TimeID=e3&Data=BeginDown", "07T11:00:00.000"},
      {"/?Key=Setup&TimeID=e3&Data=DownFinish=OK:1 DownCode=1,", "07T11:00:05.250"},
      {"/?Key=Setup&TimeID=e3&Data=AutoReDown", "07T11:00:06.000"},
      {"/?Key=Setup&TimeID=e3&Data=BeginDown", "07T11:00:07.000"},
      {"/?Key=Setup&TimeID=e4&Data=BeginDown", "07T11:00:07.500"},  // another run in between
      {std::string("/?Key=Setup&TimeID=e3&Data=") + kMismatch, "07T11:00:08.000"},
      // a failure after the retry, then an install: no double failure; CheackFinish does not end a download
      {"/?Key=Setup&TimeID=e4&Data=AutoReDown", "07T11:00:08.000"},
      {std::string("/?Key=Setup&TimeID=e4&Data=") + kUnreadableFullDisk + " Sign=unsigned",
       "07T11:00:09.000"},
      {"/?Key=Setup&TimeID=e4&Data=BeginDown", "07T11:00:10.000"},
      {"/?Key=Setup&TimeID=e4&Data=CheackFinish=OK", "07T11:00:11.000"},
      {"/?Key=Info&TimeID=e5&Data=frmLoad", "07T12:00:00.000"},  // an Info request's Data is no report
      {"/?Key=Setup&TimeID=e5&Data=GetNetIsnull=", "07T12:00:01.000"},  // a fallback alone: second instance
      {"/?TimeID=e6&Data=frmLoad", "07T12:00:00.000"},                  // no Key: no run
      {"/?Key=&TimeID=e6&Data=frmLoad", "07T12:00:00.000"},
      {"/?Key=Setup&TimeID=&Data=frmLoad", "07T12:00:00.000"},  // empty TimeID: no run
      // prefixes that are not quite them
      {"/?Key=Setup&TimeID=e7&Data=DownFinish=OK;1", "07T13:00:00.000"},
      {"/?Key=Setup&TimeID=e7&Data=GetNetIsnull", "07T13:00:01.000"},
      {"/?Key=Setup&TimeID=e7&Data=DownFinish=Not", "07T13:00:02.000"},
      {"/?Key=Setup&TimeID=e7&Data=BeginDown", "07T13:00:03.000"},
      {"/?Key=Setup&TimeID=e7&Data=DownFinish=OK:", "07T13:00:04.000"},
      {"/?Key=Setup&TimeID=e7&Data=IsDownEmp=OK", "07T13:00:05.000"},  // the install time is the first one's
      // a run's day is its first request's, whatever the clock did after
      {"/?Key=Info&TimeID=e8&Channel=late", "08T00:00:01.000"},
      {"/?Key=Setup&TimeID=e8&Data=IsDownEmp=OK", "07T23:59:59.000"},
      // bytes: NUL and a byte that is no UTF-8 in keys, failures of neighbouring keys
      {"/?Key=Setup&TimeID=e9%00x&PcId=%FF&Data=DownFinish=Not:1 DownCode=9,", "07T14:00:00.000"},
      {"/?Key=Setup&TimeID=e9&PcId=%FF&Data=DownFinish=Not:1 DownCode=8,", "07T14:00:01.000"},
      {"/?Key=Setup&TimeID=e9%00x&PcId=%FF&Data=DownFinish=Not:2 DownCode=7,%00", "07T14:00:02.000"},
      {"/?Key=Setup&TimeID=e9%00x&PcId=&Data=DownFinish=Not:1 DownCode=6,", "07T14:00:03.000"},
      {"/?Key=Setup&TimeID=e9%00x&Data=DownFinish=Not:1 DownCode=5,", "07T14:00:04.000"},
  };
  std::vector<RecordedRequest> out;
  for (const auto& [target, time] : rows) out.push_back(Row(target, std::string("2026-12-") + time + "Z"));
  return out;
}

// Every figure the database reduces equals that of walking the requests one by one, for every filter, on both
// stores: so the two stores give the same figures for the same rows.
TEST_P(BackendTest, DatabaseGivesTheFiguresOfTheRows) {
  std::vector<RecordedRequest> rows = Scenarios("b%FF");
  for (const auto& r : EdgeRows()) rows.push_back(r);
  auto store = Open();
  ASSERT_TRUE(store);
  EXPECT_EQ(Lines(*store), StatsLines(ComputeStats({}, {})));  // an empty table
  for (const auto& r : rows) Add(*store, r);
  const StatsFilter filters[] = {{"", "", ""},           {"2026-12-06", "", ""}, {"", "2026-12-05", "b\xFF"},
                                 {"2026-12-07", "2026-12-07", ""}, {"", "", "late"}, {"2027-01-01", "", ""}};
  for (const StatsFilter& filter : filters)
    EXPECT_EQ(Lines(*store, filter), StatsLines(ComputeStats(RunEvents(rows), filter)))
        << filter.since << " " << filter.until << " " << filter.channel;
}

// A reading of the figures does not hold up the store's own commits.
TEST_P(BackendTest, ReadingDoesNotHoldUpTheWriter) {
  auto store = Open();
  ASSERT_TRUE(store);
  for (const auto& r : Scenarios()) Add(*store, r);
  std::future<void> write;  // outlives the reading, so a commit that waits for it cannot hang the test
  std::string error;
  EXPECT_TRUE(store->ForEachRun(
      [&](const RunSummary&) {
        if (write.valid()) return;
        write = std::async(std::launch::async, [&] { Add(*store, Row("/?Key=Info&TimeID=new")); });
        EXPECT_EQ(write.wait_for(30s), std::future_status::ready) << "the commit waits for the reading";
      },
      &error))
      << error;
  ASSERT_TRUE(write.valid());
  write.get();
  EXPECT_EQ(Lines(*store)[0].rfind("{\"kind\":\"funnel\",\"runs\":8,", 0), 0u) << Lines(*store)[0];
}

}}  // namespace stub::server::testing
