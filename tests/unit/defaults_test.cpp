#include "app/defaults.h"

#include <gtest/gtest.h>

#include "build_settings.h"
#include "base/text.h"
#include "codec/codec.h"

namespace stub {
namespace {

const std::u16string kTitle1 = u"十个字的标题一二三四";
const std::u16string kTitle2 = u"六个字标题六";
const std::u16string kCoded1 = Encode(kTitle1, u"A", kCodecKey);
const std::u16string kCoded2 = Encode(kTitle2, u"A", kCodecKey);
const BuiltIns kBuiltIns{u"http://srv/", u"http://dl/a.exe", u"0123456789abcdef0123456789abcdef",
                         kCoded1, kCoded2};

TEST(DefaultSetupName, ChoosesTitleByCaseSensitiveName) {
  const struct {
    const char16_t* exe;
    const std::u16string& title;
  } cases[] = {
      {u"vh2vh6", kTitle1}, {u"setup_vh2vh6_x64", kTitle1}, {u"Vh2vh6", kTitle2},
      {u"vh2 vh6", kTitle2}, {u"vh2vh", kTitle2},           {u"", kTitle2},
  };
  for (const auto& c : cases) EXPECT_EQ(DefaultSetupName(kBuiltIns, c.exe), c.title);
}

TEST(LoadDefaults, FillsBuiltInsAndLeavesDownloadFieldsEmpty) {
  RunState s;
  LoadDefaults(s, kBuiltIns, u"x_vh2vh6", [] { return std::u16string(u"D1#D2"); });
  EXPECT_EQ(s.SetupName, kTitle1);
  EXPECT_EQ(s.Channel, u"wlpq");
  BuiltIns beta = kBuiltIns;
  beta.Channel = u"beta";
  RunState b;
  LoadDefaults(b, beta, u"stub", [] { return std::u16string(); });
  EXPECT_EQ(b.Channel, u"beta");
  EXPECT_EQ(s.PcId, u"D1#D2");
  EXPECT_EQ(s.ServerUrl, u"http://srv/");
  EXPECT_EQ(s.DefaultDownUrl, kBuiltIns.DefaultDownUrl);
  EXPECT_EQ(s.DownUrl, u"");
}

TEST(PublisherSettings, ServerUrlSchemeAndHost) {
  const struct {
    const char16_t* url;
    bool ok;
  } urls[] = {
      {u"http://report.example.com/", true}, {u"https://localhost:18474/", true},
      {u"HTTPS://report.example.com/", false}, {u"ftp://report.example.com/", false},
      {u"https://report.example.com", false},  {u"https:///", false},
      {u"https://a/b/", false},                {u"https://a b/", false},
      {u"https://a/?x/", false},               {u"", false},
  };
  for (const auto& c : urls) EXPECT_EQ(IsServerBaseUrl(c.url), c.ok) << Utf16ToUtf8Lossy(c.url);

  EXPECT_TRUE(IsDownloadScheme(u"http"));
  EXPECT_TRUE(IsDownloadScheme(u"https"));
  for (const char16_t* bad : {u"", u"HTTPS", u"ftp", u"https://", u"http "})
    EXPECT_FALSE(IsDownloadScheme(bad)) << Utf16ToUtf8Lossy(bad);

  EXPECT_EQ(FallbackDownUrl(u"https", u"dl.example.com:8443"),
            u"https://dl.example.com:8443/rmgb/4.2.2/wlpq1(wlpqhd).exe");
  EXPECT_EQ(FallbackDownUrl(u"http", u"dl.example.com"),
            u"http://dl.example.com/rmgb/4.2.2/wlpq1(wlpqhd).exe");
}

TEST(BuiltInSettings, GeneratedTitlesAreStoredCodedAndDecode) {
  const BuiltIns& b = BuiltInSettings();
  EXPECT_EQ(DefaultSetupName(b, u"x_vh2vh6"), settings::kPlainTitle1);
  EXPECT_EQ(DefaultSetupName(b, u"x"), settings::kPlainTitle2);
  EXPECT_NE(b.CodedTitle1, std::u16string_view(settings::kPlainTitle1));
  EXPECT_EQ(b.DefaultFileMD5.size(), 32u);
  EXPECT_TRUE(b.DefaultDownUrl.substr(0, 7) == u"http://" ||
              b.DefaultDownUrl.substr(0, 8) == u"https://");
  const std::u16string_view path = u"/rmgb/4.2.2/wlpq1(wlpqhd).exe";
  ASSERT_GT(b.DefaultDownUrl.size(), path.size());
  EXPECT_EQ(b.DefaultDownUrl.substr(b.DefaultDownUrl.size() - path.size()), path);
}

TEST(ExeBaseName, DropsFolderAndExtension) {
  EXPECT_EQ(ExeBaseName(u"C:\\a.b\\setup_vh2vh6.exe"), u"setup_vh2vh6");
  EXPECT_EQ(ExeBaseName(u"Z:/tmp/x.y.exe"), u"x.y");
  EXPECT_EQ(ExeBaseName(u"stub"), u"stub");
}

}  // namespace
}  // namespace stub
