// Serving in the foreground: the ready line, then until SIGINT or SIGTERM;
// SIGHUP loads the rules again, and once a second they and the installers
// are looked at.
#pragma once

#include <functional>

#include "server/app/report_server.h"

namespace stub::server {

// Told of the service's state changes, in the words of systemd's service
// notification: "READY=1" once every listener accepts connections,
// "RELOADING=1" and "READY=1" around a reload, "STOPPING=1" when a stop begins.
using StateNote = std::function<void(const char* state)>;

// Serves `config`; the exit code of the process (1 when it cannot start).
int ServeUntilStopped(const ServerConfig& config, const StateNote& note = nullptr);

}  // namespace stub::server
