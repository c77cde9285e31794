#include "net/exchange.h"
#include <gtest/gtest.h>
#include "base/text.h"
#include "codec/codec.h"
#include "base/clock.h"
#include "net/redirect.h"
#include "net/wire.h"

namespace stub { namespace {

std::string Show(std::u16string_view s) { return Utf16ToUtf8Lossy(s); }
std::u16string Coded(std::u16string_view plain) { return Encode(plain, u"A", kCodecKey); }

// Every reply field starts as "old" (a missing column or nullptr too), so a field the reply leaves alone
// shows; the mask names the others.
TEST(ParseNetInfo, ReplyRules) {
  const std::u16string url(2048, u'a'), md5(64, u'a'), name(260, u'a');
  const struct { std::u16string reply; const char16_t* fields[7]; } cases[] = {
      // Other text before the key: the value is still after the record's first "==", up to the second.
      {u"xyzDownUrl==http://H/X.exe", {u"http://h/x.exe", u"old", u"old", u"old", u"old", u"old"}},
      {u"DownUrl==A==B", {u"a", u"old", u"old", u"old", u"old", u"old"}},
      {u"DownUrl===B", {u"=b", u"old", u"old", u"old", u"old", u"old"}},
      {u"DownUrl==A<#>DownUrl==<#>NameVer==1", {u"", u"old", u"old", u"old", u"old", u"old"}},  // later wins
      {u"DownUrl== u \r\n<#>\tFileMD5==m\n", {u" u \r\n", u"m\n", u"old", u"old", u"old", u"old"}},  // no trim
      {u"setupname==安装ABC<#>NAMETITLE==标题<#>nisititle==Soft<#>NisiVer==V1.2",
       {u"old", u"old", u"安装abc", u"标题", u"soft", u"v1.2"}},
      {u"NISITitle==t NISIVer==v", {u"old", u"old", u"old", u"old", u"t nisiver", u"t nisiver"}},  // one piece
      {u"Foo==bar<#><#>just text<#>NameVer==3", {u"old", u"old", u"old", u"old", u"old", u"old"}},
      {u"DownUrl==a<#b<#>FileMD5==c#>", {u"a<#b", u"c#>", u"old", u"old", u"old", u"old"}},  // exact separator
      // A SHA-256 is one more key, announced even when its value is empty.
      {u"FileSHA256==AB<#>FileMD5==C", {u"old", u"c", u"old", u"old", u"old", u"old", u"ab"}},
      {u"FileSHA256==", {u"old", u"old", u"old", u"old", u"old", u"old", u""}},
      // Over-long values are absent: an address past 2,048 units, a name or title past 260, a digest past 64.
      {u"DownUrl==" + url, {url.c_str()}}, {u"DownUrl==a" + url, {}},
      {u"FileMD5==" + md5, {nullptr, md5.c_str()}}, {u"FileMD5==a" + md5, {}},
      {u"SetupName==" + name, {nullptr, nullptr, name.c_str()}}, {u"SetupName==a" + name, {}},
      {u"NameTitle==" + name, {nullptr, nullptr, nullptr, name.c_str()}}, {u"NameTitle==a" + name, {}},
      {u"NISITitle==" + name, {nullptr, nullptr, nullptr, nullptr, name.c_str()}},
      {u"NISIVer==" + name, {nullptr, nullptr, nullptr, nullptr, nullptr, name.c_str()}},
      {u"NISITitle==a" + name, {}}, {u"NISIVer==a" + name, {}},
  };
  for (const auto& c : cases) {
    RunState s;
    s.DownUrl = s.FileMD5 = s.SetupName = s.NameTitle = s.NISITitle = s.NISIVer = s.FileSHA256 = u"old";
    s.NetText = c.reply;
    const uint32_t mask = ParseNetInfoFields(s, s.NetText);
    const std::u16string* got[] = {&s.DownUrl, &s.FileMD5, &s.SetupName, &s.NameTitle, &s.NISITitle, &s.NISIVer,
                                   &s.FileSHA256};
    for (int i = 0; i < 7; ++i)
      EXPECT_TRUE(*got[i] == (c.fields[i] ? c.fields[i] : u"old") && bool((mask >> i) & 1) == (*got[i] != u"old"))
          << Show(c.reply) << " " << i;
    EXPECT_TRUE(s.FileSHA256Given == (s.FileSHA256 != u"old") && mask >> 7 == 0) << Show(c.reply);
    EXPECT_EQ(s.NetText, c.reply);  // only the values are lower-cased
  }
}

RunState Fetched(std::u16string raw) {
  RunState s;
  s.ServerUrl = u"http://report.example.com/", s.NameTitle = u"Korvel安装", s.NetText = std::move(raw);
  s.DefaultDownUrl = u"http://dl/rmgb/4.2.2/wlpq1(wlpqhd).exe", s.DefaultFileMD5 = u"0123456789abcdef0123456789abcdef";
  return s;
}

TEST(FinishGetNet, FallsBackToTheBuiltInDownloadAndReportsTheCodedReplyCut) {  // nullptr: the built-in value
  const struct { std::u16string raw; bool report; const char16_t *downUrl, *fileMD5, *nameTitle; bool tls = false; } cases[] = {
      {u"", true, nullptr, nullptr, u"Korvel安装"},
      // Without DownUrl the reply's titles stay, but its digests give way too.
      {Coded(u"NameTitle==新标题<#>FileMD5==ABC<#>FileSHA256==AB"), true, nullptr, nullptr, u"新标题"},
      {Coded(u"DownUrl==HTTP://Srv/Setup.exe<#>NameTitle==X<#>FileSHA256==AB"), false, u"http://srv/setup.exe", u"", u"x"},
      {Coded(u"DownUrl==HTTP://Srv/Setup.exe<#>FileMD5==ABC<#>NameTitle==X"), true, nullptr, nullptr, u"x", true},  // TLS
      {Coded(u"DownUrl==HTTPS://Srv/Setup.exe<#>FileMD5==ABC<#>FileSHA256==AB"), false, u"https://srv/setup.exe", u"abc",
       u"Korvel安装", true},
  };
  for (const auto& c : cases) {
    RunState s = Fetched(c.raw);
    if (c.tls) s.ServerUrl = u"HTTPS://report.example.com/";
    std::u16string data = u"untouched";
    EXPECT_EQ(FinishGetNet(s, data), c.report);
    EXPECT_EQ(data, c.report ? u"GetNetIsnull='" + c.raw + u"'" : u"untouched");
    EXPECT_EQ(s.DownUrl, c.downUrl ? c.downUrl : s.DefaultDownUrl);
    EXPECT_EQ(s.FileMD5, c.fileMD5 ? c.fileMD5 : s.DefaultFileMD5);
    EXPECT_TRUE(s.NameTitle == c.nameTitle && Coded(s.NetText) == c.raw);  // NetText holds the decoded reply
    EXPECT_TRUE(s.FileSHA256Given == !c.report && s.FileSHA256 == (c.report ? u"" : u"ab"));
  }
  for (char16_t unit : {u'x', u'\x4e01', char16_t(0xD83D)}) {  // a huge raw reply is cut so the report gets through
    RunState s = Fetched(std::u16string(1 << 20, unit));  // a 1 MiB page of garbage
    if (unit == 0xD83D)  // emoji: pairs of units, four bytes as UTF-8
      for (size_t i = 1; i < s.NetText.size(); i += 2) s.NetText[i] = 0xDE00;
    std::u16string data, raw = s.NetText;
    EXPECT_TRUE(FinishGetNet(s, data));
    const std::string wire = WireUrl(ReportUrl(s, u"Setup", data));
    EXPECT_LT(wire.size() + 15, 8192u) << int(unit);  // "GET " + target + " HTTP/1.1" stays under 8 KiB
    const size_t kept = data.size() - 15;  // the most units a report carries, or cut by the wire size
    EXPECT_TRUE(unit == u'x' ? kept == 2000u : wire.size() > 7950u) << int(unit);  // at most 2,000 units
    EXPECT_EQ(data.substr(0, 14 + kept), u"GetNetIsnull='" + raw.substr(0, kept));
    EXPECT_EQ(kept % (unit == 0xD83D ? 2 : 1), 0u);  // never half a pair
  }
}

TEST(ExchangeUrls, ProfileDataReplyAddressesAndWireForm) {
  RunState s = Fetched(u"");
  s.TimeID = u"20240102030405", s.SoftId = u"#a#", s.SoftVer = u"V3.1.1", s.Channel = u"wlpq", s.PcId = u"D1#D2";
  s.Scr = u"1366*768", s.OS = u"Win7", s.OSBit = u"64", s.DPI = -120, s.OSLanguage = u"2052";
  const std::u16string profile = u"&softId=--a--&PcId_C=&SoftVer=V3.1.1&Channel=wlpq&PcId=D1--D2&Scr=1366*768"
                                 u"&OS=Win7&OSBit=64&DPI=-120&OSLanguage=2052";
  EXPECT_EQ(ProfileQuery(s), profile);
  EXPECT_EQ(InfoRequestUrl(s), u"http://report.example.com/?Key=Info&TimeID=20240102030405" + profile);
  EXPECT_EQ(ReportUrl(s, u"Setup", u"Err-#5 C:\\x"),  // '#' in the data stays: only the profile replaces it
            u"http://report.example.com/?Key=Setup&Data=Err-#5 C:\\x&TimeID=20240102030405" + profile);
  const struct { const char16_t* url; bool reply; } cases[] = {
      {u"http://srv/?Key=Info", true}, {u"HTTPS://srv/", true},  {u"http:///?Key=Info", false},
      {u"https:///?Key=Info", false},  {u"ftp://srv/", false},   {u"httpss://srv/", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsReplyAddress(c.url), c.reply) << Show(c.url);
  const struct { std::u16string url; std::string wire; } wires[] = {  // escaped where a URL cannot carry it; no fragment
      {u"SavePath=C:\\Temp\\ url=a\"b<c>d", "SavePath=C:%5CTemp%5C%20url=a%22b%3Cc%3Ed"},
      {u"%41=&:/?'{}|^`~", "%41=&:/?'{}|^`~"}, {u"http://h/?Data=Err-#5-Main&TimeID=1", "http://h/?Data=Err-"},
      {std::u16string(u"\t\x7F\0安\U0001F600", 6) + char16_t(0xD800), "%09%7F%00%E5%AE%89%F0%9F%98%80%EF%BF%BD"},
  };
  for (const auto& c : wires) EXPECT_EQ(WireUrl(c.url), c.wire) << c.wire;
  // No report takes more than 8,000 bytes on the wire: its data is cut to the longest prefix that fits.
  const std::u16string name = u"CheckFile=" + std::u16string(2000, u'\x4e01');  // nine bytes a unit on the wire
  const std::string cut = ReportWire(s, u"Setup", name);
  EXPECT_TRUE(cut.size() <= 8000 && cut.size() > 8000 - 9) << cut.size();
  EXPECT_EQ(cut.substr(0, cut.find("&TimeID=")), WireUrl(ReportUrl(s, u"Setup", name)).substr(0, cut.find("&TimeID=")));
  // A field bounded for the wire: the longest prefix within the bytes, never half a surrogate pair.
  const struct { std::u16string text; size_t most; size_t kept; } bounded[] = {
      {std::u16string(5000, u'a'), 4096, 4096}, {std::u16string(2048, u'\x4e01'), 4096, 455},
      {std::u16string(3, u'a') + u"\U0001F600", 6, 3}, {u"ab", 4096, 2},
  };
  for (const auto& b : bounded) EXPECT_EQ(WireBoundedText(b.text, b.most), b.text.substr(0, b.kept)) << b.kept;
}

TEST(Redirects, NeverOutOfTlsNorOffTheWeb) {  // from where the transfer began, to where it is sent
  const std::u16string longest = u"https://h/" + std::u16string(kMaxRedirectUrl - 10, u'a');
  const struct { const char16_t* from; std::u16string to; bool allowed; } cases[] = {
      {u"https://h/", u"https://cdn/x", true}, {u"https://h/", u"http://cdn/x", false}, {u"HTTPS://h/", u"HTTP://c/", false},
      {u"http://h/", u"http://cdn/x", true}, {u"http://h/", u"HTTPS://cdn:8443", true}, {u"http://h/", u"ftp://h/x", false},
      {u"http://h/", u"file:///C:/x.exe", false}, {u"https://h/", u"//cdn/x", false},  // not a web address
      {u"https://h/", u"https:///x", false}, {u"http://h/", u"http://h/a b", false},  // no host, a space
      {u"https://h/", longest, true}, {u"https://h/", longest + u"a", false},  // at most the longest a browser takes
  };
  for (const auto& c : cases) EXPECT_EQ(RedirectAllowed(c.from, c.to), c.allowed) << Show(c.from) << " -> " << Show(c.to);
}

std::string Show(const LocalTime& t) { return Utf16ToUtf8Lossy(TimeStamp(t)); }

TEST(Clock, StampsSecondsBetweenAndTimeOuts) {
  // Fourteen digits, out-of-range fields too.
  EXPECT_TRUE(TimeStamp({2024, 1, 2, 3, 4, 5, 999}) == u"20240102030405" && TimeStamp({12345, -1, 100, 0, 0, 0, 0}) == u"99990099000000");  // clamped
  const struct { LocalTime start, now; int64_t seconds; } cases[] = {
      {{2024, 3, 1, 10, 0, 0, 999}, {2024, 3, 1, 10, 0, 1, 0}, 1},       // 1 ms, one boundary
      {{2024, 2, 28, 23, 59, 59, 0}, {2024, 2, 29, 0, 0, 1, 0}, 2},      // leap day
      {{2023, 2, 28, 23, 59, 59, 0}, {2023, 3, 1, 0, 0, 0, 0}, 1},       // no leap day
      {{1900, 2, 28, 23, 59, 59, 0}, {1900, 3, 1, 0, 0, 0, 0}, 1},       // century: no leap day
      {{2000, 2, 28, 23, 59, 59, 0}, {2000, 3, 1, 0, 0, 0, 0}, 86401},   // 400 years: leap day
      {{2024, 1, 1, 0, 0, 1, 0}, {2023, 12, 31, 23, 59, 59, 0}, -2},     // clock set back
  };
  for (const auto& c : cases)
    EXPECT_EQ(WholeSecondsBetween(c.start, c.now), c.seconds) << Show(c.start) << " -> " << Show(c.now);
  const LocalTime start{2024, 12, 31, 23, 59, 57, 900};  // a fetch ends when the boundaries reach the time-out
  const struct { LocalTime now; int32_t timeout; bool timedOut; } timeouts[] = {
      {{2025, 1, 1, 0, 0, 1, 999}, 5, false},     // four boundaries
      {{2025, 1, 1, 0, 0, 2, 0}, 5, true},        // the fifth, 4.1 s after the start
      {{2030, 1, 1, 0, 0, 0, 0}, 0, false},       // 0: no time-out at all
      {{2024, 12, 31, 23, 0, 0, 0}, 5, false},    // clock set back: keeps waiting
      {{2024, 12, 31, 23, 59, 57, 0}, -1, true},  // a negative time-out is reached at once
  };
  for (const auto& c : timeouts)
    EXPECT_EQ(FetchTimedOut(start, c.now, c.timeout), c.timedOut) << Show(c.now) << " " << c.timeout;
}

}}  // namespace stub
