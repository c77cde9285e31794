// Release rules: which installer and titles an "Info" request is answered
// with, chosen by what the request carries. Loaded from a TOML file (or a
// plain reply file, the simplest rule), checked against everything the stub
// would mangle before any of it is served.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "server/http/query.h"
#include "server/rules/file_digest.h"

namespace stub::server {

// The request fields a rule can test; an empty list matches any value.
struct RuleMatch {
  std::vector<std::string> softId, Channel, SoftVer, OS, OSBit;
};

struct Release {
  std::string file;     // served under the files folder ("" for an external address)
  std::string url;      // download address as announced (served: download_base + file)
  std::string md5;      // external address: the digest given, lower-case hex
  std::string sha256;   // external address with md5: the SHA-256 given ("" = none sent)
  std::string md5_of;   // external address: a local copy whose digest is announced
  std::string SetupName, NameTitle, NISITitle, NISIVer;  // "" = not sent
};

struct Rule {
  std::string name;  // "default" for the default rule
  RuleMatch match;
  Release release;
};

struct RuleSet {
  // First match wins; the default rule is last and matches everything.
  std::vector<Rule> rules;
  // A plain reply file instead of rules: this text for every request ("" =
  // no reply, the stub then uses its built-in download).
  bool fixed = false;
  std::string fixed_reply;
};

// The first rule whose fields all match (ASCII case ignored); null only for
// a fixed reply.
const Rule* MatchRule(const RuleSet& rules, const QueryFields& request);

// The plain reply for `release` announcing `digests` (a SHA-256 only when it
// is known).
std::string PlainReplyFor(const Release& release, const FileDigests& digests);

// Where a rule's local files live: the served path of `file` under the files
// folder, or "" when it names none.
std::string ServedPath(const std::string& files_dir, const std::string& file);

// Digests of a local file, empty when it is unreadable.
using DigestFn = std::function<FileDigests(const std::string& path)>;

// Parses a TOML rules file. On failure returns false and `error` names the
// rule and field (or the TOML line). Local files are looked up under
// `files_dir`; every value is checked with CheckRelease. A rule's plain
// http:// download address is refused when download_base is https://, and
// with `tls` (the replies go out over TLS) always: a stub that asked over
// https:// would not take it.
bool LoadRules(const std::string& toml_text, const std::string& source_name,
               const std::string& files_dir, const DigestFn& digest, RuleSet& out,
               std::string& error, bool tls = false);

// A plain reply file's bytes as the simplest rule: a byte-order mark and one
// trailing line end dropped, then checked like rule values (with `tls`, a
// plain http:// DownUrl too).
bool LoadFixedReply(const std::string& file_bytes, RuleSet& out, std::string& error,
                    bool tls = false);

// Why a stub that asked over TLS takes no download from a plain http://
// address.
inline constexpr char kClearUnderTls[] =
    "is a plain http:// address, but the replies go out over TLS: a stub that asks over https:// "
    "takes no download in the clear and uses its built-in download instead";

// Checks one value the stub would receive; "" when it arrives as written,
// else what is wrong with it.
std::string CheckValue(const std::string& field, const std::string& value);

// Checks a whole plain reply: each value with CheckValue, and the reply
// decoded the way the stub decodes the served page gives every value back.
// `rule` names the rule in the message.
std::string CheckReply(const std::string& rule, const std::string& plain);

}  // namespace stub::server
