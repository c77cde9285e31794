#include "app/defaults.h"

#include <gtest/gtest.h>

#include "build_settings.h"
#include "codec/codec.h"

namespace stub {
namespace {

const std::u16string kTitle1 = u"十个字的标题一二三四";
const std::u16string kTitle2 = u"六个字标题六";
const std::u16string kCoded1 = Encode(kTitle1, u"A", kCodecKey);
const std::u16string kCoded2 = Encode(kTitle2, u"A", kCodecKey);
const BuiltIns kBuiltIns{u"http://srv/", u"http://dl/rmgb/4.2.2/wlpq1(wlpqhd).exe",
                         u"0123456789abcdef0123456789abcdef", kCoded1, kCoded2};

TEST(DefaultSetupName, ChoosesTitleByCaseSensitiveName) {
  struct {
    const char16_t* exe;
    const std::u16string& title;
  } cases[] = {
      {u"vh2vh6", kTitle1},         {u"setup_vh2vh6_x64", kTitle1}, {u"avh2vh6b", kTitle1},
      {u"VH2VH6", kTitle2},         {u"Vh2vh6", kTitle2},           {u"setup", kTitle2},
      {u"vh2 vh6", kTitle2},        {u"", kTitle2},
  };
  for (const auto& c : cases) EXPECT_EQ(DefaultSetupName(kBuiltIns, c.exe), c.title);
}

std::u16string FakePcId() { return u"D1#D2"; }

TEST(LoadDefaults, FillsBuiltInsAndLeavesDownloadFieldsEmpty) {
  RunState s;
  LoadDefaults(s, kBuiltIns, u"stub", FakePcId);
  EXPECT_EQ(s.SoftVer, u"V3.1.1");
  EXPECT_EQ(s.SoftId, u"vrx");
  EXPECT_EQ(s.SetupName, kTitle2);
  EXPECT_EQ(s.Channel, u"wlpq");
  BuiltIns beta = kBuiltIns;
  beta.Channel = u"beta";
  RunState b;
  LoadDefaults(b, beta, u"stub", FakePcId);
  EXPECT_EQ(b.Channel, u"beta");
  EXPECT_EQ(s.ServerUrl, u"http://srv/");
  EXPECT_EQ(s.PcId, u"D1#D2");
  EXPECT_EQ(s.PcId_C, u"");
  EXPECT_EQ(s.NameTitle, u"Korvel安装");
  EXPECT_EQ(s.DefaultDownUrl, kBuiltIns.DefaultDownUrl);
  EXPECT_EQ(s.DefaultFileMD5, kBuiltIns.DefaultFileMD5);
  EXPECT_EQ(s.DownUrl, u"");
  EXPECT_EQ(s.FileMD5, u"");
}

TEST(BuiltInSettings, GeneratedTitlesDecodeToTheConfiguredOnes) {
  const BuiltIns& b = BuiltInSettings();
  EXPECT_EQ(b.CodedTitle1.size(), 10u);
  EXPECT_EQ(b.CodedTitle2.size(), 6u);
  EXPECT_EQ(DefaultSetupName(b, u"x_vh2vh6"), settings::kPlainTitle1);
  EXPECT_EQ(DefaultSetupName(b, u"x"), settings::kPlainTitle2);
  EXPECT_NE(b.CodedTitle1, std::u16string_view(settings::kPlainTitle1));  // stored coded
  EXPECT_EQ(b.DefaultFileMD5.size(), 32u);
  EXPECT_TRUE(b.DefaultDownUrl.substr(0, 7) == u"http://");
  const std::u16string_view path = u"/rmgb/4.2.2/wlpq1(wlpqhd).exe";
  ASSERT_GT(b.DefaultDownUrl.size(), path.size());
  EXPECT_EQ(b.DefaultDownUrl.substr(b.DefaultDownUrl.size() - path.size()), path);
}

TEST(ExeBaseName, DropsFolderAndExtension) {
  EXPECT_EQ(ExeBaseName(u"C:\\a.b\\setup_vh2vh6.exe"), u"setup_vh2vh6");
  EXPECT_EQ(ExeBaseName(u"Z:/tmp/stub"), u"stub");
  EXPECT_EQ(ExeBaseName(u"x.y.exe"), u"x.y");
}

}  // namespace
}  // namespace stub
