// Small fixed answers: a body with its type, and status pages.
#pragma once

#include <string_view>
#include <utility>
#include <vector>

#include "server/http/daemon.h"

namespace stub::server {

using Headers = std::vector<std::pair<std::string, std::string>>;

// `body` copied, with Content-Type and the extra headers.
HttpAnswer TextAnswer(unsigned status, std::string_view content_type, std::string_view body,
                      const Headers& headers = {});

// A short HTML page naming the status (no body for 204 and 304).
HttpAnswer StatusPage(unsigned status);

// "Not Found" and the like; "Status" for codes without a name here.
const char* ReasonPhrase(unsigned status);

}  // namespace stub::server
