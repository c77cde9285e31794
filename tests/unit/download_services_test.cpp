#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "download/services.h"

namespace stub {
namespace {

TEST(DownloadServices, ToKBMB) {
  struct {
    double size;
    const char16_t* X;
    const char16_t* text;
  } cases[] = {
      {511, u"", u"KB"},         {512, u"", u"1KB"},         {1048576, u"", u"1024KB"},
      {1048577, u"", u"1.0MB"},  {1500000, u"", u"1.4MB"},   {-2048, u"", u"-2KB"},
      {1024, u"1024", u"1024KB"}, {1025, u"1024", u"1.0MB"}, {2048, u"x", u"2KB"},
  };
  for (const auto& c : cases) EXPECT_EQ(ToKBMB(c.size, c.X), c.text) << c.size;
  // Nonsense never crashes.
  ToKBMB(std::numeric_limits<double>::quiet_NaN(), u"");
  ToKBMB(std::numeric_limits<double>::infinity(), u"1024");
  ToKBMB(1e300, u"");
}

TEST(DownloadServices, FormatRoundedRoundsHalfAwayFromZero) {
  struct {
    double value;
    int decimals;
    const char16_t* text;
  } cases[] = {
      {0.49, 0, u""},   {2.5, 0, u"3"},   {-0.5, 0, u"-1"}, {0, 1, u".0"},  {0.25, 1, u".3"},
      {9.96, 1, u"10.0"}, {-1.25, 1, u"-1.3"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatRounded(c.value, c.decimals), c.text) << c.value;
}

TEST(DownloadServices, FormatSecondsRoundsHalfToEvenAndDropsZeros) {
  struct {
    double seconds;
    const char16_t* sep;
    const char16_t* text;
  } cases[] = {
      {3, u".", u"3"},           {0.125, u".", u"0.12"},   {0.375, u".", u"0.38"},
      {12.34, u",", u"12,34"},   {-0.004, u".", u"0"},     {0.05, u".", u"0.05"},
      {-86398.75, u".", u"-86398.75"},                     {59.999, u".", u"60"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatSeconds(c.seconds, c.sep), c.text) << c.seconds;
  EXPECT_EQ(FormatSeconds(std::numeric_limits<double>::quiet_NaN(), u"."), u"0");
  FormatSeconds(1e300, u".");
  FormatSeconds(-std::numeric_limits<double>::infinity(), u".");
}

TEST(DownloadServices, StripHttpRemovesOnlyLowerCasePlainHttp) {
  EXPECT_EQ(StripHttp(u"http://dl.example.com/a.exe"), u"dl.example.com/a.exe");
  EXPECT_EQ(StripHttp(u"http://a/?r=http://b"), u"a/?r=b");
  EXPECT_EQ(StripHttp(u"HTTP://dl.example.com/a.exe"), u"HTTP://dl.example.com/a.exe");
}

TEST(DownloadServices, UrlFileNameIsTheLastSegment) {
  struct {
    const char16_t* url;
    const char16_t* name;
  } cases[] = {
      {u"http://h/setup.exe?v=1&x=a/b.exe", u"b.exe"},
      {u"http://h/setup.exe?v=1", u"setup.exe?v=1"},
      {u"http://h/soft/", u""},
      {u"", u""},
      {u"http://h/..\\..\\evil.exe", u"..\\..\\evil.exe"},
  };
  for (const auto& c : cases) EXPECT_EQ(UrlFileName(c.url), c.name) << int(std::u16string(c.url).size());
}

TEST(DownloadServices, SaveNameEndsBeforeTheQueryAndPicksTheLaunch) {
  struct {
    const char16_t* url;
    const char16_t* name;
    LaunchAs how;
  } cases[] = {
      {u"http://h/setup.exe?v=2", u"setup.exe", LaunchAs::Handler},
      {u"http://h/Setup.EXE#x?y", u"Setup.EXE", LaunchAs::Handler},
      {u"http://h/get?f=/x.exe", u"get", LaunchAs::Program},
      {u"http://h/con", u"_con", LaunchAs::Program},
      {u"http://h/a.exe.txt", u"a.exe.txt", LaunchAs::Program},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SaveFileName(c.url), c.name);
    EXPECT_EQ(LaunchKind(u"C:\\Temp\\" + SaveFileName(c.url)), c.how) << int(c.how);
  }
}

TEST(DownloadServices, SafeFileNameGivesOneCreatableName) {
  struct {
    std::u16string in;
    std::u16string out;
  } cases[] = {
      {u"..\\..\\evil.exe", u".._.._evil.exe"},
      {u"C:x*y\"z<a>b|c.exe", u"C_x_y_z_a_b_c.exe"},
      {u"CON", u"_CON"},
      {u"aux.tar.gz", u"_aux.tar.gz"},
      {u"com1.exe", u"_com1.exe"},
      {u"Lpt9", u"_Lpt9"},
      {u"con .txt", u"_con .txt"},
      {u"com0.exe", u"com0.exe"},
      {u"COM10.exe", u"COM10.exe"},
      {u"x. .", u"x"},
      {u"..", u""},
      {std::u16string(u"a\x01" u"b\tc\x1F.exe"), u"a_b_c_.exe"},
      {u"o\x7F=.exe", u"o_=.exe"},  // DEL is a control character too
      {u"COM\u00B9.exe", u"_COM\u00B9.exe"},  // superscripts 1-3 are port digits
      {u"COM\u00B4.exe", u"COM\u00B4.exe"},
  };
  for (const auto& c : cases) EXPECT_EQ(SafeFileName(c.in), c.out);
}

TEST(DownloadServices, DownCodeListsEachCodeOnceInOrder) {
  struct {
    std::vector<int32_t> codes;
    const char16_t* trail;
  } cases[] = {
      {{4, 14, 5, 5, 5, 6}, u"4,14,5,6,"},
      {{11, 1}, u"11,1,"},
      {{1, 11, 1, 11}, u"1,11,"},
      {{0, -1, -1}, u"0,-1,"},
  };
  for (const auto& c : cases) {
    std::u16string trail;
    for (int32_t code : c.codes) AppendDownCode(trail, code);
    EXPECT_EQ(trail, c.trail);
  }
}

TEST(DownloadServices, DiskFreeMBIn64BitsAndZeroWhenTooLarge) {
  struct {
    uint32_t spc, bps, free;
    int32_t mb;
  } cases[] = {
      {8, 512, 2621440, 10240},  // 4096-byte clusters, 10 GB
      {1, 4096, 255, 0},         // under a megabyte
      {128, 65536, 0xFFFFFFFFu, 0},  // 2^55 bytes: beyond 32 bits
      {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0},  // beyond 64 bits
      {64, 512, 65536, 2048},
      {1, 1048576, 0x7FFFFFFF, 0x7FFFFFFF},
      {1, 1048576, 0x80000000u, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(DiskFreeMB(c.spc, c.bps, c.free), c.mb) << c.free;
}

}  // namespace
}  // namespace stub
