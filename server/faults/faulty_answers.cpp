#include "server/faults/faulty_answers.h"

#include "server/base/local_file.h"

namespace stub::server {
namespace {

// Raw "Info" answers are meant for garbage replies; still, they stay bounded.
constexpr size_t kMaxRawBytes = 16u << 20;

}  // namespace

Answer FaultyAnswers::Info(const std::function<std::string()>& coded) const {
  Answer answer = faults_.info_raw.empty()
                      ? ServerAnswers::Info(coded)
                      : TextAnswer(200, "text/html", ReadFileBytes(faults_.info_raw, kMaxRawBytes).value_or(""));
  answer.delay_seconds = faults_.info_delay;
  return answer;
}

Answer FaultyAnswers::Report() const {
  Answer answer = ServerAnswers::Report();
  answer.delay_seconds = faults_.report_delay;
  return answer;
}

Answer FaultyAnswers::File(const Exchange& exchange, std::string_view method, const std::string& path) const {
  if (faults_.file.status != 0) return StatusPage(static_cast<unsigned>(faults_.file.status));
  return ServerAnswers::File(exchange, method, path);
}

Answer FaultyAnswers::FileBody(const Exchange& exchange, const std::string& path) const {
  return FaultyFileAnswer(exchange, path, faults_.file);
}

}  // namespace stub::server
