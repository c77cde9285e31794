#include "server/faults/fault_options.h"

#include <map>

#include "server/base/option_values.h"

namespace stub::server {
namespace {

constexpr const char* kValued[] = {"--info-delay", "--report-delay", "--info-raw",  "--file-status",
                                   "--file-rate",  "--file-truncate", "--file-stall", "--file-extra"};
constexpr const char* kFlag = "--file-chunked";

}  // namespace

std::string FaultUsageText() {
  return "Options that play a faulty server (report-server-faults only, which serves and\n"
         "takes report-server's options above besides):\n"
         "  --info-delay SECONDS   answer \"Info\" only after this delay\n"
         "  --info-raw FILE        answer \"Info\" with FILE's bytes, uncoded\n"
         "  --report-delay SECONDS record each report at once, answer it after this delay\n"
         "  --file-status CODE     answer every file request with this status (200-599)\n"
         "  --file-rate BYTES      send file bodies at this many bytes per second\n"
         "  --file-truncate BYTES  send this many body bytes of the announced length, then close\n"
         "  --file-stall BYTES     send this many body bytes, then nothing until the client leaves\n"
         "  --file-chunked         chunked transfer instead of Content-Length\n"
         "  --file-extra BYTES     send this many bytes more than the announced length\n";
}

bool TakeFaultOptions(std::vector<std::string>& args, Faults& out, std::string& error) {
  out = Faults();
  std::map<std::string, std::string> values;
  std::vector<std::string> rest;
  for (size_t i = 0; i < args.size(); ++i) {
    const size_t eq = args[i].find('=');
    const std::string name = args[i].substr(0, eq);
    bool valued = false;
    for (const char* known : kValued) valued = valued || name == known;
    if (!valued && name != kFlag) {
      rest.push_back(args[i]);
      continue;
    }
    std::string value;
    if (!valued) {
      if (eq != std::string::npos) return Refuse(error, name + " takes no value");
    } else if (eq != std::string::npos) {
      value = args[i].substr(eq + 1);
    } else {
      if (i + 1 >= args.size()) return Refuse(error, name + " needs a value");
      value = args[++i];
    }
    if (!values.emplace(name, value).second) return Refuse(error, name + " given twice");
  }
  args = std::move(rest);

  const auto take = [&](const char* name, std::string& into) {
    const auto it = values.find(name);
    if (it == values.end()) return false;
    into = it->second;
    return true;
  };
  std::string v;
  if (take("--info-delay", v) && !ParseSeconds(v, out.info_delay))
    return Refuse(error, "--info-delay expects seconds, got '" + v + "'");
  if (take("--report-delay", v) && !ParseSeconds(v, out.report_delay))
    return Refuse(error, "--report-delay expects seconds, got '" + v + "'");
  if (take("--info-raw", out.info_raw) && out.info_raw.empty())
    return Refuse(error, "--info-raw needs a file name");
  FileFaults& f = out.file;
  int64_t n;
  if (take("--file-status", v)) {
    if (!ParseCount(v, 200, 599, n)) return Refuse(error, "--file-status expects 200-599, got '" + v + "'");
    f.status = static_cast<int>(n);
  }
  const int64_t kMaxBytes = int64_t{1} << 50;
  if (take("--file-rate", v) && !ParseCount(v, 1, kMaxBytes, f.rate))
    return Refuse(error, "--file-rate expects a positive byte count, got '" + v + "'");
  if (take("--file-truncate", v) && !ParseCount(v, 0, kMaxBytes, f.truncate))
    return Refuse(error, "--file-truncate expects a byte count, got '" + v + "'");
  if (take("--file-stall", v) && !ParseCount(v, 0, kMaxBytes, f.stall))
    return Refuse(error, "--file-stall expects a byte count, got '" + v + "'");
  if (take("--file-extra", v) && !ParseCount(v, 0, kMaxBytes, f.extra))
    return Refuse(error, "--file-extra expects a byte count, got '" + v + "'");
  f.chunked = take(kFlag, v);

  if (f.truncate >= 0 && f.stall >= 0)
    return Refuse(error, "--file-truncate and --file-stall exclude each other");
  if (f.extra > 0 && (f.truncate >= 0 || f.stall >= 0 || f.chunked))
    return Refuse(error, "--file-extra cannot be combined with --file-truncate, --file-stall or --file-chunked");
  return true;
}

}  // namespace stub::server
