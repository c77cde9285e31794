// The TOML form of the release rules (toml++ does the parsing):
//
//   download_base = "http://dl.example.com/"      # for files served here
//   [[rule]]
//   name = "beta"
//   Channel = "beta"                               # or ["beta", "beta2"]
//   file = "korvel/beta/setup.exe"                 # under --files
//   NameTitle = "Korvel beta"
//   [default]
//   url = "https://cdn.example.com/setup.exe"      # external, with md5 or md5_of
//   md5 = "0123456789abcdef0123456789abcdef"
//   sha256 = "..."                                 # optional beside md5: 64 hex digits
#include <toml++/toml.h>

#include <cctype>
#include <set>

#include "server/rules/release_rules.h"

namespace stub::server {
namespace {

const std::set<std::string> kMatchKeys = {"softId", "Channel", "SoftVer", "OS", "OSBit"};
const std::set<std::string> kReleaseKeys = {"file",      "url",       "md5",       "md5_of",   "sha256",
                                            "SetupName", "NameTitle", "NISITitle", "NISIVer"};

struct Loader {
  const std::string& files_dir;
  const DigestFn& digest;
  bool tls;
  std::string download_base;
  std::string error;

  bool Fail(const std::string& rule, const std::string& field, const std::string& what) {
    error = "rule '" + rule + "': " + field + " " + what;
    return false;
  }

  bool Strings(const std::string& rule, const std::string& key, const toml::node& node,
               std::vector<std::string>& out) {
    if (const auto* s = node.as_string()) {
      out.push_back(s->get());
    } else if (const auto* a = node.as_array()) {
      for (const auto& item : *a) {
        if (!item.is_string()) return Fail(rule, key, "must be a text or a list of texts");
        out.push_back(item.as_string()->get());
      }
      if (out.empty()) return Fail(rule, key, "is an empty list");
    } else {
      return Fail(rule, key, "must be a text or a list of texts");
    }
    return true;
  }

  bool Text(const std::string& rule, const std::string& key, const toml::node& node,
            std::string& out) {
    if (!node.is_string()) return Fail(rule, key, "must be a text");
    out = node.as_string()->get();
    // An external address is checked as the reply's DownUrl it becomes.
    const std::string problem = CheckValue(key == "url" ? "DownUrl" : key, out);
    return problem.empty() || Fail(rule, key, problem);
  }

  bool ReadRule(const toml::table& t, bool is_default, int index, Rule& out) {
    out.name = is_default ? "default" : "rule " + std::to_string(index);
    if (const auto* n = t.get("name")) {
      if (!n->is_string() || n->as_string()->get().empty())
        return Fail(out.name, "name", "must be a non-empty text");
      out.name = n->as_string()->get();
    }
    Release& rel = out.release;
    for (const auto& [k, node] : t) {
      const std::string key(k.str());
      if (key == "name") continue;
      if (kMatchKeys.count(key)) {
        if (is_default) return Fail(out.name, key, "cannot be tested by the default rule");
        std::vector<std::string>* field = key == "softId"    ? &out.match.softId
                                          : key == "Channel" ? &out.match.Channel
                                          : key == "SoftVer" ? &out.match.SoftVer
                                          : key == "OS"      ? &out.match.OS
                                                             : &out.match.OSBit;
        if (!Strings(out.name, key, node, *field)) return false;
      } else if (kReleaseKeys.count(key)) {
        std::string* field = key == "file"        ? &rel.file
                             : key == "url"       ? &rel.url
                             : key == "md5"       ? &rel.md5
                             : key == "md5_of"    ? &rel.md5_of
                             : key == "sha256"    ? &rel.sha256
                             : key == "SetupName" ? &rel.SetupName
                             : key == "NameTitle" ? &rel.NameTitle
                             : key == "NISITitle" ? &rel.NISITitle
                                                  : &rel.NISIVer;
        if (key == "file" || key == "md5_of") {
          if (!node.is_string() || node.as_string()->get().empty())
            return Fail(out.name, key, "must be a non-empty text");
          *field = node.as_string()->get();
        } else if (!Text(out.name, key, node, *field)) {
          return false;
        }
      } else {
        return Fail(out.name, key, "is not a field of a rule");
      }
    }
    return Installer(out);
  }

