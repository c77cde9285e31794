// What the daemon sends back: a status and the library's response, owned by
// the answer, and the small fixed answers (a body with its type, status pages).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct MHD_Response;

namespace stub::server {

struct ResponseDeleter {
  void operator()(MHD_Response* response) const;
};
// One reference to a library response; the library keeps its own while it sends.
using Response = std::unique_ptr<MHD_Response, ResponseDeleter>;

struct Answer {
  unsigned status = 200;
  Response response;         // null: the connection is closed without an answer
  double delay_seconds = 0;  // hold the answer back this long (cut short by a stop)
};

using Headers = std::vector<std::pair<std::string, std::string>>;

// `body` copied, with Content-Type and the extra headers.
Answer TextAnswer(unsigned status, std::string_view content_type, std::string_view body,
                  const Headers& headers = {});

// A short HTML page naming the status (no body for 204 and 304).
Answer StatusPage(unsigned status);

// "Not Found" and the like; "Status" for codes without a name here.
const char* ReasonPhrase(unsigned status);

}  // namespace stub::server
