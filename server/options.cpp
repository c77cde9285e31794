#include "server/options.h"

#include <arpa/inet.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>

#include "server/base/option_values.h"
#include "server/http/client_address.h"
#include "server/http/tls_certificate.h"
#include "server/stats/figures.h"

namespace stub::server {
namespace {

// "127.0.0.1:18471", "localhost:80", "[::1]:8080".
bool ParseListen(const std::string& text, std::string& host, uint16_t& port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  host = text.substr(0, colon);
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') return false;
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string::npos) {
    return false;  // IPv6 needs brackets
  }
  int64_t p;
  if (!ParseCount(text.substr(colon + 1), 0, 65535, p)) return false;
  port = static_cast<uint16_t>(p);
  return true;
}

// "YYYY-MM-DD" naming a day of the calendar (not 2026-02-30).
bool IsCalendarDay(const std::string& text) {
  if (!IsDay(text)) return false;
  const int y = std::stoi(text.substr(0, 4)), m = std::stoi(text.substr(5, 2)), d = std::stoi(text.substr(8, 2));
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m < 1 || m > 12 || d < 1) return false;
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= kDays[m - 1] + (m == 2 && leap);
}

// An IPv4 or IPv6 address as digits, nothing around it (no port, no name).
bool IsNumericAddress(const std::string& text) {
  unsigned char bytes[sizeof(in6_addr)];
  return inet_pton(AF_INET, text.c_str(), bytes) == 1 || inet_pton(AF_INET6, text.c_str(), bytes) == 1;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string UsageText() {
  return "usage:\n"
         "  report-server --listen ADDR:PORT --db FILE (--rules FILE | --reply FILE) --files DIR [options]\n"
         "  report-server events --db FILE\n"
         "  report-server stats --db FILE [--since DATE] [--until DATE] [--channel NAME]\n"
         "  report-server check RULES [--files DIR] [--tls]\n"
         "  report-server prune --db FILE --before DATE\n"
         "  report-server --help\n"
         "\n"
         "Records every request in the SQLite database FILE (or the PostgreSQL\n"
         "database at a postgresql:// URL), answers \"Info\" requests\n"
         "with the coded reply of the first release rule that matches the request (or\n"
         "the reply FILE for every request), answers other\n"
         "keyed requests with an empty page, and serves the files under DIR to\n"
         "requests without a Key field. Prints \"report-server: listening on\n"
         "ADDR:PORT\" when ready (an address another server already listens on is\n"
         "refused); SIGINT or SIGTERM stop it. SIGHUP, or a change of the rules or\n"
         "reply file, loads it again; a broken file is reported and the rules in force\n"
         "stay. SIGHUP also reads the TLS certificate and key again for new\n"
         "connections; a pair that does not load is reported and the old one stays.\n"
         "\n"
         "  --listen ADDR:PORT     address to listen on (port 0 picks a free port;\n"
         "                         IPv6 as [ADDR]:PORT)\n"
         "  --db FILE|URL          request log: a SQLite file, created when missing, or\n"
         "                         postgresql://...; the schema is created on first use\n"
         "  --spool FILE           with PostgreSQL: where requests wait, on disk, while\n"
         "                         the database is unreachable (default\n"
         "                         report-server.spool; locked: one server per file);\n"
         "                         written to it in order once back\n"
         "  --rules FILE           release rules (TOML, see the README)\n"
         "  --reply FILE           plain reply text, UTF-8: one reply for all requests\n"
         "  --files DIR            folder of downloadable files\n"
         "  --tls-cert FILE        serve HTTPS with this PEM certificate (chain) ...\n"
         "  --tls-key FILE         ... and this PEM private key (both or neither)\n"
         "  --tls-priorities STR   GnuTLS priority string for TLS versions and ciphers\n"
         "                         (default " + std::string(kDefaultTlsPriorities) + ":\n"
         "                         TLS 1.2 and 1.3 only; Windows XP needs TLS 1.0, see\n"
         "                         the README)\n"
         "  --admin-listen ADDR:PORT  serve the dashboard and its figures, /metrics\n"
         "                         (Prometheus) and /healthz here only (never the\n"
         "                         --listen address)\n"
         "  --max-connections N    serve at most N connections at once (default 1024);\n"
         "                         further ones wait until one closes\n"
         "  --max-per-address N    at most N open connections from one address (IPv6: one\n"
         "                         /64) at once; more are closed as they arrive (default\n"
         "                         128, 0 no limit). Stubs behind one NAT address share it\n"
         "  --head-timeout S       a request must arrive whole within S seconds of its\n"
         "                         connection opening or of the previous answer, or the\n"
         "                         connection is closed (default 30, 0 no deadline)\n"
         "  --trusted-proxy ADDR[,ADDR...]  numeric addresses of reverse proxies in front:\n"
         "                         from these peers the client recorded is the last\n"
         "                         X-Forwarded-For entry (else X-Real-IP); from any other\n"
         "                         peer those headers are ignored. Proxies have no\n"
         "                         per-address limit\n"
         "\n"
         "events: prints the recorded requests as JSON lines in order of arrival.\n"
         "stats: prints the runs' funnel, failure reasons, time to install and the\n"
         "daily split as JSON lines (DATE is YYYY-MM-DD, UTC, inclusive).\n"
         "check: validates a rules file and prints each rule's plain and coded reply\n"
         "(files named by rules are looked up under DIR, default the current folder);\n"
         "with --tls as a server run with --tls-cert does, which refuses http://\n"
         "download addresses.\n"
         "prune: deletes the requests recorded before DATE (YYYY-MM-DD, UTC; that day\n"
         "itself is kept), in short transactions so a running server goes on\n"
         "recording, and prints how many it deleted.\n";
}

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error) {
  out = CommandLine();
  size_t i = 0;
  if (!args.empty() && args[0] == "events") {
    out.command = CommandLine::Command::kEvents;
    i = 1;
  } else if (!args.empty() && args[0] == "stats") {
    out.command = CommandLine::Command::kStats;
    i = 1;
  } else if (!args.empty() && args[0] == "prune") {
    out.command = CommandLine::Command::kPrune;
    i = 1;
  } else if (!args.empty() && args[0] == "check") {
    out.command = CommandLine::Command::kCheck;
    if (args.size() < 2 || args[1].rfind("--", 0) == 0) return Refuse(error, "check needs a RULES file");
    out.rules = args[1];
    i = 2;
  }
  std::map<std::string, std::string> values;
  for (; i < args.size(); ++i) {
    std::string name = args[i], value;
    if (name == "--help" || name == "-h") {
      out.command = CommandLine::Command::kHelp;
      return true;
    }
    if (name.rfind("--", 0) != 0) return Refuse(error, "unexpected argument '" + name + "'");
    const size_t eq = name.find('=');
    const bool flag = name.substr(0, eq) == "--tls";  // check's only option without a value
    if (eq != std::string::npos) {
      if (flag) return Refuse(error, name.substr(0, eq) + " takes no value");
      value = name.substr(eq + 1);
      name.resize(eq);
    } else if (!flag) {
      if (i + 1 >= args.size()) return Refuse(error, name + " needs a value");
      value = args[++i];
    }
    if (values.count(name)) return Refuse(error, name + " given twice");
    values[name] = value;
  }

  const auto take = [&](const char* name, std::string& into) {
    const auto it = values.find(name);
    if (it == values.end()) return false;
    into = it->second;
    values.erase(it);
    return true;
  };

  if (out.command == CommandLine::Command::kEvents) {
    if (!take("--db", out.db)) return Refuse(error, "events needs --db FILE");
    if (!values.empty()) return Refuse(error, "unknown option " + values.begin()->first + " for events");
    return true;
  }

  if (out.command == CommandLine::Command::kStats) {
    if (!take("--db", out.db)) return Refuse(error, "stats needs --db FILE");
    for (const auto& [name, into] : {std::pair<const char*, std::string*>{"--since", &out.since},
                                     {"--until", &out.until}}) {
      if (take(name, *into) && !IsDay(*into))
        return Refuse(error, std::string(name) + " expects YYYY-MM-DD, got '" + *into + "'");
    }
    take("--channel", out.channel);
    if (!values.empty()) return Refuse(error, "unknown option " + values.begin()->first + " for stats");
    return true;
  }
  if (out.command == CommandLine::Command::kPrune) {
    if (!take("--db", out.db)) return Refuse(error, "prune needs --db FILE");
    if (!take("--before", out.before)) return Refuse(error, "prune needs --before DATE");
    if (!IsCalendarDay(out.before))
      return Refuse(error, "--before expects a day as YYYY-MM-DD, got '" + out.before + "'");
    if (!values.empty()) return Refuse(error, "unknown option " + values.begin()->first + " for prune");
    return true;
  }
  if (out.command == CommandLine::Command::kCheck) {
    if (!take("--files", out.files)) out.files = ".";
    std::string flag;
    out.tls = take("--tls", flag);
    if (!values.empty()) return Refuse(error, "unknown option " + values.begin()->first + " for check");
    return true;
  }

  ServerConfig& c = out.config;
  std::string listen;
  for (const auto& [name, into] : {std::pair<const char*, std::string*>{"--listen", &listen},
                                   {"--db", &c.db},
                                   {"--files", &c.files}}) {
    if (!take(name, *into) || into->empty()) return Refuse(error, std::string("missing ") + name);
  }
  const bool has_reply = take("--reply", c.reply), has_rules = take("--rules", c.rules);
  if (has_reply == has_rules || (c.reply.empty() && c.rules.empty()))
    return Refuse(error, "give either --rules FILE or --reply FILE");
  if (!ParseListen(listen, c.host, c.port))
    return Refuse(error, "--listen expects ADDR:PORT, got '" + listen + "'");
  std::string admin;
  if (take("--admin-listen", admin) && !ParseListen(admin, c.admin_host, c.admin_port))
    return Refuse(error, "--admin-listen expects ADDR:PORT, got '" + admin + "'");
  if (!admin.empty() && c.admin_port != 0 && c.admin_port == c.port && c.admin_host == c.host)
    return Refuse(error, "--admin-listen must differ from --listen (" + listen +
                             "): the dashboard never shares the stubs' address");
  if (!IsDirectory(c.files)) return Refuse(error, "--files: '" + c.files + "' is not a folder");

  std::string v;
  int64_t n;
  if (take("--max-connections", v)) {
    if (!ParseCount(v, 1, 1 << 20, n)) return Refuse(error, "--max-connections expects 1 or more, got '" + v + "'");
    c.max_connections = static_cast<unsigned>(n);
  }
  if (take("--max-per-address", v)) {
    if (!ParseCount(v, 0, 1 << 20, n)) return Refuse(error, "--max-per-address expects 0 or more, got '" + v + "'");
    c.max_per_address = static_cast<unsigned>(n);
  }
  if (take("--head-timeout", v) && (!ParseSeconds(v, c.head_timeout_seconds) || c.head_timeout_seconds > 3600))
    return Refuse(error, "--head-timeout expects seconds from 0 to 3600, got '" + v + "'");
  if (take("--trusted-proxy", v)) {
    for (size_t start = 0, comma; start <= v.size(); start = comma + 1) {
      comma = std::min(v.find(',', start), v.size());
      const std::string one = v.substr(start, comma - start);
      const auto address = IsNumericAddress(one) ? NumericAddress(one) : std::nullopt;
      if (!address)
        return Refuse(error, "--trusted-proxy expects numeric addresses separated by commas, got '" + v + "'");
      c.trusted_proxies.push_back(*address);
    }
  }
  if (take("--spool", c.spool) && c.spool.empty()) return Refuse(error, "--spool needs a file name");
  const bool cert = take("--tls-cert", c.tls_cert), key = take("--tls-key", c.tls_key);
  if (cert != key) return Refuse(error, "--tls-cert and --tls-key go together");
  if (cert && (c.tls_cert.empty() || c.tls_key.empty()))
    return Refuse(error, "--tls-cert and --tls-key need file names");
  if (take("--tls-priorities", c.tls_priorities)) {
    if (!cert) return Refuse(error, "--tls-priorities needs --tls-cert and --tls-key");
    std::string why;
    if (!CheckTlsPriorities(c.tls_priorities, &why))
      return Refuse(error, "--tls-priorities '" + c.tls_priorities + "': " + why);
  }
  if (!values.empty()) return Refuse(error, "unknown option " + values.begin()->first);
  return true;
}

}  // namespace stub::server
