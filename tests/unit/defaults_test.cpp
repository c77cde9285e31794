#include "app/defaults.h"
#include <gtest/gtest.h>
#include "base/text.h"
#include "build_settings.h"
#include "codec/codec.h"

namespace stub { namespace {

const std::u16string kTitle1 = u"十个字的标题一二三四", kTitle2 = u"六个字标题六";
const std::u16string kCoded1 = Encode(kTitle1, u"A", kCodecKey), kCoded2 = Encode(kTitle2, u"A", kCodecKey);
const BuiltIns kBuiltIns{u"http://srv/", u"http://dl/a.exe", u"0123456789abcdef0123456789abcdef", kCoded1, kCoded2};

TEST(Defaults, TitleByCaseSensitiveProgramNameAndLoad) {
  const struct { const char16_t* path; const std::u16string& title; } cases[] = {
      {u"C:\\a.b\\vh2vh6.exe", kTitle1}, {u"Z:/tmp/setup_vh2vh6_x64.exe", kTitle1}, {u"x.vh2vh6.exe", kTitle1},
      {u"Vh2vh6", kTitle2}, {u"vh2 vh6", kTitle2}, {u"vh2vh", kTitle2}, {u"vh2vh6/x.exe", kTitle2}, {u"", kTitle2},
  };
  for (const auto& c : cases) EXPECT_EQ(DefaultSetupName(kBuiltIns, ExeBaseName(c.path)), c.title);
  RunState s;  // loading fills the built-ins and leaves the download fields empty
  LoadDefaults(s, kBuiltIns, u"x_vh2vh6", [] { return std::u16string(u"D1#D2"); });
  EXPECT_TRUE(s.SetupName == kTitle1 && s.Channel == u"wlpq" && s.PcId == u"D1#D2" && s.ServerUrl == u"http://srv/");
  EXPECT_TRUE(s.DefaultDownUrl == kBuiltIns.DefaultDownUrl && s.DownUrl.empty());
}

TEST(Defaults, PublisherSettingsAndGeneratedTitles) {
  const struct { const char16_t* url; bool ok; } urls[] = {
      {u"http://report.example.com/", true}, {u"https://localhost:18474/", true}, {u"HTTPS://report.example.com/", false},
      {u"ftp://report.example.com/", false}, {u"https://report.example.com", false}, {u"https:///", false},
      {u"https://a/b/", false}, {u"https://a b/", false}, {u"https://a/?x/", false}, {u"", false},
  };
  for (const auto& c : urls) EXPECT_EQ(IsServerBaseUrl(c.url), c.ok) << Utf16ToUtf8Lossy(c.url);
  const BuiltIns& b = BuiltInSettings();  // the generated titles are stored coded and decode
  EXPECT_TRUE(DefaultSetupName(b, u"x_vh2vh6") == settings::kPlainTitle1 && b.DefaultFileMD5.size() == 32);
  EXPECT_TRUE(DefaultSetupName(b, u"x") == settings::kPlainTitle2 && b.CodedTitle1 != settings::kPlainTitle1);
}

}}  // namespace stub
