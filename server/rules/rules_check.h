// The "check" command: validates a rules file and shows, per rule, the plain
// reply and the coded reply the stub would receive.
#pragma once

#include <cstdio>
#include <string>

namespace stub::server {

// Exit code: 0 when the rules are accepted, 1 when refused (the reason goes
// to `err`). With `tls` they are checked as a server answering over TLS
// checks them.
int CheckRulesFile(const std::string& rules_path, const std::string& files_dir, std::FILE* out,
                   std::FILE* err, bool tls = false);

}  // namespace stub::server
