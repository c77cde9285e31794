#include "server/app/server_answers.h"

#include "server/http/file_answer.h"

namespace stub::server {

Answer ServerAnswers::Info(const std::function<std::string()>& coded) const {
  // Plain text, so that the page text the stub takes is the coded reply
  // exactly (an HTML page would have its spaces collapsed).
  return TextAnswer(200, "text/plain; charset=utf-8", coded());
}

Answer ServerAnswers::Report() const { return TextAnswer(200, "text/html; charset=utf-8", ""); }

Answer ServerAnswers::File(const Exchange& exchange, std::string_view method, const std::string& path) const {
  if (method != "GET" && method != "HEAD") return StatusPage(405);
  if (path.empty()) return StatusPage(404);
  return FileBody(exchange, path);
}

Answer ServerAnswers::FileBody(const Exchange& exchange, const std::string& path) const {
  return FileAnswer(exchange, path);
}

}  // namespace stub::server
