#include <gtest/gtest.h>
#include <limits>
#include "base/text.h"
#include "download/services.h"

namespace stub { namespace {

std::u16string Trail(std::initializer_list<int32_t> codes) {
  std::u16string trail;
  for (int32_t code : codes) AppendDownCode(trail, code);
  return trail;
}
std::u16string Owned(const char16_t* owner) {  // by whom, for a program run as S-1-5-21-7-8-9-1001
  return TrustedOwner(owner, u"S-1-5-21-7-8-9-1001") ? u"trusted" : u"other";
}
std::u16string Kind(const char16_t* name) { return LaunchKind(name) == LaunchAs::Handler ? u"handler" : u"program"; }

TEST(DownloadServices, TextsNamesNumbersAndSafeNames) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN(), kInf = std::numeric_limits<double>::infinity();
  const std::pair<std::u16string, std::u16string> cases[] = {
      {ToKBMB(511), u"KB"}, {ToKBMB(512), u"1KB"}, {ToKBMB(1048576), u"1024KB"},
      {ToKBMB(1048577), u"1.0MB"}, {ToKBMB(1500000), u"1.4MB"}, {ToKBMB(-2048), u"-2KB"},
      // Nonsense is defined: non-finite counts as 0, a huge count is capped.
      {ToKBMB(kNaN), u"KB"}, {ToKBMB(kInf), u".0MB"}, {ToKBMB(1e300), u"10000000000000000.0MB"},
      // Half away from zero, no leading zero; seconds half to even in the shortest form.
      {FormatRounded(0.49, 0), u""}, {FormatRounded(-0.5, 0), u"-1"}, {FormatRounded(0.25, 1), u".3"},
      {FormatRounded(9.96, 1), u"10.0"}, {FormatRounded(-1.25, 1), u"-1.3"},
      {FormatSeconds(3, u"."), u"3"}, {FormatSeconds(0.125, u"."), u"0.12"}, {FormatSeconds(0.375, u"."), u"0.38"},
      {FormatSeconds(-0.004, u"."), u"0"}, {FormatSeconds(59.999, u"."), u"60"}, {FormatSeconds(kNaN, u"."), u"0"},
      {FormatSeconds(1e300, u"."), u"1000000000000000"}, {FormatSeconds(-1e300, u"."), u"-1000000000000000"},
      {StripHttp(u"http://a/?r=http://b"), u"a/?r=b"}, {StripHttp(u"HTTP://a/"), u"HTTP://a/"},
      {UrlFileName(u"http://h/setup.exe?v=1&x=a/b.exe"), u"b.exe"}, {UrlFileName(u"http://h/soft/"), u""},
      {SaveFileName(u"http://h/Setup.EXE#x?y"), u"Setup.EXE"}, {SaveFileName(u"http://h/get?f=/x.exe"), u"get"},
      {Kind(u"C:\\T\\setup.exe"), u"handler"}, {Kind(u"C:\\T\\Setup.EXE"), u"handler"}, {Kind(u"C:\\T\\a.msi"), u"handler"},
      {Kind(u"C:\\T\\get"), u"program"}, {Kind(u"C:\\T\\_con"), u"program"}, {Kind(u"C:\\T\\a.exe.txt"), u"program"},
      // Folder owners: the user, the system, the administrators, the module installer; no owner kept at all.
      {Owned(u"S-1-5-21-7-8-9-1001"), u"trusted"}, {Owned(u"S-1-5-18"), u"trusted"}, {Owned(u"S-1-5-32-544"), u"trusted"},
      {Owned(u"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"), u"trusted"}, {Owned(u""), u"trusted"},
      {Owned(u"S-1-5-21-7-8-9-1002"), u"other"}, {Owned(u"S-1-5-21-7-8-9-100"), u"other"}, {Owned(u"?"), u"other"},
      {Owned(u"S-1-5-32-545"), u"other"}, {Owned(u"S-1-5-11"), u"other"}, {Owned(u"S-1-5-80-0"), u"other"},
      {TrustedOwner(u"?", u"?") ? u"trusted" : u"other", u"other"}, {TrustedOwner(u"S-1-5-18", u"?") ? u"y" : u"n", u"y"},
      {Trail({4, 14, 5, 5, 5, 6}), u"4,14,5,6,"}, {Trail({1, 11, 1, 11}), u"1,11,"}, {Trail({0, -1, -1}), u"0,-1,"},
      // Whole free megabytes in 64 bits, 0 when they do not fit 31.
      {DecimalText(DiskFreeMB(8, 512, 2621440)), u"10240"}, {DecimalText(DiskFreeMB(1, 4096, 255)), u"0"},
      {DecimalText(DiskFreeMB(128, 65536, 0xFFFFFFFFu)), u"0"}, {DecimalText(DiskFreeMB(~0u, ~0u, ~0u)), u"0"},
      {DecimalText(DiskFreeMB(1, 1048576, 0x7FFFFFFF)), u"2147483647"}, {DecimalText(DiskFreeMB(1, 1048576, 1u << 31)), u"0"},
  };
  for (size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(cases[i].first, cases[i].second) << "row " << i << " got " << Utf16ToUtf8Lossy(cases[i].first);
  const std::pair<std::u16string, std::u16string> safe[] = {  // SafeFileName gives one creatable name
      {u"..\\..\\evil.exe", u".._.._evil.exe"}, {u"C:x*y\"z<a>b|c.exe", u"C_x_y_z_a_b_c.exe"},
      {u"CON", u"_CON"}, {u"aux.tar.gz", u"_aux.tar.gz"}, {u"Lpt9", u"_Lpt9"}, {u"con .txt", u"_con .txt"},
      {u"com0.exe", u"com0.exe"}, {u"COM10.exe", u"COM10.exe"}, {u"x. .", u"x"}, {u"..", u""},
      {std::u16string(u"a\x01" u"b\tc\x1F.exe"), u"a_b_c_.exe"}, {u"o\x7F=.exe", u"o_=.exe"},  // DEL too
      {u"COM\u00B9.exe", u"_COM\u00B9.exe"}, {u"COM\u00B4.exe", u"COM\u00B4.exe"},  // superscripts 1-3 are digits
  };
  for (const auto& [in, out] : safe) EXPECT_EQ(SafeFileName(in), out) << Utf16ToUtf8Lossy(in);
}

}}  // namespace stub
