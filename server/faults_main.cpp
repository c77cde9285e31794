// report-server-faults: the report server with options that play a faulty
// server (answers held back, a raw "Info" page, broken file bodies), for the
// end-to-end and Windows tests. Built beside report-server from the same
// library and never installed; report-server itself knows none of these
// options.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "server/app/serve.h"
#include "server/faults/fault_options.h"
#include "server/options.h"

int main(int argc, char** argv) {
  using stub::server::CommandLine;
  std::vector<std::string> args(argv + 1, argv + argc);
  stub::server::Faults faults;
  CommandLine cmd;
  std::string error;
  const std::string usage = stub::server::UsageText() + "\n" + stub::server::FaultUsageText();
  if (!stub::server::TakeFaultOptions(args, faults, error) ||
      !stub::server::ParseCommandLine(args, cmd, error)) {
    std::fprintf(stderr, "report-server-faults: %s\n\n%s", error.c_str(), usage.c_str());
    return 2;
  }
  if (cmd.command == CommandLine::Command::kHelp) {
    std::fputs(usage.c_str(), stdout);
    return 0;
  }
  if (cmd.command != CommandLine::Command::kServe) {
    std::fprintf(stderr, "report-server-faults: only serves; events, stats, check and prune are report-server's\n");
    return 2;
  }
  cmd.config.answers = std::make_shared<stub::server::FaultyAnswers>(faults);
  return stub::server::ServeUntilStopped(cmd.config);
}