  // Exactly one installer: a served file, or an external address with its
  // digest (and optionally its SHA-256) or a local copy to take both from.
  bool Installer(Rule& rule) {
    Release& rel = rule.release;
    if (!rel.file.empty()) {
      if (!rel.url.empty() || !rel.md5.empty() || !rel.md5_of.empty() || !rel.sha256.empty())
        return Fail(rule.name, "file",
                    "excludes url, md5, md5_of and sha256: the server computes the digests of the files it serves");
      if (download_base.empty())
        return Fail(rule.name, "file", "needs download_base at the top of the file");
      rel.url = download_base + rel.file;
      const std::string problem = CheckValue("DownUrl", rel.url);
      if (!problem.empty()) return Fail(rule.name, "file", "'" + rel.file + "': the address " + problem);
      const std::string path = ServedPath(files_dir, rel.file);
      if (path.empty()) return Fail(rule.name, "file", "'" + rel.file + "' is not a file under the files folder");
      if (digest(path).empty()) return Fail(rule.name, "file", "'" + rel.file + "' cannot be read");
      return true;
    }
    if (rel.url.empty()) return Fail(rule.name, "url", "or file is needed: the rule names no installer");
    // A publisher whose files are on https:// means to deliver over TLS; a
    // server answering over TLS talks to stubs that take nothing else.
    if (rel.url.rfind("http://", 0) == 0 && tls) return Fail(rule.name, "url", kClearUnderTls);
    if (rel.url.rfind("http://", 0) == 0 && download_base.rfind("https://", 0) == 0)
      return Fail(rule.name, "url",
                  "is a plain http:// address while download_base is https://; serve it over https:// too");
    if (rel.md5.empty() == rel.md5_of.empty())
      return Fail(rule.name, "md5", "or md5_of (one of them) must give the digest of an external address");
    if (!rel.md5_of.empty()) {
      if (!rel.sha256.empty())
        return Fail(rule.name, "sha256", "excludes md5_of: the server computes it from the local copy");
      if (digest(rel.md5_of).empty()) return Fail(rule.name, "md5_of", "'" + rel.md5_of + "' cannot be read");
    }
    // Hand-typed digests go out in lower case, as the stub reads every value.
    for (std::string* typed : {&rel.md5, &rel.sha256})
      for (char& c : *typed) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return true;
  }
};

}  // namespace

bool LoadRules(const std::string& text, const std::string& source, const std::string& files_dir,
               const DigestFn& digest, RuleSet& out, std::string& error, bool tls) {
  out = RuleSet();
  toml::table root;
  try {
    root = toml::parse(text, source);
  } catch (const toml::parse_error& e) {
    error = source + ":" + std::to_string(e.source().begin.line) + ": " + std::string(e.description());
    return false;
  }
  Loader loader{files_dir, digest, tls, "", ""};
  for (const auto& [k, node] : root) {
    const std::string key(k.str());
    if (key == "download_base") {
      if (!node.is_string()) return (error = "download_base must be a text", false);
      loader.download_base = node.as_string()->get();
      if (!loader.download_base.empty() && loader.download_base.back() != '/') loader.download_base += '/';
      const std::string problem = CheckValue("DownUrl", loader.download_base);
      if (!problem.empty()) return (error = "download_base " + problem, false);
      if (tls && loader.download_base.rfind("http://", 0) == 0)
        return (error = std::string("download_base ") + kClearUnderTls, false);
    } else if (key != "rule" && key != "default") {
      error = "'" + key + "' is not a setting of a rules file (download_base, [[rule]], [default])";
      return false;
    }
  }
  if (const auto* rules = root.get("rule")) {
    const auto* list = rules->as_array();
    if (!list) return (error = "rule must be written as [[rule]] tables", false);
    int index = 0;
    for (const auto& item : *list) {
      ++index;
      if (!item.is_table()) return (error = "rule " + std::to_string(index) + " is not a table", false);
      Rule rule;
      if (!loader.ReadRule(*item.as_table(), false, index, rule)) return (error = loader.error, false);
      out.rules.push_back(std::move(rule));
    }
  }
  const auto* def = root.get("default");
  if (!def || !def->is_table())
    return (error = "a [default] rule is required: it answers every request no rule matches", false);
  Rule rule;
  if (!loader.ReadRule(*def->as_table(), true, 0, rule)) return (error = loader.error, false);
  out.rules.push_back(std::move(rule));
  // Each reply once more as a whole, with placeholder digests where the
  // server fills them in.
  for (const Rule& r : out.rules) {
    const Release& rel = r.release;
    const FileDigests digests = rel.md5.empty() ? FileDigests{std::string(32, '0'), std::string(64, '0')}
                                                : FileDigests{rel.md5, rel.sha256};
    error = CheckReply(r.name, PlainReplyFor(rel, digests));
    if (!error.empty()) return false;
  }
  return true;
}

}  // namespace stub::server
