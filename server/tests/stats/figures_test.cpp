// The run figures: the funnel, the reasons of failed downloads, the filters and the JSON lines.
#include "stats/run_scenarios.h"
#include "test_server.h"

namespace stub::server::testing { namespace {

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
  const auto lines = StatsLines(ComputeStats(RunEvents(Scenarios("b%FF")), {}));
  EXPECT_EQ(lines[0].rfind("{\"kind\":\"funnel\",\"runs\":7,", 0), 0u) << lines[0];
  EXPECT_NE(lines[2].find("\"median_s\":10.0,\"p90_s\":40.0"), std::string::npos) << lines[2];  // percentiles
  EXPECT_EQ(lines.back(), "{\"kind\":\"channels\",\"values\":[\"b\xEF\xBF\xBD\",\"wlpq\"]}");
  // Each step as a share of the 7 runs started, in percent to one decimal; none without runs.
  EXPECT_EQ(lines[3], "{\"kind\":\"funnel_share\",\"runs\":100.0,\"window_shown\":85.7,\"download_begun\":71.4,"
                      "\"installed_first\":28.6,\"installed_retry\":14.3,\"reused\":14.3,\"installed\":57.1,"
                      "\"failed_twice\":14.3,\"browser_used\":14.3,\"closed_during_download\":14.3,"
                      "\"second_instance\":14.3}");
  EXPECT_EQ(StatsLines(ComputeStats(RunEvents(), {"2027-01-01", "", ""}))[3],
            "{\"kind\":\"funnel_share\",\"runs\":null,\"window_shown\":null,\"download_begun\":null,"
            "\"installed_first\":null,\"installed_retry\":null,\"reused\":null,\"installed\":null,"
            "\"failed_twice\":null,\"browser_used\":null,\"closed_during_download\":null,\"second_instance\":null}");
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
      {mismatch + " Sign=unsigned ", "digest_mismatch"},
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
            "{\"kind\":\"reasons\",\"digest_mismatch\":6,\"file_unreadable\":2,\"signature\":4,"
            "\"signature_unsigned\":1,\"signature_bad_digest\":1,\"signature_untrusted_root\":1,"
            "\"signature_not_pinned\":1,\"full_disk\":3,\"no_writable_folder\":0,\"fallback_download\":0,"
            "\"trails\":{\"1,\":3,\"1,2,4,14,5,6,\":9}}");
}

}}  // namespace stub::server::testing
