#include "server/http/answer.h"

#include <microhttpd.h>

namespace stub::server {

void ResponseDeleter::operator()(MHD_Response* response) const { MHD_destroy_response(response); }

Answer TextAnswer(unsigned status, std::string_view content_type, std::string_view body,
                  const Headers& headers) {
  Response r(MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()),
                                             MHD_RESPMEM_MUST_COPY));
  if (!r) return Answer{status, nullptr};
  if (!content_type.empty())
    MHD_add_response_header(r.get(), "Content-Type", std::string(content_type).c_str());
  for (const auto& [name, value] : headers) MHD_add_response_header(r.get(), name.c_str(), value.c_str());
  return Answer{status, std::move(r)};
}

Answer StatusPage(unsigned status) {
  if (status == 204 || status == 304) return TextAnswer(status, "", "", {{"Cache-Control", "no-store"}});
  const std::string title = std::to_string(status) + " " + ReasonPhrase(status);
  return TextAnswer(status, "text/html; charset=utf-8",
                    "<html><head><title>" + title + "</title></head><body><h1>" + title +
                        "</h1></body></html>");
}

const char* ReasonPhrase(unsigned status) {
  const char* name = MHD_get_reason_phrase_for(status);
  return name && *name && std::string_view(name) != "Unknown" ? name : "Status";
}

}  // namespace stub::server
