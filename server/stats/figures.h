// What happened to the runs: requests grouped into runs (one run = one
// TimeID with one PcId) and counted as a funnel, with the failure reasons,
// the time to install and the split by channel, version, OS and OS bits per
// day. Each store reduces its requests to one summary per run (RunSummary);
// the figures are counted here from the runs, so every store shares them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "server/store/store.h"

namespace stub::server {

// The fields of one recorded request that the figures need.
struct RunEvent {
  std::string time;  // server's UTC time, "YYYY-MM-DDTHH:MM:SS.mmmZ"
  std::string key, data, time_id, pc_id, channel, soft_ver, os, os_bit;
};
RunEvent ToRunEvent(const RecordedRequest& r);

// Whether `text` is a day as StatsFilter takes it: "YYYY-MM-DD".
bool IsDay(std::string_view text);

struct StatsFilter {
  std::string since, until;  // "YYYY-MM-DD", inclusive; "" = open
  std::string channel;       // "" = every channel
};

// Runs counted at each stage. A run can count in several stages.
struct Funnel {
  int64_t runs = 0;              // every run that asked or reported anything
  int64_t window_shown = 0;      // "frmLoad"
  int64_t download_begun = 0;    // "BeginDown"
  int64_t installed_first = 0;   // installer started after the first download
  int64_t installed_retry = 0;   // ... after the automatic retry
  int64_t reused = 0;            // an earlier download was started ("IsDownEmp=OK")
  int64_t failed_twice = 0;      // both downloads failed: the browser button is shown
  int64_t browser_used = 0;      // "Image4_Click" or "SaveExe=Null"
  int64_t closed_during_download = 0;  // a download began and never finished
  int64_t second_instance = 0;   // asked for the reply and reported nothing else
  int64_t installed() const { return installed_first + installed_retry + reused; }
};

// The verdicts of the installer's signature check that stop it from being
// started, as a failed download's report ends with them (" Sign=unsigned").
inline constexpr const char* kSignRefusals[] = {"unsigned", "bad-digest", "untrusted-root", "not-pinned"};

struct Reasons {
  int64_t digest_mismatch = 0;     // failed downloads whose digest differed
  int64_t file_unreadable = 0;     // ... whose file could not be read at all
  int64_t signature = 0;           // ... whose installer's signature was refused
  std::map<std::string, int64_t> signature_verdicts;  // ... by verdict (those seen)
  int64_t full_disk = 0;           // ... with no free space left ("DiskSpace=0")
  int64_t no_writable_folder = 0;  // runs that found no folder to write ("TestEmp=Not")
  int64_t fallback_download = 0;   // runs without a usable reply ("GetNetIsnull=")
  std::map<std::string, int64_t> trails;  // status trail of each failed download
};

struct Stats {
  Funnel funnel;
  Reasons reasons;
  // First request to the install report: each duration seen once, sorted,
  // and the number of runs that took it (so memory follows the durations
  // seen, not the runs).
  std::vector<double> install_seconds;
  std::vector<int64_t> install_counts;
  std::map<std::string, Funnel> days;   // by the day of the run's first request
  // day -> dimension ("channel", "version", "os", "bits") -> value -> funnel
  std::map<std::string, std::map<std::string, std::map<std::string, Funnel>>> splits;
  std::vector<std::string> channels;    // every channel seen, whatever the filter
};

// Groups `events` (in order of arrival) into runs and counts them.
Stats ComputeStats(const std::vector<RunEvent>& events, const StatsFilter& filter);
// Counts the runs the store reduces (Store::ForEachRun): the same figures as
// ComputeStats over every request of the store.
bool StoreStats(Store& store, const StatsFilter& filter, Stats* out, std::string* error);
// StoreStats of the database at `db_path`.
bool ReadStats(const std::string& db_path, const StatsFilter& filter, Stats* out, std::string* error);

// Nearest-rank percentile (0 < p <= 100) of sorted distinct values, each
// seen counts[i] times; 0 when there is none.
double Percentile(const std::vector<double>& sorted, const std::vector<int64_t>& counts, double p);

// The figures as JSON lines, each an object with a "kind": "funnel",
// "reasons", "install_time", "funnel_share" (each step of the funnel in
// percent of the runs started, one decimal, null without runs), then one
// "day" per day and one "split" per day, dimension and value, and last
// "channels".
std::vector<std::string> StatsLines(const Stats& stats);

}  // namespace stub::server
