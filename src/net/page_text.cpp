#include "net/page_text.h"

#include <cstdint>
#include <initializer_list>
#include <utility>

#include "base/text.h"
#include "net/page_charset.h"

namespace stub {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsHtmlSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}
bool IsAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool IsAsciiDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsHexDigit(char16_t c) {
  return IsAsciiDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}
char16_t LowerAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? c + 32 : c; }

bool EqualsNoCase(std::u16string_view a, std::u16string_view lower) {
  if (a.size() != lower.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != lower[i]) return false;
  return true;
}

bool IsOneOf(std::u16string_view name, std::initializer_list<std::u16string_view> names) {
  for (std::u16string_view n : names)
    if (EqualsNoCase(name, n)) return true;
  return false;
}

// Elements whose contents are never shown: skipped to their end tag.
bool IsHiddenRawText(std::u16string_view name) {
  return IsOneOf(name, {u"script", u"style", u"title", u"noscript", u"template"});
}

// Elements that may stand inside <head> without ending it.
bool BelongsInHead(std::u16string_view name) {
  return IsOneOf(name, {u"meta", u"link", u"base", u"basefont", u"bgsound", u"title", u"style",
                        u"script", u"noscript", u"template"});
}

// Elements that start a new line or cell when shown: their tags separate words.
bool BreaksText(std::u16string_view name) {
  if (name.size() == 2 && LowerAscii(name[0]) == u'h' && name[1] >= u'1' && name[1] <= u'6')
    return true;
  return IsOneOf(name, {u"br", u"p", u"div", u"li", u"ul", u"ol", u"dl", u"dt", u"dd", u"tr",
                        u"td", u"th", u"table", u"hr", u"pre", u"blockquote", u"section",
                        u"article", u"header", u"footer", u"nav", u"aside", u"main", u"form",
                        u"option", u"body", u"html", u"address", u"center", u"caption"});
}

struct NamedReference {
  std::u16string_view name;
  char16_t unit;
};

constexpr NamedReference kNamedReferences[] = {
    {u"amp", u'&'},     {u"lt", u'<'},      {u"gt", u'>'},      {u"quot", u'"'},
    {u"apos", u'\''},   {u"nbsp", 0x00A0},  {u"AMP", u'&'},     {u"LT", u'<'},
    {u"GT", u'>'},      {u"QUOT", u'"'},    {u"copy", 0x00A9},  {u"reg", 0x00AE},
    {u"middot", 0x00B7}, {u"laquo", 0x00AB}, {u"raquo", 0x00BB}, {u"times", 0x00D7},
    {u"ndash", 0x2013}, {u"mdash", 0x2014}, {u"lsquo", 0x2018}, {u"rsquo", 0x2019},
    {u"ldquo", 0x201C}, {u"rdquo", 0x201D}, {u"hellip", 0x2026}, {u"yen", 0x00A5},
};

// Builds the visible text of an HTML document in one pass.
class HtmlText {
 public:
  explicit HtmlText(std::u16string_view in) : in_(in) { out_.reserve(in.size() / 2); }

  std::u16string Run() {
    while (pos_ < in_.size()) {
      const char16_t c = in_[pos_];
      if (c == u'<') {
        Markup();
      } else if (c == u'&') {
        Reference();
      } else {
        Text(c);
        ++pos_;
      }
    }
    return std::move(out_);
  }

 private:
  void Text(char16_t c) {
    if (IsHtmlSpace(c)) {
      space_ = true;
      return;
    }
    if (inHead_) EndHead();  // text cannot stand in <head>: the body has begun
    if (space_ && !out_.empty()) out_.push_back(u' ');
    space_ = false;
    out_.push_back(c);
  }

