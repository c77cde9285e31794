// The report server's command line.
#pragma once

#include <string>
#include <vector>

#include "server/app/report_server.h"

namespace stub::server {

struct CommandLine {
  enum class Command { kServe, kEvents, kStats, kCheck, kPrune, kHelp } command = Command::kServe;
  ServerConfig config;  // kServe
  std::string db;       // kEvents, kStats, kPrune: SQLite file or postgresql:// URL
  std::string before;   // kPrune: "YYYY-MM-DD", a real day
  std::string since, until, channel;  // kStats filter
  std::string rules, files;           // kCheck
  bool tls = false;                   // kCheck: as a server answering over TLS checks them
};

// Parses the arguments after the program name. Options take their value as
// the next argument or after '='. Returns false with a message for the user.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error);

std::string UsageText();

}  // namespace stub::server
