#include "base/text.h"

namespace stub {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at `p`; returns its length, or 0 when malformed.
size_t DecodeUtf8(std::string_view in, size_t p, uint32_t& cp) {
  const auto b = [&](size_t i) { return static_cast<uint8_t>(in[i]); };
  const uint8_t c = b(p);
  size_t len;
  uint32_t min;
  if (c < 0x80) {
    cp = c;
    return 1;
  } else if ((c & 0xE0) == 0xC0) {
    len = 2, min = 0x80, cp = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    len = 3, min = 0x800, cp = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    len = 4, min = 0x10000, cp = c & 0x07;
  } else {
    return 0;
  }
  if (p + len > in.size()) return 0;
  for (size_t i = 1; i < len; ++i) {
    if ((b(p + i) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(p + i) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

void AppendUtf16(uint32_t cp, std::u16string& out) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

void AppendUtf8(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Walks UTF-16; lone surrogates are reported as 0xFFFFFFFF.
template <typename Fn>
void ForEachCodePoint(std::u16string_view in, Fn fn) {
  for (size_t i = 0; i < in.size(); ++i) {
    const char16_t c = in[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 &&
        in[i + 1] <= 0xDFFF) {
      fn(0x10000 + ((uint32_t(c) - 0xD800) << 10) + (uint32_t(in[i + 1]) - 0xDC00));
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      fn(0xFFFFFFFFu);
    } else {
      fn(c);
    }
  }
}

}  // namespace

bool Utf8ToUtf16(std::string_view in, std::u16string& out) {
  out.clear();
  out.reserve(in.size());
  for (size_t p = 0; p < in.size();) {
    uint32_t cp;
    const size_t len = DecodeUtf8(in, p, cp);
    if (len == 0) return false;
    AppendUtf16(cp, out);
    p += len;
  }
  return true;
}

std::u16string Utf8ToUtf16Lossy(std::string_view in) {
  std::u16string out;
  out.reserve(in.size());
  for (size_t p = 0; p < in.size();) {
    uint32_t cp;
    const size_t len = DecodeUtf8(in, p, cp);
    if (len == 0) {
      out.push_back(kReplacement);
      ++p;
    } else {
      AppendUtf16(cp, out);
      p += len;
    }
  }
  return out;
}

bool Utf16ToUtf8(std::u16string_view in, std::string& out) {
  out.clear();
  out.reserve(in.size() * 3);
  bool ok = true;
  ForEachCodePoint(in, [&](uint32_t cp) {
    if (cp == 0xFFFFFFFFu) ok = false;
    else AppendUtf8(cp, out);
  });
  return ok;
}

std::string Utf16ToUtf8Lossy(std::u16string_view in) {
  std::string out;
  out.reserve(in.size() * 3);
  ForEachCodePoint(in, [&](uint32_t cp) { AppendUtf8(cp == 0xFFFFFFFFu ? kReplacement : cp, out); });
  return out;
}

std::u16string Widen(std::string_view ascii) {
  std::u16string out;
  out.reserve(ascii.size());
  for (char c : ascii) out.push_back(static_cast<unsigned char>(c));
  return out;
}

// Case mapping for the scripts a reply or a path can plausibly hold: ASCII,
// Latin-1, Greek, Cyrillic and the full-width Latin letters. Chinese has no
// case and passes through.
char16_t ToUpperUnit(char16_t c) {
  if (c >= u'a' && c <= u'z') return c - 32;
  if (c < 0x80) return c;
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 32;
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 &&
      c != 0x178 && c != 0x17F) {
    const bool evenUpper = (c < 0x138) || (c > 0x149 && c < 0x178);
    if (evenUpper ? (c & 1) : !(c & 1)) return c - 1;
    return c;
  }
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 32;
  if (c >= 0x430 && c <= 0x44F) return c - 32;
  if (c >= 0x450 && c <= 0x45F) return c - 80;
  if (c >= 0xFF41 && c <= 0xFF5A) return c - 32;
  return c;
}

char16_t ToLowerUnit(char16_t c) {
  if (c >= u'A' && c <= u'Z') return c + 32;
  if (c < 0x80) return c;
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 32;
  if (c == 0x178) return 0xFF;
  if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 &&
      c != 0x178 && c != 0x17F) {
    const bool evenUpper = (c < 0x138) || (c > 0x149 && c < 0x178);
    if (evenUpper ? !(c & 1) : (c & 1)) return c + 1;
    return c;
  }
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  if (c >= 0xFF21 && c <= 0xFF3A) return c + 32;
  return c;
}

std::u16string ToUpper(std::u16string_view s) {
  std::u16string out(s);
  for (auto& c : out) c = ToUpperUnit(c);
  return out;
}

std::u16string ToLower(std::u16string_view s) {
  std::u16string out(s);
  for (auto& c : out) c = ToLowerUnit(c);
  return out;
}

int32_t ContainsText(std::u16string_view text, std::u16string_view part) {
  if (part.empty()) return 1;
  if (part.size() > text.size()) return 0;
  for (size_t i = 0; i + part.size() <= text.size(); ++i) {
    size_t k = 0;
    while (k < part.size() && ToUpperUnit(text[i + k]) == ToUpperUnit(part[k])) ++k;
    if (k == part.size()) return static_cast<int32_t>(i + 1);
  }
  return 0;
}

std::u16string ReplaceAll(std::u16string_view text, std::u16string_view from,
                          std::u16string_view to) {
  if (from.empty()) return std::u16string(text);
  std::u16string out;
  out.reserve(text.size());
  size_t p = 0;
  for (size_t hit; (hit = text.find(from, p)) != std::u16string_view::npos; p = hit + from.size()) {
    out.append(text.substr(p, hit - p));
    out.append(to);
  }
  out.append(text.substr(p));
  return out;
}

std::u16string DecimalText(int64_t value) {
  char16_t buf[24];
  size_t n = sizeof buf / sizeof buf[0];
  const bool neg = value < 0;
  uint64_t v = neg ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  do {
    buf[--n] = static_cast<char16_t>(u'0' + v % 10);
    v /= 10;
  } while (v);
  if (neg) buf[--n] = u'-';
  return std::u16string(buf + n, sizeof buf / sizeof buf[0] - n);
}

}  // namespace stub
