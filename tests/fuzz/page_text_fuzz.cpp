// A fetched page (first line the Content-Type, then the body) to page text, decoded and parsed as after a fetch.
#include "base/run_state.h"
#include "codec/codec.h"
#include "fuzz_check.h"
#include "net/exchange.h"
#include "net/page_charset.h"
#include "net/page_text.h"

// Stands in for the platform's code pages: the ANSI page ("") and a few double-byte pages, where a lead byte
// >= 0x81 takes the next byte with it. Any other name fails, as an unknown code page does.
static bool FakeDecoder(std::string_view charset, std::string_view bytes, std::u16string& out) {
  if (!charset.empty() && charset != "gbk" && charset != "gb2312" && charset != "big5" && charset != "shift_jis" &&
      charset != "windows-1252")
    return false;
  out.clear();
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<uint8_t>(bytes[i]);
    const bool pair = b >= 0x81 && i + 1 < bytes.size() && charset != "windows-1252";
    out.push_back(pair ? static_cast<char16_t>(0x4E00 + ((b << 8 | static_cast<uint8_t>(bytes[++i])) % 0x5000)) : b);
  }
  return true;
}

FUZZ_TARGET(in) {
  const size_t nl = in.find('\n');
  const std::string_view contentType = in.substr(0, nl);
  const std::string_view body = nl == std::string_view::npos ? std::string_view() : in.substr(nl + 1);
  const std::u16string visible = VisibleText(contentType, body, FakeDecoder);
  const std::string_view bounded = body.substr(0, kMaxPageBytes);
  const ContentTypeParts type = SplitContentType(contentType);
  if (IsHtmlMediaType(type.media) || (type.media.empty() && StartsWithMarkup(bounded))) {
    // The visible text of an HTML page: no whitespace but single spaces between words, none at either end.
    FUZZ_CHECK(visible.empty() || (visible.front() != u' ' && visible.back() != u' '), "html text trimmed");
    FUZZ_CHECK(visible.find_first_of(u"\t\n\r\f") == visible.npos && visible.find(u"  ") == visible.npos,
               "html text has only single plain spaces");
  }
  const std::u16string page = PageText(contentType, body, FakeDecoder);
  // Only whole page tags leave the visible text: nothing changes without a '<', and what stays keeps its order.
  FUZZ_CHECK(visible.find(u'<') != visible.npos || page == visible, "page text without tags is the visible text");
  size_t kept = 0;
  for (size_t i = 0; i < visible.size() && kept < page.size(); ++i) kept += visible[i] == page[kept];
  FUZZ_CHECK(kept == page.size(), "page text is the visible text with parts left out");
  // The exchange after the fetch, with built-in defaults to fall back on.
  RunState s;
  s.DefaultDownUrl = u"http://dl.example.com/setup.exe", s.DefaultFileMD5 = u"0123456789ABCDEF0123456789ABCDEF";
  s.NetText = page;
  std::u16string report;
  const bool due = FinishGetNet(s, report);
  FUZZ_CHECK(!s.DownUrl.empty(), "a download URL is always set");
  FUZZ_CHECK(due ? report.size() >= 15 && report == u"GetNetIsnull='" + page.substr(0, report.size() - 15) + u"'"
                 : report.empty(), "the empty-reply report carries the start of the raw reply");
  FUZZ_CHECK(Encode(s.NetText, u"A", kCodecKey) == page, "NetText holds the decoded reply");
  // The same text taken as an already plain reply (the host tool's --plain).
  RunState plain;
  const uint32_t seen = ParseNetInfoFields(plain, page);
  FUZZ_CHECK((seen & ~uint32_t{0x3F}) == 0, "only known fields are reported");
  FUZZ_CHECK((seen & kReplyDownUrl) || plain.DownUrl.empty(), "DownUrl set only when reported");
  FUZZ_CHECK(plain.DownUrl.size() <= page.size(), "a value is part of the reply");
}
