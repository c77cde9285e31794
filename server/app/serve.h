// Serving in the foreground: the ready line, then until SIGINT or SIGTERM;
// SIGHUP loads the rules again, and once a second they and the installers
// are looked at.
#pragma once

#include "server/app/report_server.h"

namespace stub::server {

// Serves `config`; the exit code of the process (1 when it cannot start).
int ServeUntilStopped(const ServerConfig& config);

}  // namespace stub::server
