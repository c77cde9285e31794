// The report server's command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace stub::server {

// How file requests are answered; the defaults serve files plainly. Used by
// tests to play a faulty download host.
struct FileBehaviour {
  int status = 0;          // non-zero: answer every file request with this status
  int64_t rate = 0;        // bytes per second; 0 = unthrottled
  int64_t truncate = -1;   // send this many body bytes, then close
  int64_t stall = -1;      // send this many body bytes, then go silent
  bool chunked = false;    // chunked transfer instead of Content-Length
  int64_t extra = 0;       // bytes sent beyond the announced length
};

struct ServerConfig {
  std::string host;  // listen address: name or numeric (IPv6 without brackets)
  uint16_t port = 0;
  std::string db;     // SQLite file (created when missing) or postgresql:// URL
  std::string spool;  // PostgreSQL only: where writes wait while the database is away
  std::string reply;  // plain reply file for "Info" requests (or:)
  std::string rules;  // release rules file (TOML) choosing the reply per request
  std::string files;  // folder served to requests without a Key field
  double info_delay = 0;  // seconds before "Info" is answered
  double report_delay = 0;  // seconds before other keyed requests are answered
  std::string info_raw;   // when set, "Info" gets this file's bytes uncoded
  std::string tls_cert;   // PEM files; when set, every endpoint is served over TLS
  std::string tls_key;
  FileBehaviour file;
  unsigned max_connections = 1024;  // open connections served at once; more wait
  std::string admin_host;  // dashboard address; "" = no dashboard
  uint16_t admin_port = 0;
};

struct CommandLine {
  enum class Command { kServe, kEvents, kStats, kCheck, kHelp } command = Command::kServe;
  ServerConfig config;  // kServe
  std::string db;       // kEvents, kStats: SQLite file or postgresql:// URL
  std::string since, until, channel;  // kStats filter
  std::string rules, files;           // kCheck
  bool tls = false;                   // kCheck: as a server answering over TLS checks them
};

// Parses the arguments after the program name. Options take their value as
// the next argument or after '='. Returns false with a message for the user.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error);

std::string UsageText();

}  // namespace stub::server
