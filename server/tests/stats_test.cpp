// Runs and their funnel from hand-written requests, one run per scenario, worked out by hand.
#include <gtest/gtest.h>

#include "server/stats.h"

namespace stub::server {
namespace {

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

// TimeIDs ending in "b" are channel `beta`; pc2 is a 32-bit XP machine.
std::vector<RunEvent> Events(const std::vector<Step>& steps, const char* beta = "beta") {
  std::vector<RunEvent> out;
  for (const Step& s : steps) {
    const bool xp = std::string(s.pc) == "pc2";
    out.push_back({s.time, s.key, s.data, s.time_id, s.pc, std::string(s.time_id).find('b') != std::string::npos ? beta : "wlpq",
                   "V3.1.1", xp ? "WinXP" : "Win7", xp ? "32" : "64"});
  }
  return out;
}

// Interleaved as they would arrive.
const std::vector<Step> kScenarios = {
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
    {"2026-12-05T11:00:00.000Z", "t1", "pc3", "Info", ""},  // the same TimeID on another machine is another run: a reuse, 2 s
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
    {"2026-12-06T09:20:00.000Z", "t7", "pc3", "Info", ""},  // no usable reply, no writable folder, installs anyway: 20 s
    {"2026-12-06T09:20:05.000Z", "t7", "pc3", "Setup", "GetNetIsnull=''"},
    {"2026-12-06T09:20:06.100Z", "t7", "pc3", "Setup", "frmLoad"},
    {"2026-12-06T09:20:07.000Z", "t7", "pc3", "Setup", "TestEmp=Not"},
    {"2026-12-06T09:20:07.100Z", "t7", "pc3", "Setup", "BeginDown"},
    {"2026-12-06T09:20:20.000Z", "t7", "pc3", "Setup", kOk},
};

TEST(Stats, FunnelOfTheScenarios) {
  const Stats st = ComputeStats(Events(kScenarios), {});
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
  EXPECT_EQ(ComputeStats(Events({{"2026-12-05T10:00:00.000Z", "t9", "pc1", "Setup", kMismatch}}), {})
                .funnel.failed_twice, 0);
  const auto lines = StatsLines(ComputeStats(Events(kScenarios, "b\xFF"), {}));
  EXPECT_EQ(lines[0].rfind("{\"kind\":\"funnel\",\"runs\":7,", 0), 0u) << lines[0];
  EXPECT_NE(lines[2].find("\"median_s\":10.0,\"p90_s\":40.0"), std::string::npos) << lines[2];
  EXPECT_EQ(lines.back(), "{\"kind\":\"channels\",\"values\":[\"b\xEF\xBF\xBD\",\"wlpq\"]}");
}

TEST(Stats, FiltersByDayAndChannel) {
  const struct {
    StatsFilter filter;
    int64_t runs, installed;
  } cases[] = {
      {{"2026-12-06", "", ""}, 4, 1},
      {{"", "2026-12-05", "beta"}, 1, 1},
      {{"2027-01-01", "", ""}, 0, 0},
  };
  for (const auto& c : cases) {
    const Stats st = ComputeStats(Events(kScenarios), c.filter);
    EXPECT_EQ(st.funnel.runs, c.runs) << c.filter.since << c.filter.until << c.filter.channel;
    EXPECT_EQ(st.funnel.installed(), c.installed) << c.filter.since << c.filter.until << c.filter.channel;
    EXPECT_EQ(st.channels, (std::vector<std::string>{"beta", "wlpq"}));  // the choices stay complete
  }
}

}  // namespace
}  // namespace stub::server
