#include "net/page_charset.h"

#include <cstdint>
#include <initializer_list>

#include "base/text.h"

namespace stub {
namespace {

constexpr size_t kMaxLabel = 40;  // longer names are no character set

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

size_t FindNoCase(std::string_view text, std::string_view part, size_t from = 0) {
  for (size_t i = from; i + part.size() <= text.size(); ++i) {
    size_t k = 0;
    while (k < part.size() && LowerAscii(text[i + k]) == part[k]) ++k;
    if (k == part.size()) return i;
  }
  return std::string_view::npos;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view Unquote(std::string_view s) {
  s = Trim(s);
  if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front())
    s = s.substr(1, s.size() - 2);
  return Trim(s);
}

// A character set name in lower case, held without allocating.
struct Label {
  char text[kMaxLabel];
  size_t size = 0;
  std::string_view view() const { return {text, size}; }
  bool Is(std::initializer_list<std::string_view> names) const {
    for (std::string_view n : names)
      if (view() == n) return true;
    return false;
  }
};

bool MakeLabel(std::string_view raw, Label& label) {
  raw = Unquote(raw);
  if (raw.empty() || raw.size() > kMaxLabel) return false;
  for (size_t i = 0; i < raw.size(); ++i) label.text[i] = LowerAscii(raw[i]);
  label.size = raw.size();
  return true;
}

enum class Bom { kNone, kUtf8, kUtf16Le, kUtf16Be };

Bom DetectBom(std::string_view b) {
  if (b.size() >= 3 && b.substr(0, 3) == "\xEF\xBB\xBF") return Bom::kUtf8;
  if (b.size() >= 2 && b.substr(0, 2) == "\xFF\xFE") return Bom::kUtf16Le;
  if (b.size() >= 2 && b.substr(0, 2) == "\xFE\xFF") return Bom::kUtf16Be;
  return Bom::kNone;
}

std::u16string DecodeUtf16(std::string_view b, bool littleEndian) {
  std::u16string out;
  out.reserve(b.size() / 2 + 1);
  for (size_t i = 0; i + 1 < b.size(); i += 2) {
    const auto lo = static_cast<uint8_t>(b[littleEndian ? i : i + 1]);
    const auto hi = static_cast<uint8_t>(b[littleEndian ? i + 1 : i]);
    out.push_back(static_cast<char16_t>(lo | (hi << 8)));
  }
  if (b.size() % 2) out.push_back(0xFFFD);
  return out;
}

// Length of a trailing UTF-8 sequence that was cut short, 0 when none.
size_t IncompleteUtf8Tail(std::string_view b) {
  for (size_t back = 1; back <= 3 && back <= b.size(); ++back) {
    const auto c = static_cast<uint8_t>(b[b.size() - back]);
    if ((c & 0xC0) == 0x80) continue;  // continuation byte: look further back
    const size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    return need > back ? back : 0;
  }
  return 0;
}

// Decodes under a named character set; false when the name is not one
// handled here and the decoder cannot do it either.
bool DecodeNamed(const Label& label, std::string_view b, CharsetDecoder decoder,
                 std::u16string& out) {
  if (label.Is({"utf-8", "utf8", "unicode-1-1-utf-8"})) {
    out = Utf8ToUtf16Lossy(b);
  } else if (label.Is({"us-ascii", "ascii", "iso-8859-1", "iso8859-1", "iso_8859-1", "latin1",
                       "l1"})) {
    out = Widen(b);
  } else if (label.Is({"utf-16le", "utf-16", "unicode", "ucs-2"})) {
    out = DecodeUtf16(b, true);
  } else if (label.Is({"utf-16be", "unicodefffe"})) {
    out = DecodeUtf16(b, false);
  } else {
    out.clear();
    return decoder != nullptr && decoder(label.view(), b, out);
  }
  return true;
}

std::u16string DecodeUnlabelled(std::string_view b, bool cut, CharsetDecoder decoder) {
  std::u16string out;
  const std::string_view whole = cut ? b.substr(0, b.size() - IncompleteUtf8Tail(b)) : b;
  if (Utf8ToUtf16(whole, out)) return out;
  out.clear();
  if (decoder != nullptr && decoder({}, b, out)) return out;
  return Widen(b);
}

// One attribute of a tag: name and value (unquoted), advancing `pos`.
// Returns false at the end of the tag.
bool NextAttribute(std::string_view tag, size_t& pos, std::string_view& name,
                   std::string_view& value) {
  while (pos < tag.size() && (IsSpace(tag[pos]) || tag[pos] == '/')) ++pos;
  if (pos >= tag.size() || tag[pos] == '>') return false;
  const size_t nameStart = pos;
  do ++pos;  // a name is at least one character, even a stray '='
  while (pos < tag.size() && !IsSpace(tag[pos]) && tag[pos] != '=' && tag[pos] != '>' &&
         tag[pos] != '/');
  name = tag.substr(nameStart, pos - nameStart);
  value = {};
  size_t p = pos;
  while (p < tag.size() && IsSpace(tag[p])) ++p;
  if (p >= tag.size() || tag[p] != '=') return true;
  ++p;
  while (p < tag.size() && IsSpace(tag[p])) ++p;
  if (p < tag.size() && (tag[p] == '"' || tag[p] == '\'')) {
    const char quote = tag[p++];
    const size_t end = tag.find(quote, p);
    value = tag.substr(p, end == std::string_view::npos ? std::string_view::npos : end - p);
    pos = end == std::string_view::npos ? tag.size() : end + 1;
  } else {
    const size_t start = p;
    while (p < tag.size() && !IsSpace(tag[p]) && tag[p] != '>') ++p;
    value = tag.substr(start, p - start);
    pos = p;
  }
  return true;
}

// The charset in a content attribute such as "text/html; charset=gbk".
std::string_view CharsetInContent(std::string_view content) {
  for (size_t at = 0; (at = FindNoCase(content, "charset", at)) != std::string_view::npos;) {
    size_t p = at + 7;
    at = p;
    while (p < content.size() && IsSpace(content[p])) ++p;
    if (p >= content.size() || content[p] != '=') continue;
    ++p;
    while (p < content.size() && IsSpace(content[p])) ++p;
    if (p < content.size() && (content[p] == '"' || content[p] == '\'')) {
      const char quote = content[p++];
      const size_t end = content.find(quote, p);
      if (end == std::string_view::npos) return {};
      return content.substr(p, end - p);
    }
    const size_t start = p;
    while (p < content.size() && !IsSpace(content[p]) && content[p] != ';') ++p;
    return content.substr(start, p - start);
  }
  return {};
}

}  // namespace

ContentTypeParts SplitContentType(std::string_view contentType) {
  ContentTypeParts parts;
  const size_t semi = contentType.find(';');
  parts.media = Trim(contentType.substr(0, semi));
  for (size_t p = semi; p != std::string_view::npos;) {
    const size_t next = contentType.find(';', p + 1);
    const std::string_view param =
        contentType.substr(p + 1, next == std::string_view::npos ? std::string_view::npos
                                                                 : next - p - 1);
    const size_t eq = param.find('=');
    if (eq != std::string_view::npos && EqualsNoCase(Trim(param.substr(0, eq)), "charset")) {
      parts.charset = Unquote(param.substr(eq + 1));
      break;
    }
    p = next;
  }
  return parts;
}

bool IsHtmlMediaType(std::string_view media) {
  return EqualsNoCase(media, "text/html") || EqualsNoCase(media, "application/xhtml+xml");
}

bool StartsWithMarkup(std::string_view body) {
  switch (DetectBom(body)) {
    case Bom::kUtf8: body.remove_prefix(3); break;
    case Bom::kUtf16Le:
    case Bom::kUtf16Be: {
      // The first non-blank unit decides; a short look is enough.
      const std::u16string text =
          DecodeUtf16(body.substr(2, 256), DetectBom(body) == Bom::kUtf16Le);
      for (char16_t c : text)
        if (c > 0x7F || !IsSpace(static_cast<char>(c))) return c == u'<';
      return false;
    }
    case Bom::kNone: break;
  }
  for (char c : body)
    if (!IsSpace(c)) return c == '<';
  return false;
}

std::string_view MetaCharset(std::string_view body) {
  const std::string_view head = body.substr(0, kMetaScanBytes);
  for (size_t at = 0; (at = FindNoCase(head, "<meta", at)) != std::string_view::npos;) {
    at += 5;
    if (at < head.size() && !IsSpace(head[at]) && head[at] != '/') continue;  // e.g. <metadata>
    const size_t end = head.find('>', at);
    const std::string_view tag =
        head.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at + 1);
    std::string_view name, value, charset, content;
    bool contentType = false;
    for (size_t pos = 0; NextAttribute(tag, pos, name, value);) {
      if (EqualsNoCase(name, "charset")) charset = Unquote(value);
      else if (EqualsNoCase(name, "content")) content = value;
      else if (EqualsNoCase(name, "http-equiv")) contentType = EqualsNoCase(Trim(value), "content-type");
    }
    if (!charset.empty()) return charset;
    if (contentType) {
      const std::string_view fromContent = Unquote(CharsetInContent(content));
      if (!fromContent.empty()) return fromContent;
    }
  }
  return {};
}

std::u16string DecodePage(std::string_view charset, std::string_view body, bool sniffMeta,
                          bool cut, CharsetDecoder decoder) {
  switch (DetectBom(body)) {
    case Bom::kUtf8: return Utf8ToUtf16Lossy(body.substr(3));
    case Bom::kUtf16Le: return DecodeUtf16(body.substr(2), true);
    case Bom::kUtf16Be: return DecodeUtf16(body.substr(2), false);
    case Bom::kNone: break;
  }
  std::u16string out;
  Label label;
  if (MakeLabel(charset, label) && DecodeNamed(label, body, decoder, out)) return out;
  if (sniffMeta && MakeLabel(MetaCharset(body), label)) {
    // A page that can be read as ASCII to find its <meta> is not UTF-16.
    if (label.Is({"utf-16", "utf-16le", "utf-16be", "unicode", "ucs-2", "unicodefffe"}))
      return DecodeUnlabelled(body, cut, decoder);
    if (DecodeNamed(label, body, decoder, out)) return out;
  }
  return DecodeUnlabelled(body, cut, decoder);
}

}  // namespace stub
