// The report server's request head parsing for any bytes: request line,
// headers, keep-alive and body length, and the query of whatever target came.
#include "fuzz_check.h"
#include "server/http_message.h"
#include "server/query.h"

FUZZ_TARGET(head) {
  using namespace stub::server;
  using stub::fuzz::IsUtf8;
  HttpRequest req;
  const bool ok = ParseRequestHead(head, req);
  FUZZ_CHECK(ok == req.well_formed, "the result is well_formed");
  if (ok) {
    FUZZ_CHECK(!req.method.empty() && !req.target.empty(), "a well-formed request has method and target");
    FUZZ_CHECK(req.version.size() == 8 && req.version.compare(0, 7, "HTTP/1.") == 0, "HTTP/1.x");
  }
  FUZZ_CHECK(req.method.find(' ') == std::string::npos, "the method ends at the first space");
  FUZZ_CHECK(req.method.size() + req.target.size() + req.version.size() <= head.size(), "parts come from the head");
  FUZZ_CHECK(req.headers.size() <= head.size(), "at most one header a byte");
  for (const auto& [name, value] : req.headers) {
    FUZZ_CHECK(name.find('\n') == std::string::npos && value.find('\n') == std::string::npos,
               "headers hold no line end");
    FUZZ_CHECK(req.Header(name) != nullptr, "every header can be found");
  }
  const int64_t body = RequestBodyLength(req);
  FUZZ_CHECK(body >= -1 && body < 1000000000000000, "body length is -1 or at most 15 digits");
  if (KeepAlive(req)) FUZZ_CHECK(ok && req.version == "HTTP/1.1", "only HTTP/1.1 stays open");
  for (const auto& field : DecodeQuery(req.target)) FUZZ_CHECK(!field || IsUtf8(*field), "a field is valid UTF-8");
  FUZZ_CHECK(IsUtf8(ValidUtf8(req.method)), "the recorded method is valid UTF-8");

  const int status = head.empty() ? 200 : 100 + static_cast<uint8_t>(head[0]) * 2;
  const std::string response = ResponseHead(status, req.headers, !ok);
  FUZZ_CHECK(response.compare(0, 9, "HTTP/1.1 ") == 0 && response.compare(response.size() - 4, 4, "\r\n\r\n") == 0,
             "a response head is a status line, headers and an empty line");
}
