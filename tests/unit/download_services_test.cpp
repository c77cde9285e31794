#include <limits>

#include <gtest/gtest.h>

#include "base/text.h"
#include "download/services.h"

namespace stub {
namespace {

std::u16string Trail(std::initializer_list<int32_t> codes) {
  std::u16string trail;
  for (int32_t code : codes) AppendDownCode(trail, code);
  return trail;
}

TEST(DownloadServices, TextsAndNames) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN(), kInf = std::numeric_limits<double>::infinity();
  const std::pair<std::u16string, std::u16string> cases[] = {
      {ToKBMB(511, u""), u"KB"},
      {ToKBMB(512, u""), u"1KB"},
      {ToKBMB(1048576, u""), u"1024KB"},
      {ToKBMB(1048577, u""), u"1.0MB"},
      {ToKBMB(1500000, u""), u"1.4MB"},
      {ToKBMB(-2048, u""), u"-2KB"},
      {ToKBMB(1025, u"1024"), u"1.0MB"},  // a count of kilobytes
      {ToKBMB(2048, u"x"), u"2KB"},
      {FormatRounded(0.49, 0), u""},  // half away from zero, no leading zero
      {FormatRounded(-0.5, 0), u"-1"},
      {FormatRounded(0.25, 1), u".3"},
      {FormatRounded(9.96, 1), u"10.0"},
      {FormatRounded(-1.25, 1), u"-1.3"},
      {FormatSeconds(3, u"."), u"3"},  // half to even, shortest form
      {FormatSeconds(0.125, u"."), u"0.12"},
      {FormatSeconds(0.375, u"."), u"0.38"},
      {FormatSeconds(12.34, u","), u"12,34"},
      {FormatSeconds(-0.004, u"."), u"0"},
      {FormatSeconds(-86398.75, u"."), u"-86398.75"},
      {FormatSeconds(59.999, u"."), u"60"},
      {FormatSeconds(kNaN, u"."), u"0"},
      {StripHttp(u"http://a/?r=http://b"), u"a/?r=b"},
      {StripHttp(u"HTTP://a/"), u"HTTP://a/"},
      {UrlFileName(u"http://h/setup.exe?v=1&x=a/b.exe"), u"b.exe"},
      {UrlFileName(u"http://h/setup.exe?v=1"), u"setup.exe?v=1"},
      {UrlFileName(u"http://h/soft/"), u""},
      {UrlFileName(u"http://h/..\\..\\evil.exe"), u"..\\..\\evil.exe"},
      {SaveFileName(u"http://h/Setup.EXE#x?y"), u"Setup.EXE"},
      {SaveFileName(u"http://h/get?f=/x.exe"), u"get"},
      {SaveFileName(u"http://h/con"), u"_con"},
      {Trail({4, 14, 5, 5, 5, 6}), u"4,14,5,6,"},  // each code once, in order
      {Trail({1, 11, 1, 11}), u"1,11,"},
      {Trail({0, -1, -1}), u"0,-1,"},
  };
  for (size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(cases[i].first, cases[i].second) << "row " << i << " got " << Utf16ToUtf8Lossy(cases[i].first);
  // Nonsense never crashes.
  ToKBMB(kNaN, u""), ToKBMB(kInf, u"1024"), ToKBMB(1e300, u""), FormatSeconds(1e300, u"."), FormatSeconds(-kInf, u".");
}

TEST(DownloadServices, LaunchKindByExtension) {
  const struct {
    const char16_t* name;
    LaunchAs how;
  } cases[] = {
      {u"setup.exe", LaunchAs::Handler}, {u"Setup.EXE", LaunchAs::Handler}, {u"a.msi", LaunchAs::Handler},
      {u"get", LaunchAs::Program},       {u"_con", LaunchAs::Program},      {u"a.exe.txt", LaunchAs::Program},
  };
  for (const auto& c : cases) EXPECT_EQ(LaunchKind(u"C:\\Temp\\" + std::u16string(c.name)), c.how) << int(c.how);
}

TEST(DownloadServices, SafeFileNameGivesOneCreatableName) {
  const struct {
    std::u16string in, out;
  } cases[] = {
      {u"..\\..\\evil.exe", u".._.._evil.exe"},
      {u"C:x*y\"z<a>b|c.exe", u"C_x_y_z_a_b_c.exe"},
      {u"CON", u"_CON"},
      {u"aux.tar.gz", u"_aux.tar.gz"},
      {u"Lpt9", u"_Lpt9"},
      {u"con .txt", u"_con .txt"},
      {u"com0.exe", u"com0.exe"},
      {u"COM10.exe", u"COM10.exe"},
      {u"x. .", u"x"},
      {u"..", u""},
      {std::u16string(u"a\x01" u"b\tc\x1F.exe"), u"a_b_c_.exe"},
      {u"o\x7F=.exe", u"o_=.exe"},            // DEL is a control character too
      {u"COM\u00B9.exe", u"_COM\u00B9.exe"},  // superscripts 1-3 are port digits
      {u"COM\u00B4.exe", u"COM\u00B4.exe"},
  };
  for (const auto& c : cases) EXPECT_EQ(SafeFileName(c.in), c.out) << Utf16ToUtf8Lossy(c.in);
}

TEST(DownloadServices, DiskFreeMBIn64BitsAndZeroWhenTooLarge) {
  const struct {
    uint32_t spc, bps, free;
    int32_t mb;
  } cases[] = {
      {8, 512, 2621440, 10240},                    // 4096-byte clusters, 10 GB
      {1, 4096, 255, 0},                           // under a megabyte
      {128, 65536, 0xFFFFFFFFu, 0},                // 2^55 bytes: beyond 32 bits
      {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0},  // beyond 64 bits
      {1, 1048576, 0x7FFFFFFF, 0x7FFFFFFF},
      {1, 1048576, 0x80000000u, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(DiskFreeMB(c.spc, c.bps, c.free), c.mb) << c.free;
}

}  // namespace
}  // namespace stub
