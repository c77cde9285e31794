#include "server/app/serve.h"

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace stub::server {

int ServeUntilStopped(const ServerConfig& config, const StateNote& note) {
  const auto tell = [&](const char* state) {
    if (note) note(state);
  };
  // SIGINT, SIGTERM and SIGHUP are taken by sigtimedwait below, so every
  // thread started from here on must have them blocked.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  ReportServer server(config);
  std::string error;
  if (!server.Start(&error)) {
    std::fprintf(stderr, "report-server: %s\n", error.c_str());
    return 1;
  }
  const bool v6 = config.host.find(':') != std::string::npos;
  std::printf("report-server: listening on %s%s%s:%u\n", v6 ? "[" : "", config.host.c_str(),
              v6 ? "]" : "", static_cast<unsigned>(server.port()));
  if (server.admin_port() != 0) {
    const bool admin_v6 = config.admin_host.find(':') != std::string::npos;
    std::printf("report-server: dashboard on http://%s%s%s:%u/\n", admin_v6 ? "[" : "",
                config.admin_host.c_str(), admin_v6 ? "]" : "", static_cast<unsigned>(server.admin_port()));
  }
  std::fflush(stdout);
  tell("READY=1");

  // Once a second without a signal the rules file and the installers are
  // looked at, so a broken edit is reported and a new installer hashed at
  // once rather than at the next request.
  const timespec tick{1, 0};
  for (;;) {
    const int signal_number = sigtimedwait(&stop_signals, nullptr, &tick);
    if (signal_number < 0) {
      if (errno == EAGAIN) server.WatchRules();
      continue;
    }
    if (signal_number != SIGHUP) break;
    tell("RELOADING=1");
    const bool reloaded = server.ReloadRules(&error);
    tell("READY=1");
    if (reloaded) {
      std::fprintf(stderr, "report-server: rules loaded again\n");
    } else {
      std::fprintf(stderr, "report-server: %s; the rules in force stay\n", error.c_str());
    }
    if (config.tls_cert.empty()) continue;
    if (server.ReloadCertificates(&error)) {
      std::fprintf(stderr, "report-server: TLS certificate loaded again; new connections use it\n");
    } else {
      std::fprintf(stderr, "report-server: %s; the certificate in force stays\n", error.c_str());
    }
  }
  tell("STOPPING=1");
  server.Stop();
  return 0;
}

}  // namespace stub::server
