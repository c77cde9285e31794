#include "server/stats/figures.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <set>

namespace stub::server {
namespace {

using Json = nlohmann::ordered_json;

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// The text after " NAME=" up to the next space ("" when absent).
std::string Piece(const std::string& data, const char* name) {
  const std::string tag = std::string(" ") + name + "=";
  const size_t at = data.find(tag);
  if (at == std::string::npos) return "";
  const size_t begin = at + tag.size();
  const size_t end = data.find(' ', begin);
  return data.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

// The text after " NAME=" up to " NEXT=" (a digest error text holds spaces).
std::string Between(const std::string& data, const char* name, const char* next) {
  const std::string tag = std::string(" ") + name + "=", end_tag = std::string(" ") + next + "=";
  const size_t at = data.find(tag);
  if (at == std::string::npos) return "";
  const size_t begin = at + tag.size();
  const size_t end = data.find(end_tag, begin);
  return data.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

// The refusal verdict a failed download's report ends with (" Sign=" and one
// of kSignRefusals), or null. Only the very end counts: the stub appends the
// field after url=, and an address may hold spaces or "sign=" of its own but
// never "Sign", since the stub lower-cases every reply.
const char* SignRefusal(const std::string& data) {
  for (const char* verdict : kSignRefusals) {
    const std::string tail = std::string(" Sign=") + verdict;
    if (data.size() >= tail.size() && data.compare(data.size() - tail.size(), tail.size(), tail) == 0)
      return verdict;
  }
  return nullptr;
}

// Milliseconds since the epoch of a "YYYY-MM-DDTHH:MM:SS.mmmZ" time; -1 when
// it is not one.
int64_t EpochMs(const std::string& t) {
  int y, mo, d, h, mi, s, ms = 0;
  if (std::sscanf(t.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d", &y, &mo, &d, &h, &mi, &s, &ms) < 6)
    return -1;
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  return int64_t{timegm(&tm)} * 1000 + ms;
}

// What one run did, read from its requests in order of arrival.
struct Run {
  std::string day, channel, version, os, bits;
  int64_t first_ms = -1;
  bool info = false, other_report = false, one = false, frm_load = false, begun = false;
  bool retry = false, reused = false, installed_first = false, installed_retry = false;
  bool failed_after_retry = false, browser = false, no_folder = false, fallback = false;
  bool open_download = false;  // the last BeginDown has not been followed by a result
  int64_t install_ms = -1;
  std::vector<std::string> failures;  // data of each "DownFinish=Not:" report

  void Add(const RunEvent& e) {
    if (first_ms < 0) {
      first_ms = EpochMs(e.time);
      day = e.time.substr(0, 10);
    }
    if (channel.empty()) channel = e.channel;
    if (version.empty()) version = e.soft_ver;
    if (os.empty()) os = e.os;
    if (bits.empty()) bits = e.os_bit;
    if (e.key == "Info") {
      info = true;
      return;
    }
    const std::string& d = e.data;
    if (StartsWith(d, "GetNetIsnull=")) {
      fallback = true;
      return;
    }
    other_report = true;
    const auto installed = [&] {
      (retry ? installed_retry : installed_first) = true;
      failed_after_retry = false;
      if (install_ms < 0) install_ms = EpochMs(e.time);
    };
    if (d == "one") one = true;
    else if (d == "frmLoad") frm_load = true;
    else if (d == "BeginDown") begun = open_download = true;
    else if (d == "AutoReDown") retry = true;
    else if (d == "TestEmp=Not") no_folder = true;
    else if (d == "Image4_Click" || d == "SaveExe=Null") browser = true;
    else if (d == "IsDownEmp=OK") {
      reused = true;
      if (install_ms < 0) install_ms = EpochMs(e.time);
    } else if (StartsWith(d, "DownFinish=OK:")) {
      open_download = false;
      installed();
    } else if (d == "CheackFinish=OK") {
      installed();
    } else if (StartsWith(d, "DownFinish=Not:")) {
      open_download = false;
      failures.push_back(d);
      if (retry) failed_after_retry = true;
    }
  }
};

void CountInto(Funnel& f, const Run& r) {
  ++f.runs;
  f.window_shown += r.frm_load;
  f.download_begun += r.begun;
  f.reused += r.reused;
  f.installed_first += r.installed_first && !r.reused;
  f.installed_retry += r.installed_retry && !r.installed_first && !r.reused;
  f.failed_twice += r.failed_after_retry;
  f.browser_used += r.browser;
  f.closed_during_download += r.open_download;
  f.second_instance += r.info && !r.other_report;
}

// A run as its store's summary tells it: the same flags Run::Add would set
// walking the run's requests in order of arrival.
Run FromSummary(const RunSummary& s) {
  Run r;
  r.first_ms = EpochMs(s.first_time);
  r.day = s.first_time.substr(0, 10);
  r.channel = s.channel, r.version = s.version, r.os = s.os, r.bits = s.bits;
  r.info = s.info, r.other_report = s.other_report, r.fallback = s.fallback;
  r.frm_load = s.window_shown, r.begun = s.begun, r.no_folder = s.no_folder, r.browser = s.browser;
  r.reused = s.reused;
  const int64_t retry = s.first_retry;
  // An install counts as a retry's when an AutoReDown came before it.
  r.installed_first = s.first_install && (!retry || s.first_install < retry);
  r.installed_retry = retry && s.last_install > retry;
  // A failure after the retry stands unless an install came after it.
  r.failed_after_retry = retry && s.last_failure > retry && s.last_failure > s.last_install;
  r.open_download = s.last_begin > s.last_finish;
  r.install_ms = s.install_time.empty() ? -1 : EpochMs(s.install_time);
  r.failures = s.failures;
  return r;
}

// Counts runs into the figures one at a time; what it keeps grows with the
// days, split values, trails and install durations seen, not with the runs.
class Counter {
 public:
  explicit Counter(const StatsFilter& filter) : filter_(filter) {}
  void Add(const Run& r) {
    channels_.insert(r.channel);
    if (!filter_.since.empty() && r.day < filter_.since) return;
    if (!filter_.until.empty() && r.day > filter_.until) return;
    if (!filter_.channel.empty() && r.channel != filter_.channel) return;
    CountInto(st_.funnel, r);
    CountInto(st_.days[r.day], r);
    auto& split = st_.splits[r.day];
    CountInto(split["channel"][r.channel], r);
    CountInto(split["version"][r.version], r);
    CountInto(split["os"][r.os], r);
    CountInto(split["bits"][r.bits], r);
    st_.reasons.no_writable_folder += r.no_folder;
    st_.reasons.fallback_download += r.fallback;
    for (const std::string& d : r.failures) {
      const std::string md5 = Between(d, "DownMD5", "FileMD5");
      if (const char* refusal = SignRefusal(d)) {
        ++st_.reasons.signature;
        ++st_.reasons.signature_verdicts[refusal];
      } else if (md5.empty() || md5.find("ERR") != std::string::npos) {
        ++st_.reasons.file_unreadable;
      } else {
        ++st_.reasons.digest_mismatch;
      }
      if (Piece(d, "DiskSpace") == "0") ++st_.reasons.full_disk;
      ++st_.reasons.trails[Piece(d, "DownCode")];
    }
    if (r.install_ms >= 0 && r.first_ms >= 0) ++install_ms_[r.install_ms - r.first_ms];
  }
  Stats Finish() {
    for (const auto& [ms, n] : install_ms_) {
      st_.install_seconds.push_back(static_cast<double>(ms) / 1000);
      st_.install_counts.push_back(n);
    }
    st_.channels.assign(channels_.begin(), channels_.end());
    return std::move(st_);
  }

 private:
  const StatsFilter filter_;
  Stats st_;
  std::map<int64_t, int64_t> install_ms_;  // duration in ms -> runs
  std::set<std::string> channels_;         // every run's, whatever the filter
};

Json FunnelJson(const Funnel& f) {
  return Json{{"runs", f.runs},
              {"window_shown", f.window_shown},
              {"download_begun", f.download_begun},
              {"installed_first", f.installed_first},
              {"installed_retry", f.installed_retry},
              {"reused", f.reused},
              {"installed", f.installed()},
              {"failed_twice", f.failed_twice},
              {"browser_used", f.browser_used},
              {"closed_during_download", f.closed_during_download},
              {"second_instance", f.second_instance}};
}

// Each figure of FunnelJson as a percentage of the runs started, to one
// decimal; null for every step when no run started.
Json FunnelShareJson(const Funnel& f) {
  Json share = FunnelJson(f);
  for (auto& [step, value] : share.items()) {
    if (f.runs == 0) value = nullptr;
    else value = std::round(static_cast<double>(value.get<int64_t>()) * 1000 / static_cast<double>(f.runs)) / 10;
  }
  return share;
}

// Texts from the wire may hold any bytes: malformed UTF-8 becomes U+FFFD.
std::string Dump(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

double Round2(double v) { return std::round(v * 100) / 100; }

}  // namespace

RunEvent ToRunEvent(const RecordedRequest& r) {
  const auto get = [&](const char* name) {
    for (size_t i = 0; i < kFieldCount; ++i)
      if (std::string_view(kFieldNames[i]) == name) return r.fields[i].value_or("");
    return std::string();
  };
  return RunEvent{r.time,         get("Key"),     get("Data"), get("TimeID"), get("PcId"),
                  get("Channel"), get("SoftVer"), get("OS"),   get("OSBit")};
}

bool IsDay(std::string_view t) {
  if (t.size() != 10 || t[4] != '-' || t[7] != '-') return false;
  for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
    if (t[i] < '0' || t[i] > '9') return false;
  return true;
}

double Percentile(const std::vector<double>& sorted, const std::vector<int64_t>& counts, double p) {
  int64_t total = 0;
  for (int64_t n : counts) total += n;
  if (sorted.empty() || total == 0) return 0;
  const int64_t rank =
      std::max<int64_t>(static_cast<int64_t>(std::ceil(p / 100 * static_cast<double>(total))), 1);
  int64_t seen = 0;
  for (size_t i = 0; i < sorted.size() && i < counts.size(); ++i)
    if ((seen += counts[i]) >= rank) return sorted[i];
  return sorted.back();
}

Stats ComputeStats(const std::vector<RunEvent>& events, const StatsFilter& filter) {
  std::map<std::pair<std::string, std::string>, size_t> index;
  std::vector<Run> runs;
  for (const RunEvent& e : events) {
    if (e.key.empty() || e.time_id.empty()) continue;  // file downloads, strays
    const auto [it, fresh] = index.emplace(std::make_pair(e.time_id, e.pc_id), runs.size());
    if (fresh) runs.emplace_back();
    runs[it->second].Add(e);
  }
  Counter counter(filter);
  for (const Run& r : runs) counter.Add(r);
  return counter.Finish();
}

bool StoreStats(Store& store, const StatsFilter& filter, Stats* out, std::string* error) {
  Counter counter(filter);
  if (!store.ForEachRun([&](const RunSummary& summary) { counter.Add(FromSummary(summary)); }, error)) return false;
  *out = counter.Finish();
  return true;
}

bool ReadStats(const std::string& db_path, const StatsFilter& filter, Stats* out, std::string* error) {
  const auto store = Store::Open(db_path, false, error);
  return store && StoreStats(*store, filter, out, error);
}

std::vector<std::string> StatsLines(const Stats& st) {
  std::vector<std::string> lines;
  Json funnel = {{"kind", "funnel"}};
  funnel.update(FunnelJson(st.funnel));
  lines.push_back(Dump(funnel));
  const Reasons& r = st.reasons;
  Json reasons = {{"kind", "reasons"},
                  {"digest_mismatch", r.digest_mismatch},
                  {"file_unreadable", r.file_unreadable},
                  {"signature", r.signature}};
  // One flat count per verdict ("signature_not_pinned"), so every figure of
  // the line but the trails is a number.
  for (const char* verdict : kSignRefusals) {
    std::string key = std::string("signature_") + verdict;
    std::replace(key.begin(), key.end(), '-', '_');
    const auto n = r.signature_verdicts.find(verdict);
    reasons[key] = n == r.signature_verdicts.end() ? 0 : n->second;
  }
  reasons["full_disk"] = r.full_disk;
  reasons["no_writable_folder"] = r.no_writable_folder;
  reasons["fallback_download"] = r.fallback_download;
  reasons["trails"] = r.trails;
  lines.push_back(Dump(reasons));
  int64_t installs = 0;
  for (int64_t n : st.install_counts) installs += n;
  lines.push_back(Dump(Json{{"kind", "install_time"},
                       {"count", installs},
                       {"median_s", Round2(Percentile(st.install_seconds, st.install_counts, 50))},
                       {"p90_s", Round2(Percentile(st.install_seconds, st.install_counts, 90))}}));
  Json share = {{"kind", "funnel_share"}};
  share.update(FunnelShareJson(st.funnel));
  lines.push_back(Dump(share));
  for (const auto& [day, f] : st.days) {
    Json line = {{"kind", "day"}, {"day", day}};
    line.update(FunnelJson(f));
    lines.push_back(Dump(line));
  }
  for (const auto& [day, dims] : st.splits)
    for (const auto& [by, values] : dims)
      for (const auto& [value, f] : values)
        lines.push_back(Dump(Json{{"kind", "split"},
                             {"day", day},
                             {"by", by},
                             {"value", value},
                             {"runs", f.runs},
                             {"installed", f.installed()},
                             {"failed_twice", f.failed_twice}}));
  lines.push_back(Dump(Json{{"kind", "channels"}, {"values", st.channels}}));
  return lines;
}

}  // namespace stub::server
