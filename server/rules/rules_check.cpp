#include "server/rules/rules_check.h"

#include "server/rules/info_reply.h"
#include "server/rules/release_service.h"

namespace stub::server {
namespace {

std::string Joined(const char* name, const std::vector<std::string>& values) {
  if (values.empty()) return "";
  std::string out = std::string(" ") + name + "=";
  for (size_t i = 0; i < values.size(); ++i) out += (i ? "|" : "") + values[i];
  return out;
}

}  // namespace

int CheckRulesFile(const std::string& rules_path, const std::string& files_dir, std::FILE* out,
                   std::FILE* err, bool tls) {
  ReleaseService service(rules_path, false, files_dir, tls);
  std::string error;
  if (!service.Load(&error)) {
    std::fprintf(err, "report-server: %s: %s\n", rules_path.c_str(), error.c_str());
    return 1;
  }
  const auto set = service.rules();
  for (const Rule& rule : set->rules) {
    const RuleMatch& m = rule.match;
    std::string when = Joined("softId", m.softId) + Joined("Channel", m.Channel) +
                       Joined("SoftVer", m.SoftVer) + Joined("OS", m.OS) + Joined("OSBit", m.OSBit);
    if (when.empty()) when = " every request";
    const std::string plain = PlainReplyFor(rule.release, service.DigestFor(rule.release));
    std::fprintf(out, "rule '%s' for%s\n  plain: %s\n  coded: %s\n", rule.name.c_str(), when.c_str(),
                 plain.c_str(), CodedReply(plain).c_str());
  }
  std::fprintf(out, "%zu rules, accepted\n", set->rules.size());
  return 0;
}

}  // namespace stub::server
