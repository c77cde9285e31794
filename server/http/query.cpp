#include "server/http/query.h"


#include "base/text.h"

namespace stub::server {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string PercentDecode(std::string_view in) {
  std::string out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '%' && i + 2 < in.size() && HexValue(in[i + 1]) >= 0 &&
        HexValue(in[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexValue(in[i + 1]) * 16 + HexValue(in[i + 2])));
      i += 2;
    } else {
      out.push_back(in[i]);
    }
  }
  return out;
}

std::string ValidUtf8(std::string_view bytes) {
  return Utf16ToUtf8Lossy(Utf8ToUtf16Lossy(bytes));
}

std::string_view QueryOf(std::string_view target) {
  const size_t q = target.find('?');
  return q == std::string_view::npos ? std::string_view() : target.substr(q + 1);
}

std::string_view PathOf(std::string_view target) { return target.substr(0, target.find('?')); }

QueryFields DecodeQuery(std::string_view target) {
  QueryFields fields;
  const size_t q = target.find('?');
  if (q == std::string_view::npos) return fields;
  std::string_view rest = target.substr(q + 1);
  for (;;) {
    const size_t amp = rest.find('&');
    const std::string_view piece = rest.substr(0, amp);
    const size_t eq = piece.find('=');
    const std::string name = PercentDecode(piece.substr(0, eq));
    for (size_t i = 0; i < kFieldCount; ++i) {
      if (fields[i] || name != kFieldNames[i]) continue;
      fields[i] = eq == std::string_view::npos ? std::string()
                                               : ValidUtf8(PercentDecode(piece.substr(eq + 1)));
    }
    if (amp == std::string_view::npos) break;
    rest.remove_prefix(amp + 1);
  }
  return fields;
}

}  // namespace stub::server
