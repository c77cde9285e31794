#include "server/stats/admin.h"

#include <cstddef>
#include <cstdio>

#include "server/http/query.h"

namespace stub::server {
namespace assets {
extern const unsigned char dashboard_html[];
extern const size_t dashboard_html_size;
extern const unsigned char chart_js[];
extern const size_t chart_js_size;
}  // namespace assets

namespace {

std::string Asset(const unsigned char* bytes, size_t size) {
  return std::string(reinterpret_cast<const char*>(bytes), size);
}

// The value of query parameter `name` (percent-decoded), "" when absent.
std::string Param(std::string_view target, std::string_view name) {
  std::string_view q = QueryOf(target);
  while (!q.empty()) {
    const size_t amp = q.find('&');
    const std::string_view piece = q.substr(0, amp);
    const size_t eq = piece.find('=');
    if (piece.substr(0, eq) == name && eq != std::string_view::npos)
      return ValidUtf8(PercentDecode(piece.substr(eq + 1)));
    if (amp == std::string_view::npos) break;
    q.remove_prefix(amp + 1);
  }
  return "";
}

void Metric(std::string& out, const char* name, const char* type, const char* help, double value) {
  char number[64];
  std::snprintf(number, sizeof number, "%.17g", value);
  out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n" + name + " " +
         number + "\n";
}

}  // namespace

std::string MetricsText(const StoreHealth& h) {
  std::string out;
  Metric(out, "report_server_database_up", "gauge",
         "Whether the last write reached the database (1) or not (0).", h.database_ok ? 1 : 0);
  Metric(out, "report_server_spool_rows", "gauge", "Requests waiting in the spool for the database.",
         static_cast<double>(h.spool_rows));
  Metric(out, "report_server_rows_committed_total", "counter", "Requests committed to the database.",
         static_cast<double>(h.rows_committed));
  Metric(out, "report_server_rows_spooled_total", "counter", "Requests appended to the spool.",
         static_cast<double>(h.rows_spooled));
  Metric(out, "report_server_refusals_total", "counter",
         "Batches the database or the spool refused (those not from the spool answered 500).", static_cast<double>(h.refusals));
  // Summaries without quantiles: rate(_sum) / rate(_count) gives the mean.
  out += "# HELP report_server_batch_rows Requests per committed batch.\n"
         "# TYPE report_server_batch_rows summary\n";
  out += "report_server_batch_rows_sum " + std::to_string(h.rows_committed) + "\n";
  out += "report_server_batch_rows_count " + std::to_string(h.batches) + "\n";
  Metric(out, "report_server_batch_rows_max", "gauge", "Requests in the largest committed batch.",
         static_cast<double>(h.largest_batch));
  char sum[64];
  std::snprintf(sum, sizeof sum, "%.17g", h.commit_seconds);
  out += "# HELP report_server_commit_seconds Time from a batch's first statement to its commit.\n"
         "# TYPE report_server_commit_seconds summary\n";
  out += std::string("report_server_commit_seconds_sum ") + sum + "\n";
  out += "report_server_commit_seconds_count " + std::to_string(h.batches) + "\n";
  Metric(out, "report_server_last_commit_seconds", "gauge", "Time the last committed batch took.",
         h.last_commit_seconds);
  return out;
}

AdminResponse AdminAnswer(std::string_view method, std::string_view target,
                          const StatsSource& stats, const HealthSource& health) {
  if (method != "GET" && method != "HEAD") return {405, "text/plain; charset=utf-8", "GET only\n"};
  const std::string_view path = PathOf(target);
  if (path == "/" || path == "/index.html")
    return {200, "text/html; charset=utf-8", Asset(assets::dashboard_html, assets::dashboard_html_size)};
  if (path == "/chart.js")
    return {200, "text/javascript; charset=utf-8", Asset(assets::chart_js, assets::chart_js_size)};
  if (path == "/metrics")
    return {200, "text/plain; version=0.0.4; charset=utf-8", MetricsText(health())};
  if (path == "/healthz") {
    const StoreHealth h = health();
    if (h.database_ok) return {200, "text/plain; charset=utf-8", "ok\n"};
    std::string reason = h.problem.empty() ? "database unavailable" : h.problem;
    if (h.spool_rows) reason += " (" + std::to_string(h.spool_rows) + " requests waiting in the spool)";
    return {503, "text/plain; charset=utf-8", reason + "\n"};
  }
  if (path != "/api/stats") return {404, "text/plain; charset=utf-8", "not found\n"};
  StatsFilter filter{Param(target, "since"), Param(target, "until"), Param(target, "channel")};
  if ((!filter.since.empty() && !IsDay(filter.since)) || (!filter.until.empty() && !IsDay(filter.until)))
    return {400, "text/plain; charset=utf-8", "since and until are YYYY-MM-DD\n"};
  Stats figures;
  std::string error;
  if (!stats(filter, &figures, &error)) return {500, "text/plain; charset=utf-8", error + "\n"};
  std::string body;
  for (const std::string& line : StatsLines(figures)) body += line + "\n";
  return {200, "application/x-ndjson; charset=utf-8", body};
}

}  // namespace stub::server
