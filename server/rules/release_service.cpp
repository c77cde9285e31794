#include "server/rules/release_service.h"

#include <cstdio>

#include "server/rules/info_reply.h"

namespace stub::server {

ReleaseService::ReleaseService(std::string path, bool fixed, std::string files_dir, bool tls)
    : path_(std::move(path)), fixed_(fixed), files_dir_(std::move(files_dir)), tls_(tls) {}

bool ReleaseService::LoadNow(const Stamp& stamp, std::string* error) {
  stamp_ = stamp;
  auto set = std::make_shared<RuleSet>();
  std::string problem;
  bool ok;
  const std::string text = stamp ? ReadFileBytes(path_, kMaxReplyBytes).value_or("") : "";
  if (fixed_) {
    ok = LoadFixedReply(text, *set, problem, tls_);
  } else if (!stamp) {
    ok = false;
    problem = "cannot read '" + path_ + "'";
  } else {
    ok = LoadRules(text, path_, files_dir_,
                   [this](const std::string& p) { return digests_.Digest(p); }, *set, problem, tls_);
  }
  if (!ok) {
    if (error) *error = problem;
    return false;
  }
  std::lock_guard<std::mutex> lock(rules_mutex_);
  rules_ = std::move(set);
  return true;
}

bool ReleaseService::Load(std::string* error) {
  std::lock_guard<std::mutex> lock(load_mutex_);
  return LoadNow(StampOf(path_), error);
}

bool ReleaseService::Reload(bool force, std::string* error) {
  std::lock_guard<std::mutex> lock(load_mutex_);
  const Stamp now = StampOf(path_);
  if (!force && now == stamp_) return true;
  return LoadNow(now, error);
}

std::shared_ptr<const RuleSet> ReleaseService::rules() const {
  std::lock_guard<std::mutex> lock(rules_mutex_);
  return rules_;
}

FileDigests ReleaseService::DigestFor(const Release& rel) {
  if (!rel.md5.empty()) return {rel.md5, rel.sha256};
  if (!rel.md5_of.empty()) return digests_.Digest(rel.md5_of);
  const std::string path = ServedPath(files_dir_, rel.file);
  return path.empty() ? FileDigests{} : digests_.Digest(path);
}

void ReleaseService::ReloadAndReport() {
  std::string error;
  if (!Reload(false, &error))
    std::fprintf(stderr, "report-server: %s: %s; the rules in force stay\n", path_.c_str(), error.c_str());
}

void ReleaseService::Watch() {
  ReloadAndReport();
  const auto set = rules();
  if (!set) return;
  for (const Rule& rule : set->rules) DigestFor(rule.release);
}

ReleaseService::Answer ReleaseService::AnswerFor(const QueryFields& request) {
  ReloadAndReport();
  const auto set = rules();
  Answer a;
  if (!set) return a;
  if (set->fixed) {
    a.plain = set->fixed_reply;
  } else if (const Rule* rule = MatchRule(*set, request)) {
    a.rule = rule->name;
    const FileDigests digests = DigestFor(rule->release);
    if (digests.empty()) {
      std::fprintf(stderr, "report-server: rule '%s': its installer cannot be read; no reply\n",
                   rule->name.c_str());
      return a;
    }
    a.plain = PlainReplyFor(rule->release, digests);
  }
  if (!a.plain.empty()) a.coded = CodedReply(a.plain);
  return a;
}

}  // namespace stub::server
