// The rules in force: loaded at start (a broken file refuses the start),
// reloaded when their file changes or on demand (SIGHUP), atomically: a
// broken new file is reported and the old rules stay. Answers "Info"
// requests with the coded reply of the first matching rule.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "server/base/local_file.h"
#include "server/http/query.h"
#include "server/rules/file_digest.h"
#include "server/rules/release_rules.h"

namespace stub::server {

class ReleaseService {
 public:
  // `path` is a TOML rules file, or with `fixed` a plain reply file (a
  // missing reply file means no reply). Served files live under `files_dir`.
  // With `tls` the replies go out over TLS, and no download address may be
  // a plain http:// one.
  ReleaseService(std::string path, bool fixed, std::string files_dir, bool tls = false);

  // Loads the file; false with `error` naming rule and field when it is broken.
  bool Load(std::string* error);
  // Loads the file again when it changed since the last attempt (always with
  // `force`). Returns false with `error` when a new file was refused; the old
  // rules then stay in force.
  bool Reload(bool force, std::string* error);

  // Reload(false) with a refusal reported on stderr, then every rule's
  // digest looked at (computed again for files that changed).
  void Watch();

  struct Answer {
    std::string rule;   // name of the matching rule ("" for a fixed reply)
    std::string plain;  // plain reply, "" when there is none
    std::string coded;  // what the stub receives
  };
  // The answer to an "Info" request carrying `request`. A served file that
  // has gone missing gives no reply (the stub then takes its built-in
  // download) and a message on stderr.
  Answer AnswerFor(const QueryFields& request);

  // The rules in force (null before a successful Load).
  std::shared_ptr<const RuleSet> rules() const;
  // The digests announced for `release` now (a hand-typed SHA-256 only when
  // the rule gives one); empty when its file cannot be read.
  FileDigests DigestFor(const Release& release);

 private:
  using Stamp = std::optional<FileStamp>;  // nullopt: no file
  void ReloadAndReport();
  bool LoadNow(const Stamp& stamp, std::string* error);

  const std::string path_;
  const bool fixed_;
  const std::string files_dir_;
  const bool tls_;
  DigestCache digests_;
  std::mutex load_mutex_;  // one load at a time
  Stamp stamp_;            // of the last attempt, good or broken
  mutable std::mutex rules_mutex_;
  std::shared_ptr<const RuleSet> rules_;
};

}  // namespace stub::server
