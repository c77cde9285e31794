// The answers of a faulty server, for tests of the stub against one: held
// back, a raw "Info" page, a status for every file, file bodies gone wrong.
#pragma once

#include <string>

#include "server/app/server_answers.h"
#include "server/faults/faulty_file.h"

namespace stub::server {

struct Faults {
  double info_delay = 0;    // seconds before "Info" is answered
  double report_delay = 0;  // seconds before other keyed requests are answered
  std::string info_raw;     // when set, "Info" gets this file's bytes uncoded
  FileFaults file;
};

class FaultyAnswers : public ServerAnswers {
 public:
  explicit FaultyAnswers(Faults faults) : faults_(std::move(faults)) {}

  Answer Info(const std::function<std::string()>& coded) const override;
  Answer Report() const override;
  Answer File(const Exchange& exchange, std::string_view method, const std::string& path) const override;

 protected:
  Answer FileBody(const Exchange& exchange, const std::string& path) const override;

 private:
  const Faults faults_;
};

}  // namespace stub::server
