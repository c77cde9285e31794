// The report server: records every request, answers "Info" with the coded
// reply, other keyed requests with an empty page, and serves files to the
// rest. Runs in the background so that tests can start it in-process.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "server/app/server_answers.h"
#include "server/http/daemon.h"
#include "server/rules/release_service.h"
#include "server/store/store.h"

namespace stub::server {

struct ServerConfig {
  std::string host;  // listen address: name or numeric (IPv6 without brackets)
  uint16_t port = 0;
  std::string db;     // SQLite file (created when missing) or postgresql:// URL
  std::string spool;  // PostgreSQL only: where writes wait while the database is away
  std::string reply;  // plain reply file for "Info" requests (or:)
  std::string rules;  // release rules file (TOML) choosing the reply per request
  std::string files;  // folder served to requests without a Key field
  std::string tls_cert;  // PEM files; when set, every endpoint is served over TLS
  std::string tls_key;
  std::string tls_priorities = kDefaultTlsPriorities;  // GnuTLS priority string
  unsigned max_connections = 1024;  // open connections served at once; more wait
  // Open connections from one address at once; more are closed. Stubs behind
  // one NAT address share it. 0: no limit.
  unsigned max_per_address = 128;
  // A request must arrive whole within this many seconds of its connection
  // opening or of the previous answer; 0: no deadline.
  double head_timeout_seconds = 30;
  // Reverse proxies whose X-Forwarded-For / X-Real-IP name the client.
  std::vector<std::string> trusted_proxies;
  std::string admin_host;  // dashboard address; "" = no dashboard
  uint16_t admin_port = 0;
  // How requests are answered; null: plainly, as in production.
  std::shared_ptr<const ServerAnswers> answers;
};

class ReportServer {
 public:
  explicit ReportServer(ServerConfig config);
  ~ReportServer();
  ReportServer(const ReportServer&) = delete;
  ReportServer& operator=(const ReportServer&) = delete;

  // Opens the database and starts serving; false with `error` when the
  // database or the address cannot be used.
  bool Start(std::string* error);
  // The port actually bound (useful with port 0).
  uint16_t port() const;
  // The admin (dashboard) port actually bound; 0 without --admin-listen.
  uint16_t admin_port() const;
  // Ends all connections and closes the database. Safe to call twice.
  void Stop();
  // Loads the rules (or reply) file again; false with `error` when the new
  // file is refused and the old rules stay.
  bool ReloadRules(std::string* error);
  // Reads the certificate and key files again and serves the new pair to
  // connections that open from now on; false with `error` when they are
  // refused and the pair in force stays. True without TLS.
  bool ReloadCertificates(std::string* error);
  // Loads the rules again if their file changed (a refused file is reported
  // on stderr) and brings the installers' digests up to date.
  void WatchRules();

 private:
  bool StartAdmin(std::string* error);
  std::chrono::milliseconds HeadTimeout() const;
  // Records the request and answers once its row is durable.
  void Handle(const HttpRequest& req, const LaterAnswer& later);
  Answer AnswerRecorded(const RecordedRequest& rec, const Exchange& exchange);

  const ServerConfig config_;
  const std::shared_ptr<const ServerAnswers> answers_;
  std::unique_ptr<ReleaseService> releases_;
  std::unique_ptr<Store> store_;
  std::unique_ptr<HttpDaemon> http_;
  std::unique_ptr<HttpDaemon> admin_;  // a separate listener: never the public port
};

}  // namespace stub::server
