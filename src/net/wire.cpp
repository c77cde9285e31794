#include "net/wire.h"

#include <cstdint>

namespace stub {
namespace {

void PercentByte(std::string& out, uint8_t b) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out.push_back('%');
  out.push_back(kHex[b >> 4]);
  out.push_back(kHex[b & 15]);
}

void PercentCodePoint(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    PercentByte(out, static_cast<uint8_t>(cp));
  } else if (cp < 0x800) {
    PercentByte(out, static_cast<uint8_t>(0xC0 | (cp >> 6)));
    PercentByte(out, static_cast<uint8_t>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    PercentByte(out, static_cast<uint8_t>(0xE0 | (cp >> 12)));
    PercentByte(out, static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F)));
    PercentByte(out, static_cast<uint8_t>(0x80 | (cp & 0x3F)));
  } else {
    PercentByte(out, static_cast<uint8_t>(0xF0 | (cp >> 18)));
    PercentByte(out, static_cast<uint8_t>(0x80 | ((cp >> 12) & 0x3F)));
    PercentByte(out, static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F)));
    PercentByte(out, static_cast<uint8_t>(0x80 | (cp & 0x3F)));
  }
}

// A backslash is escaped too: the system's HTTP stack would otherwise turn
// it into "/", and a report such as "SavePath=C:\Temp\" would arrive altered.
bool NeedsEscape(char16_t c) {
  return c <= 0x20 || c >= 0x7F || c == u'"' || c == u'<' || c == u'>' || c == u'\\';
}

}  // namespace

std::string WireUrl(std::u16string_view url) {
  std::string out;
  out.reserve(url.size());
  for (size_t i = 0; i < url.size(); ++i) {
    const char16_t c = url[i];
    if (c == u'#') break;
    if (!NeedsEscape(c)) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    uint32_t cp = c;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < url.size() && url[i + 1] >= 0xDC00 &&
        url[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((uint32_t{c} - 0xD800) << 10) + (uint32_t{url[i + 1]} - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      cp = 0xFFFD;
    }
    PercentCodePoint(out, cp);
  }
  return out;
}

std::u16string WireBoundedText(std::u16string_view text, size_t maxWireBytes) {
  const auto fits = [&](size_t n) { return WireUrl(text.substr(0, n)).size() <= maxWireBytes; };
  return std::u16string(text.substr(0, LongestFitting(text, text.size(), fits)));
}

}  // namespace stub
