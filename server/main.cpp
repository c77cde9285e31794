// Process entry of the report server: the command line, then one command.
#include <systemd/sd-daemon.h>

#include <cstdio>
#include <string>
#include <vector>

#include "server/app/serve.h"
#include "server/options.h"
#include "server/rules/rules_check.h"
#include "server/stats/figures.h"
#include "server/store/events.h"
#include "server/store/store.h"

int main(int argc, char** argv) {
  using stub::server::CommandLine;
  CommandLine cmd;
  std::string error;
  if (!stub::server::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), cmd, error)) {
    std::fprintf(stderr, "report-server: %s\n\n%s", error.c_str(),
                 stub::server::UsageText().c_str());
    return 2;
  }
  switch (cmd.command) {
    case CommandLine::Command::kHelp:
      std::fputs(stub::server::UsageText().c_str(), stdout);
      return 0;
    case CommandLine::Command::kEvents:
      if (!stub::server::PrintEvents(cmd.db, stdout, &error)) {
        std::fprintf(stderr, "report-server: %s\n", error.c_str());
        return 1;
      }
      return 0;
    case CommandLine::Command::kStats: {
      stub::server::Stats stats;
      if (!stub::server::ReadStats(cmd.db, {cmd.since, cmd.until, cmd.channel}, &stats, &error)) {
        std::fprintf(stderr, "report-server: %s\n", error.c_str());
        return 1;
      }
      for (const std::string& line : stub::server::StatsLines(stats)) std::printf("%s\n", line.c_str());
      return 0;
    }
    case CommandLine::Command::kPrune: {
      const auto store = stub::server::Store::Open(cmd.db, false, &error);
      int64_t deleted = 0;
      const bool ok = store && store->DeleteBefore(cmd.before, &deleted, &error);
      if (!ok) std::fprintf(stderr, "report-server: %s\n", error.c_str());
      if (store)
        std::printf("report-server: %lld request%s recorded before %s deleted\n", static_cast<long long>(deleted),
                    deleted == 1 ? "" : "s", cmd.before.c_str());
      return ok ? 0 : 1;
    }
    case CommandLine::Command::kCheck:
      return stub::server::CheckRulesFile(cmd.rules, cmd.files, stdout, stderr, cmd.tls);
    case CommandLine::Command::kServe:
      break;
  }
  // Under systemd (Type=notify) the service manager learns when the server is
  // ready and when it stops; without NOTIFY_SOCKET sd_notify does nothing.
  return stub::server::ServeUntilStopped(cmd.config, [](const char* state) { sd_notify(0, state); });
}
