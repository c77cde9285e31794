#include "server/events.h"

#include "server/query.h"

namespace stub::server {

std::string JsonString(std::string_view bytes) {
  const std::string text = ValidUtf8(bytes);
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04x", c);
          out += esc;
        } else {
          out.push_back(ch);
        }
    }
  }
  out.push_back('"');
  return out;
}

std::string EventJson(const RecordedRequest& r) {
  std::string out = "{\"id\":" + std::to_string(r.id);
  out += ",\"time\":" + JsonString(r.time);
  out += ",\"client\":" + JsonString(r.client);
  out += ",\"method\":" + JsonString(r.method);
  out += ",\"target\":" + JsonString(r.target);
  for (size_t i = 0; i < kFieldCount; ++i) {
    out += ",\"";
    out += kFieldNames[i];
    out += "\":";
    out += r.fields[i] ? JsonString(*r.fields[i]) : "null";
  }
  return out + "}";
}

bool PrintEvents(const std::string& db_path, std::FILE* out, std::string* error) {
  const auto store = Store::Open(db_path, false, error);
  if (!store) return false;
  const bool ok = store->ForEach(
      [out](const RecordedRequest& r) {
        const std::string line = EventJson(r) + "\n";
        std::fwrite(line.data(), 1, line.size(), out);
      },
      error);
  std::fflush(out);
  return ok;
}

}  // namespace stub::server