  void CodePoint(uint32_t cp) {
    if (cp < 0x10000) {
      Text(static_cast<char16_t>(cp));
    } else {
      cp -= 0x10000;
      Text(static_cast<char16_t>(0xD800 + (cp >> 10)));
      Text(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
  }

  void EndHead() {
    inHead_ = false;
    headDone_ = true;
  }

  // Skips to just after the next '>' (or to the end).
  void SkipPast(char16_t c) {
    const size_t end = in_.find(c, pos_);
    pos_ = end == std::u16string_view::npos ? in_.size() : end + 1;
  }

  std::u16string_view TagName() {
    const size_t start = pos_;
    while (pos_ < in_.size() && !IsHtmlSpace(in_[pos_]) && in_[pos_] != u'/' && in_[pos_] != u'>')
      ++pos_;
    return in_.substr(start, pos_ - start);
  }

  // Skips the attributes of a start tag up to and past its '>'; a '>' inside
  // a quoted attribute value does not end the tag.
  void SkipAttributes() {
    while (pos_ < in_.size()) {
      const char16_t c = in_[pos_++];
      if (c == u'>') return;
      if (c != u'=') continue;
      while (pos_ < in_.size() && IsHtmlSpace(in_[pos_])) ++pos_;
      if (pos_ < in_.size() && (in_[pos_] == u'"' || in_[pos_] == u'\'')) {
        const char16_t quote = in_[pos_++];
        SkipPast(quote);
      }
    }
  }

  // Skips the contents of a raw-text element up to and past "</name ...>".
  void SkipRawText(std::u16string_view name) {
    const std::u16string lower = ToLowerAscii(name);
    for (size_t at = pos_; (at = in_.find(u"</", at)) != std::u16string_view::npos; at += 2) {
      const size_t after = at + 2 + lower.size();
      if (after > in_.size() || !EqualsNoCase(in_.substr(at + 2, lower.size()), lower)) continue;
      if (after < in_.size() && !IsHtmlSpace(in_[after]) && in_[after] != u'/' &&
          in_[after] != u'>')
        continue;
      pos_ = after;
      SkipPast(u'>');
      return;
    }
    pos_ = in_.size();
  }

  static std::u16string ToLowerAscii(std::u16string_view s) {
    std::u16string out(s);
    for (auto& c : out) c = LowerAscii(c);
    return out;
  }

  void Markup() {
    const size_t rest = in_.size() - pos_;
    const char16_t next = rest > 1 ? in_[pos_ + 1] : 0;
    if (next == u'!' && in_.substr(pos_, 4) == u"<!--") {
      const size_t end = in_.find(u"-->", pos_ + 2);
      pos_ = end == std::u16string_view::npos ? in_.size() : end + 3;
    } else if (next == u'!' || next == u'?') {
      SkipPast(u'>');  // doctype, processing instruction, CDATA
    } else if (next == u'/') {
      pos_ += 2;
      if (pos_ < in_.size() && IsAsciiLetter(in_[pos_])) {
        const std::u16string_view name = TagName();
        if (EqualsNoCase(name, u"head") && inHead_) EndHead();
        if (BreaksText(name)) space_ = true;
      }
      SkipPast(u'>');
    } else if (IsAsciiLetter(next)) {
      ++pos_;
      const std::u16string_view name = TagName();
      SkipAttributes();
      if (EqualsNoCase(name, u"head")) {
        if (!headDone_) inHead_ = true;
        return;
      }
      if (inHead_ && !BelongsInHead(name)) EndHead();
      if (IsHiddenRawText(name)) SkipRawText(name);
      else if (BreaksText(name)) space_ = true;
    } else {
      Text(u'<');  // not markup: a literal '<', as in "<#>"
      ++pos_;
    }
  }

  // A character reference at '&'; anything that is not one stays as text.
  void Reference() {
    size_t p = pos_ + 1;
    if (p < in_.size() && in_[p] == u'#') {
      ++p;
      const bool hex = p < in_.size() && (in_[p] == u'x' || in_[p] == u'X');
      if (hex) ++p;
      const size_t digits = p;
      uint32_t value = 0;
      while (p < in_.size() && (hex ? IsHexDigit(in_[p]) : IsAsciiDigit(in_[p]))) {
        const char16_t d = in_[p++];
        const uint32_t v = IsAsciiDigit(d) ? d - u'0' : LowerAscii(d) - u'a' + 10;
        if (value <= 0x10FFFF) value = value * (hex ? 16 : 10) + v;  // stays out of range
      }
      if (p == digits) {
        Text(u'&');
        ++pos_;
        return;
      }
      if (p < in_.size() && in_[p] == u';') ++p;
      pos_ = p;
      const bool valid = value != 0 && value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF);
      CodePoint(valid ? value : kReplacement);
      return;
    }
    const size_t start = p;
    while (p < in_.size() && p - start < 8 && (IsAsciiLetter(in_[p]) || IsAsciiDigit(in_[p]))) ++p;
    if (p < in_.size() && in_[p] == u';') {
      const std::u16string_view name = in_.substr(start, p - start);
      for (const NamedReference& r : kNamedReferences) {
        if (r.name == name) {
          pos_ = p + 1;
          Text(r.unit);
          return;
        }
      }
    }
    Text(u'&');
    ++pos_;
  }

  std::u16string_view in_;
  size_t pos_ = 0;
  std::u16string out_;
  bool space_ = false;     // whitespace seen since the last character written
  bool inHead_ = false;    // inside <head>: text there is not shown
  bool headDone_ = false;  // <head> has ended; a later <head> tag means nothing
};

}  // namespace

std::u16string VisibleText(std::string_view contentType, std::string_view body,
                           CharsetDecoder decoder) {
  const bool cut = body.size() > kMaxPageBytes;
  if (cut) body = body.substr(0, kMaxPageBytes);
  const ContentTypeParts type = SplitContentType(contentType);
  const bool html = IsHtmlMediaType(type.media) || (type.media.empty() && StartsWithMarkup(body));
  std::u16string text = DecodePage(type.charset, body, html, cut, decoder);
  if (!html) return text;
  return HtmlText(text).Run();
}

std::u16string RemovePageTags(std::u16string_view text) {
  static constexpr std::u16string_view kTags[] = {
      u"<HTML>", u"<HEAD>", u"</HEAD>", u"<BODY>", u"</BODY>", u"</HTML>",
      u"<html>", u"<head>", u"</head>", u"<body>", u"</body>", u"</html>",
  };
  std::u16string out(text);
  for (std::u16string_view tag : kTags) out = ReplaceAll(out, tag, u"");
  return out;
}

std::u16string PageText(std::string_view contentType, std::string_view body,
                        CharsetDecoder decoder) {
  return RemovePageTags(VisibleText(contentType, body, decoder));
}

}  // namespace stub
