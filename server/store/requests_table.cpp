#include "server/store/requests_table.h"

#include <cstdlib>
#include <utility>

namespace stub::server {

std::string RequestColumns() {
  std::string out = "time, client, method, target";
  for (const char* name : kFieldNames) out += std::string(", \"") + name + "\"";
  return out;
}

std::string CreateRequestsSql(const TableDialect& d) {
  std::string sql = std::string(d.create) + " " + kRequestsTable + " (" + d.key + ", time " + d.text +
                    " NOT NULL, client " + d.text + " NOT NULL, method " + d.method + " NOT NULL, target " +
                    d.target + " NOT NULL";
  for (const char* name : kFieldNames) sql += std::string(", \"") + name + "\" " + d.field;
  return sql + ")";
}

RecordedRequest RequestFromRow(const ColumnReader& column) {
  RecordedRequest r;
  int index = 0;
  for (std::string* text : {&r.time, &r.client, &r.method, &r.target}) *text = column(index++).value_or("");
  for (auto& field : r.fields) field = column(index++);
  return r;
}

}  // namespace stub::server

namespace stub::server {
namespace {

// What one request is to its run, as the figures read it (see RunSummary).
enum RowKind { kOther, kInfo, kFallback, kWindow, kBegin, kRetry, kNoFolder, kBrowser, kReuse, kDone, kChecked, kFailed };

// The CASE that gives each request its RowKind. A prefix P is matched as the
// range [P, P with its last byte raised), byte order in both databases.
std::string KindSql(const char* b) {
  const auto lit = [b](const char* text) { return std::string("'") + text + "'" + b; };
  const auto is = [&](const char* text) { return "\"Data\" = " + lit(text); };
  const auto starts = [&](std::string prefix) {
    std::string past = prefix;
    ++past.back();
    return "(\"Data\" >= " + lit(prefix.c_str()) + " AND \"Data\" < " + lit(past.c_str()) + ")";
  };
  const std::pair<std::string, RowKind> cases[] = {
      {"\"Key\" = " + lit("Info"), kInfo},
      {starts("GetNetIsnull="), kFallback},
      {is("frmLoad"), kWindow},
      {is("BeginDown"), kBegin},
      {is("AutoReDown"), kRetry},
      {is("TestEmp=Not"), kNoFolder},
      {"(" + is("Image4_Click") + " OR " + is("SaveExe=Null") + ")", kBrowser},
      {is("IsDownEmp=OK"), kReuse},
      {starts("DownFinish=OK:"), kDone},
      {is("CheackFinish=OK"), kChecked},
      {starts("DownFinish=Not:"), kFailed},
  };
  std::string sql = "CASE";
  for (const auto& [when, kind] : cases) sql += " WHEN " + when + " THEN " + std::to_string(kind);
  return sql + " ELSE " + std::to_string(kOther) + " END";
}

// The requests that belong to a run.
std::string InRunSql(const char* b) {
  return std::string("\"Key\" <> ''") + b + " AND \"TimeID\" <> ''" + b;
}

}  // namespace

std::string RunSummarySql(const RunDialect& dialect) {
  const char* b = dialect.bytes;
  const auto num = [&dialect](const std::string& e) {
    return dialect.numbers_as_text ? "CAST(" + e + " AS text)" : e;
  };
  const auto any = [&](const std::string& kinds) {
    return num("max(CASE WHEN k IN (" + kinds + ") THEN 1 ELSE 0 END)");
  };
  const auto id = [&](const char* agg, const std::string& kinds) {
    return num(std::string(agg) + "(CASE WHEN k IN (" + kinds + ") THEN id END)");
  };
  const auto of = [](const char* column, const char* id) {
    return std::string("(SELECT ") + column + " FROM " + kRequestsTable + " WHERE id = g." + id + ")";
  };
  const auto k = [](std::initializer_list<RowKind> kinds) {
    std::string out;
    for (RowKind kind : kinds) out += (out.empty() ? "" : ", ") + std::to_string(kind);
    return out;
  };
  // The first non-empty value of a field: the id of its row, read back below.
  const auto set_at = [b](const char* field, const char* name) {
    return std::string("CASE WHEN \"") + field + "\" <> ''" + b + " THEN id END AS " + name;
  };
  const std::string others = k({kOther, kWindow, kBegin, kRetry, kNoFolder, kBrowser, kReuse, kDone, kChecked, kFailed});
  return std::string("WITH e AS (SELECT id, \"TimeID\" AS t, coalesce(\"PcId\", ''") + b + ") AS p, " + KindSql(b) +
         " AS k, " + set_at("Channel", "c") + ", " + set_at("SoftVer", "v") + ", " + set_at("OS", "o") + ", " +
         set_at("OSBit", "w") + " FROM " + kRequestsTable + " WHERE " + InRunSql(b) + dialect.fence +
         "), g AS (SELECT t, p, min(id) AS first_id, min(c) AS channel_id, min(v) AS version_id, min(o) AS os_id, "
         "min(w) AS bits_id, " + "min(CASE WHEN k IN (" + k({kReuse, kDone, kChecked}) + ") THEN id END) AS install_id, " +
         any(k({kInfo})) + " AS info, " + any(others) + " AS other, " + any(k({kFallback})) + " AS fallback, " +
         any(k({kWindow})) + " AS window_shown, " + any(k({kBegin})) + " AS begun, " + any(k({kNoFolder})) +
         " AS no_folder, " + any(k({kBrowser})) + " AS browser, " + any(k({kReuse})) + " AS reused, " +
         id("min", k({kRetry})) + " AS first_retry, " + id("min", k({kDone, kChecked})) + " AS first_install, " +
         id("max", k({kDone, kChecked})) + " AS last_install, " + id("max", k({kBegin})) + " AS last_begin, " +
         id("max", k({kDone, kFailed})) + " AS last_finish, " + id("max", k({kFailed})) + " AS last_failure, " +
         num("sum(CASE WHEN k = " + std::to_string(kFailed) + " THEN 1 ELSE 0 END)") + " AS failures FROM e" +
         " GROUP BY t, p) SELECT t, p, " + of("time", "first_id") + ", " + of("\"Channel\"", "channel_id") + ", " +
         of("\"SoftVer\"", "version_id") + ", " + of("\"OS\"", "os_id") + ", " + of("\"OSBit\"", "bits_id") +
         ", info, other, fallback, window_shown, begun, no_folder, browser, reused, first_retry, first_install, "
         "last_install, last_begin, last_finish, last_failure, " + of("time", "install_id") +
         ", failures FROM g ORDER BY t, p";
}

std::string RunFailuresSql(const RunDialect& dialect) {
  const char* b = dialect.bytes;
  return std::string("SELECT \"TimeID\", coalesce(\"PcId\", ''") + b + "), \"Data\" FROM " + kRequestsTable +
         " WHERE " + InRunSql(b) + " AND (" + KindSql(b) + ") = " + std::to_string(kFailed) +
         " ORDER BY 1, 2, id";
}

void JoinRuns(const NextRow& runs, const NextRow& failures, const std::function<void(const RunSummary&)>& fn) {
  std::vector<std::optional<std::string>> row, failure;
  bool more_failures = true, pending = false;
  const auto text = [&](size_t i) { return i < row.size() && row[i] ? *row[i] : std::string(); };
  const auto number = [&](size_t i) { return std::atoll(text(i).c_str()); };
  while (runs(row)) {
    RunSummary r;
    size_t i = 2;
    for (std::string* s : {&r.first_time, &r.channel, &r.version, &r.os, &r.bits}) *s = text(i++);
    for (bool* flag : {&r.info, &r.other_report, &r.fallback, &r.window_shown, &r.begun, &r.no_folder, &r.browser,
                       &r.reused})
      *flag = number(i++) != 0;
    for (int64_t* id : {&r.first_retry, &r.first_install, &r.last_install, &r.last_begin, &r.last_finish,
                        &r.last_failure})
      *id = number(i++);
    r.install_time = text(i++);
    const int64_t failed = number(i);
    // Failures of earlier runs cannot be left over (both queries pick the
    // same requests); those of this run follow in order of arrival.
    const std::pair<std::string, std::string> key(text(0), text(1));
    while (static_cast<int64_t>(r.failures.size()) < failed) {
      if (!pending) {
        if (!more_failures || !(more_failures = failures(failure))) break;
        pending = true;
      }
      const std::pair<std::string, std::string> at(failure[0].value_or(""), failure[1].value_or(""));
      if (at > key) break;
      if (at == key) r.failures.push_back(failure[2].value_or(""));
      pending = false;
    }
    fn(r);
  }
}

}  // namespace stub::server
