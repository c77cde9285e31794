// The admin address: the dashboard page, its chart library, its figures
// as JSON lines, and the store's health for monitoring. Served only on the address given with --admin-listen, never
// on the public port the stubs reach.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "server/stats/figures.h"

namespace stub::server {

struct AdminResponse {
  int status = 200;
  std::string content_type;
  std::string body;
};

// Counts the figures the filter asks for; false with `error` on failure.
using StatsSource = std::function<bool(const StatsFilter& filter, Stats* out, std::string* error)>;
// The store's state now.
using HealthSource = std::function<StoreHealth()>;

// The answer to a GET of `target` on the admin address:
//   /                      the dashboard page
//   /chart.js              the chart library
//   /api/stats?since=YYYY-MM-DD&until=YYYY-MM-DD&channel=NAME
//                          the figures, as the "stats" command prints them
//   /metrics               the store's counters in the Prometheus text format
//   /healthz               200 "ok", or 503 with the reason on one line
AdminResponse AdminAnswer(std::string_view method, std::string_view target,
                          const StatsSource& stats, const HealthSource& health);

// The Prometheus text exposition of `h`.
std::string MetricsText(const StoreHealth& h);

}  // namespace stub::server
