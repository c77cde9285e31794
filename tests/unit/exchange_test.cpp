#include "net/exchange.h"

#include <gtest/gtest.h>

#include "base/text.h"
#include "codec/codec.h"
#include "net/wire.h"

namespace stub {
namespace {

std::string Show(std::u16string_view s) { return Utf16ToUtf8Lossy(s); }

// Every reply field starts as "old", so a field the reply leaves alone shows.
RunState Before() {
  RunState s;
  s.DownUrl = s.FileMD5 = s.SetupName = s.NameTitle = s.NISITitle = s.NISIVer = u"old";
  return s;
}

struct ParseCase {
  const char16_t* reply;
  // Expected DownUrl, FileMD5, SetupName, NameTitle, NISITitle, NISIVer.
  const char16_t* fields[6];
};

TEST(ParseNetInfo, ReplyRules) {
  const ParseCase cases[] = {
      // Two records, lower-cased.
      {u"DownUrl==A<#>FileMD5==B", {u"a", u"b", u"old", u"old", u"old", u"old"}},
      // Other text before the key: the value is still after the record's first "==".
      {u"xyzDownUrl==http://H/X.exe", {u"http://h/x.exe", u"old", u"old", u"old", u"old", u"old"}},
      // The value ends at the second "==".
      {u"DownUrl==A==B", {u"a", u"old", u"old", u"old", u"old", u"old"}},
      {u"DownUrl===B", {u"=b", u"old", u"old", u"old", u"old", u"old"}},
      // Later records win.
      {u"DownUrl==A<#>DownUrl==C", {u"c", u"old", u"old", u"old", u"old", u"old"}},
      // No trimming: spaces, tabs and line breaks stay in the values.
      {u"DownUrl== u \r\n<#>\tFileMD5==m\n", {u" u \r\n", u"m\n", u"old", u"old", u"old", u"old"}},
      // Keys match whatever their case; Chinese text passes unchanged.
      {u"setupname==安装ABC<#>NAMETITLE==标题<#>nisititle==Soft<#>NisiVer==V1.2",
       {u"old", u"old", u"安装abc", u"标题", u"soft", u"v1.2"}},
      // A record with two keys sets both to the same piece.
      {u"NISITitle==t NISIVer==v", {u"old", u"old", u"old", u"old", u"t nisiver", u"t nisiver"}},
      // "NameVer==" is accepted and sets nothing.
      {u"NameVer==3.0", {u"old", u"old", u"old", u"old", u"old", u"old"}},
      // Unknown keys and records without "==" are ignored; empty records too.
      {u"Foo==bar<#><#>just text<#>", {u"old", u"old", u"old", u"old", u"old", u"old"}},
      // The separator is exact; "<#>" inside would split the value.
      {u"DownUrl==a<#b<#>FileMD5==c#>", {u"a<#b", u"c#>", u"old", u"old", u"old", u"old"}},
  };
  for (const ParseCase& c : cases) {
    RunState s = Before();
    ParseNetInfo(s, c.reply);
    const std::u16string* got[] = {&s.DownUrl,   &s.FileMD5,   &s.SetupName,
                                   &s.NameTitle, &s.NISITitle, &s.NISIVer};
    for (int i = 0; i < 6; ++i)
      EXPECT_EQ(*got[i], c.fields[i]) << "reply '" << Show(c.reply) << "' field " << i;
  }
}

TEST(ParseNetInfo, LowerCasesOnlyTheValuesNotTheStoredReply) {
  RunState s = Before();
  s.NetText = u"DownUrl==HTTP://X/A.EXE";
  ParseNetInfo(s, s.NetText);
  EXPECT_EQ(s.DownUrl, u"http://x/a.exe");
  EXPECT_EQ(s.NetText, u"DownUrl==HTTP://X/A.EXE");
}

TEST(ParseNetInfoFields, TellsWhichFieldsWereSet) {
  RunState s;
  EXPECT_EQ(ParseNetInfoFields(s, u"DownUrl==<#>NameVer==1<#>NISIVer==2"),
            kReplyDownUrl | kReplyNISIVer);
  EXPECT_EQ(ParseNetInfoFields(s, u"SetupName==x FileMD5==y NameTitle==z NISITitle==w"),
            kReplySetupName | kReplyFileMD5 | kReplyNameTitle | kReplyNISITitle);
}

RunState Fetched(std::u16string raw) {
  RunState s;
  s.SetupName = u"built-in setup";
  s.NameTitle = u"Korvel安装";
  s.DefaultDownUrl = u"http://dl/rmgb/4.2.2/wlpq1(wlpqhd).exe";
  s.DefaultFileMD5 = u"0123456789abcdef0123456789abcdef";
  s.NetText = std::move(raw);
  return s;
}

std::u16string Coded(std::u16string_view plain) { return Encode(plain, u"A", kCodecKey); }

TEST(FinishGetNet, NoReplyUsesTheBuiltInDownloadAndReportsEmptyQuotes) {
  RunState s = Fetched(u"");
  std::u16string data = u"untouched";
  EXPECT_TRUE(FinishGetNet(s, data));
  EXPECT_EQ(data, u"GetNetIsnull=''");
  EXPECT_EQ(s.DownUrl, s.DefaultDownUrl);
  EXPECT_EQ(s.FileMD5, s.DefaultFileMD5);
  EXPECT_EQ(s.NameTitle, u"Korvel安装");
}

TEST(FinishGetNet, ReplyWithoutDownUrlKeepsTitlesAndReportsTheCodedText) {
  const std::u16string raw = Coded(u"NameTitle==新标题<#>FileMD5==ABC<#>NISITitle==Inst");
  RunState s = Fetched(raw);
  std::u16string data;
  EXPECT_TRUE(FinishGetNet(s, data));
  EXPECT_EQ(data, u"GetNetIsnull='" + raw + u"'");
  EXPECT_EQ(s.NetText, u"NameTitle==新标题<#>FileMD5==ABC<#>NISITitle==Inst");
  EXPECT_EQ(s.NameTitle, u"新标题");
  EXPECT_EQ(s.NISITitle, u"inst");
  EXPECT_EQ(s.DownUrl, s.DefaultDownUrl);
  EXPECT_EQ(s.FileMD5, s.DefaultFileMD5);  // the reply's digest gives way too
}

TEST(FinishGetNet, DownUrlWithoutFileMD5LeavesTheDigestEmptyAndReportsNothing) {
  RunState s = Fetched(Coded(u"DownUrl==HTTP://Srv/Setup.exe<#>SetupName==Mine"));
  std::u16string data = u"untouched";
  EXPECT_FALSE(FinishGetNet(s, data));
  EXPECT_EQ(data, u"untouched");
  EXPECT_EQ(s.DownUrl, u"http://srv/setup.exe");
  EXPECT_EQ(s.FileMD5, u"");
  EXPECT_EQ(s.SetupName, u"mine");
  // An empty DownUrl falls back to the built-in download, digest and all.
  s = Fetched(Coded(u"DownUrl==<#>FileMD5==abc"));
  EXPECT_TRUE(FinishGetNet(s, data));
  EXPECT_EQ(s.FileMD5, s.DefaultFileMD5);
}

RunState Profile() {
  RunState s;
  s.ServerUrl = u"http://report.example.com/";
  s.TimeID = u"20240102030405";
  s.SoftId = u"vrx";
  s.SoftVer = u"V3.1.1";
  s.Channel = u"wlpq";
  s.PcId = u"D1#D2";
  s.Scr = u"1366*768";
  s.OS = u"Win7";
  s.OSBit = u"64";
  s.DPI = 96;
  s.OSLanguage = u"2052";
  return s;
}

TEST(ProfileQuery, EveryKeyInOrderWithHashReplaced) {
  EXPECT_EQ(ProfileQuery(Profile()),
            u"&softId=vrx&PcId_C=&SoftVer=V3.1.1&Channel=wlpq&PcId=D1--D2&Scr=1366*768"
            u"&OS=Win7&OSBit=64&DPI=96&OSLanguage=2052");
  RunState s = Profile();
  s.SoftId = u"#a#";
  s.Channel = u"##";
  s.DPI = -120;
  EXPECT_EQ(ProfileQuery(s),
            u"&softId=--a--&PcId_C=&SoftVer=V3.1.1&Channel=----&PcId=D1--D2&Scr=1366*768"
            u"&OS=Win7&OSBit=64&DPI=-120&OSLanguage=2052");
}

TEST(IsReplyAddress, WebAddressesWithAHostOnly) {
  const struct {
    const char16_t* url;
    bool reply;
  } cases[] = {
      {u"http://srv/?Key=Info", true},   {u"https://srv/?Key=Info", true},
      {u"HTTPS://srv/", true},
      {u"http:///?Key=Info", false},     {u"https:///?Key=Info", false},
      {u"ftp://srv/", false},            {u"httpss://srv/", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsReplyAddress(c.url), c.reply) << Utf16ToUtf8Lossy(c.url);
}

TEST(InfoRequestUrl, BaseKeyTimeAndProfile) {
  EXPECT_EQ(InfoRequestUrl(Profile()),
            u"http://report.example.com/?Key=Info&TimeID=20240102030405"
            u"&softId=vrx&PcId_C=&SoftVer=V3.1.1&Channel=wlpq&PcId=D1--D2&Scr=1366*768"
            u"&OS=Win7&OSBit=64&DPI=96&OSLanguage=2052");
}

TEST(ReportUrl, KeyAndDataGoInRaw) {
  const std::u16string profile = ProfileQuery(Profile());
  const struct {
    const char16_t* data;
  } cases[] = {
      {u"DownFinish=OK:12.5 DownCode=4,14,5,6, SavePath=C:\\Temp\\ url=dl/a.exe"},
      {u"Err-#5 bad-Main"},  // '#' in the data stays: only the profile replaces it
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReportUrl(Profile(), u"Setup", c.data),
              u"http://report.example.com/?Key=Setup&Data=" + std::u16string(c.data) +
                  u"&TimeID=20240102030405" + profile)
        << Show(c.data);
  }
}

TEST(FinishGetNet, AHugeRawReplyIsCutSoTheReportCanStillBeDelivered) {
  struct {
    char16_t unit;
    size_t kept;  // units of the raw reply in the report
  } cases[] = {{u'x', kMaxRawInReport}, {u'\x4e01', 0}, {0xD83D, 0}};
  for (const auto& c : cases) {
    RunState s;
    s.ServerUrl = u"http://report.example.com/";
    s.DefaultDownUrl = u"http://dl/x.exe";
    s.NetText = std::u16string(1 << 20, c.unit);  // a 1 MiB page of garbage
    if (c.unit == 0xD83D)  // emoji: pairs of units, four bytes as UTF-8
      for (size_t i = 1; i < s.NetText.size(); i += 2) s.NetText[i] = 0xDE00;
    const std::u16string raw = s.NetText;
    std::u16string data;
    EXPECT_TRUE(FinishGetNet(s, data));
    const std::string wire = WireUrl(ReportUrl(s, u"Setup", data));
    // The whole request line, "GET " + target + " HTTP/1.1", stays under 8 KiB.
    EXPECT_LT(wire.size() + 15, 8192u) << int(c.unit);
    const size_t kept = data.size() - 15;
    if (c.kept) {
      EXPECT_EQ(kept, c.kept);
    } else {
      EXPECT_GT(wire.size(), 7950u) << int(c.unit);  // cut by the wire size, not sooner
    }
    EXPECT_EQ(data.substr(0, 14 + kept), u"GetNetIsnull='" + raw.substr(0, kept));
    EXPECT_EQ(kept % (c.unit == 0xD83D ? 2 : 1), 0u);
    EXPECT_EQ(s.DownUrl, u"http://dl/x.exe");
  }
}

}  // namespace
}  // namespace stub
