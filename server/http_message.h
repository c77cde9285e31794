// The parts of HTTP/1.1 messages the report server reads and writes: request
// heads (split leniently, since the server's job is to record whatever a
// client sends) and response heads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace stub::server {

using Headers = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
  std::string method;   // raw bytes of the request line
  std::string target;   // raw bytes, exactly as received
  std::string version;  // "HTTP/1.1", or empty when the line carried none
  Headers headers;
  std::string client;  // peer address
  // False when the request line is not HTTP/1.x; such requests are still
  // recorded and then answered with 400.
  bool well_formed = false;

  // First header of that name (case-insensitive); nullptr when absent.
  const std::string* Header(std::string_view name) const;
};

// Splits a request line (without its line end). The method ends at the first
// space and the version is the last space-separated word when it starts with
// "HTTP/"; everything between is the target, spaces included, so a client that
// sends unescaped spaces is still understood. Returns well_formed.
bool ParseRequestLine(std::string_view line, HttpRequest& req);

// Parses a whole head: request line, then "Name: value" lines. Lines end in
// LF or CRLF. Lines without a colon are ignored. Returns well_formed.
bool ParseRequestHead(std::string_view head, HttpRequest& req);

// Whether the connection stays open after the answer: HTTP/1.1 unless the
// client asked to close; HTTP/1.0 and malformed requests always close.
bool KeepAlive(const HttpRequest& req);

// Content-Length of the request body: 0 when absent, -1 when unusable.
int64_t RequestBodyLength(const HttpRequest& req);

// "Not Found" and the like; "Status" for codes without a name here.
const char* ReasonPhrase(int status);

// "HTTP/1.1 <status> <reason>\r\n", the headers, "Connection: close" when
// `close`, and the empty line.
std::string ResponseHead(int status, const Headers& headers, bool close);

// Request texts are bounded: a longer request line is answered with 414 and a
// longer header block with 431, both without recording.
constexpr size_t kMaxRequestLine = (1u << 20) + 256;
constexpr size_t kMaxHeaderBlock = 64u << 10;
constexpr size_t kMaxHeaderCount = 100;
// A request body up to this size is read and dropped; a larger one ends the
// connection after the answer.
constexpr int64_t kMaxDiscardedBody = 1 << 20;

}  // namespace stub::server
