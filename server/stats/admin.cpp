#include "server/stats/admin.h"

#include <cstddef>

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

}  // namespace

AdminResponse AdminAnswer(std::string_view method, std::string_view target,
                          const StatsSource& stats) {
  if (method != "GET" && method != "HEAD") return {405, "text/plain; charset=utf-8", "GET only\n"};
  const std::string_view path = PathOf(target);
  if (path == "/" || path == "/index.html")
    return {200, "text/html; charset=utf-8", Asset(assets::dashboard_html, assets::dashboard_html_size)};
  if (path == "/chart.js")
    return {200, "text/javascript; charset=utf-8", Asset(assets::chart_js, assets::chart_js_size)};
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
