#include "server/http_message.h"

#include <cctype>

namespace stub::server {
namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool IsHttp1Version(std::string_view v) {
  return v.size() == 8 && v.substr(0, 5) == "HTTP/" && v[5] == '1' && v[6] == '.' &&
         std::isdigit(static_cast<unsigned char>(v[7]));
}

// True when `list` (a comma-separated header value) holds `token`.
bool HasToken(std::string_view list, std::string_view token) {
  while (!list.empty()) {
    const size_t comma = list.find(',');
    if (EqualsNoCase(TrimSpaces(list.substr(0, comma)), token)) return true;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return false;
}

}  // namespace

const std::string* HttpRequest::Header(std::string_view name) const {
  for (const auto& h : headers)
    if (EqualsNoCase(h.first, name)) return &h.second;
  return nullptr;
}

bool ParseRequestLine(std::string_view line, HttpRequest& req) {
  req.method.clear();
  req.target.clear();
  req.version.clear();
  const size_t first = line.find(' ');
  if (first == std::string_view::npos) {
    req.method = std::string(line);
    return req.well_formed = false;
  }
  req.method = std::string(line.substr(0, first));
  std::string_view rest = line.substr(first + 1);
  const size_t last = rest.rfind(' ');
  if (last != std::string_view::npos && rest.substr(last + 1).substr(0, 5) == "HTTP/") {
    req.version = std::string(rest.substr(last + 1));
    rest = rest.substr(0, last);
  }
  req.target = std::string(rest);
  req.well_formed = !req.method.empty() && !req.target.empty() && IsHttp1Version(req.version);
  return req.well_formed;
}

bool ParseRequestHead(std::string_view head, HttpRequest& req) {
  req.headers.clear();
  bool first = true;
  while (!head.empty()) {
    const size_t nl = head.find('\n');
    std::string_view line = head.substr(0, nl);
    head = nl == std::string_view::npos ? std::string_view() : head.substr(nl + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (first) {
      ParseRequestLine(line, req);
      first = false;
      continue;
    }
    if (line.empty()) break;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) continue;
    req.headers.emplace_back(std::string(TrimSpaces(line.substr(0, colon))),
                             std::string(TrimSpaces(line.substr(colon + 1))));
  }
  if (first) ParseRequestLine({}, req);
  return req.well_formed;
}

bool KeepAlive(const HttpRequest& req) {
  if (!req.well_formed || req.version != "HTTP/1.1") return false;
  const std::string* connection = req.Header("Connection");
  return !(connection && HasToken(*connection, "close"));
}

int64_t RequestBodyLength(const HttpRequest& req) {
  if (req.Header("Transfer-Encoding")) return -1;
  const std::string* length = req.Header("Content-Length");
  if (!length) return 0;
  if (length->empty() || length->size() > 15) return -1;
  int64_t n = 0;
  for (char c : *length) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

const char* ReasonPhrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 202: return "Accepted";
    case 204: return "No Content";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 410: return "Gone";
    case 414: return "URI Too Long";
    case 416: return "Range Not Satisfiable";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return "Status";
  }
}

std::string ResponseHead(int status, const Headers& headers, bool close) {
  std::string out = "HTTP/1.1 " + std::to_string(status) + " " + ReasonPhrase(status) + "\r\n";
  for (const auto& h : headers) out += h.first + ": " + h.second + "\r\n";
  if (close) out += "Connection: close\r\n";
  out += "\r\n";
  return out;
}

}  // namespace stub::server
