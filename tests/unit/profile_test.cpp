#include <gtest/gtest.h>
#include "base/text.h"
#include "profile/pcid.h"
#include "profile/profile.h"

namespace stub { namespace {

std::string Show(std::u16string_view s) { return Utf16ToUtf8Lossy(s); }
std::u16string Units(std::initializer_list<char16_t> units) { return std::u16string(units); }
const std::u16string kZeros = u"4848484848484848484848";  // eleven "0" units
std::u16string DiskId(std::u16string a, std::u16string b = u"", std::u16string c = u"", std::u16string d = u"") {
  const std::u16string s[4] = {a, b, c, d};
  return DiskIdFromSerials(s);
}

TEST(OsName, VersionTableByMajorAndMinorOnly) {
  const struct { uint32_t major, minor; const char16_t* name; } cases[] = {
      {3, 51, u"Win3.51"}, {4, 90, u"WinMe"},   {5, 1, u"WinXP"},    {5, 2, u"Win2003"}, {6, 2, u"Win8"},
      {6, 3, u"NotFind"},  {4, 3, u"NotFind"},  {10, 0, u"NotFind"}, {0xFFFFFFFF, 0, u"NotFind"},
  };
  for (const auto& c : cases) EXPECT_EQ(OsName(c.major, c.minor), c.name) << c.major << "." << c.minor;
  EXPECT_EQ(ScrText(1366, 768), u"1366*768");
  // Bitness: a 64-bit process, or a 32-bit one under the emulation layer, is on a 64-bit system.
  EXPECT_EQ(OsBitText(false, false) + OsBitText(false, true) + OsBitText(true, false), u"326464");
}

TEST(MachineId, BlanksDigitsAndTheDiskAndProcessorForms) {
  const std::u16string abc = u"D656667484848484848484848", xyz = u"D888990484848484848484848";
  const std::pair<std::u16string, std::u16string> cases[] = {
      {StripBlanks(Units({u' ', u'a', 0, u'\r', u'\n', u'b', 0xE4C6, u'c', 0x3000, u'd'})), u"abcd"},
      {StripBlanks(Units({u'\t', 0x00A0, u'q', 0x2003})), Units({u'\t', 0x00A0, u'q', 0x2003})},  // other blanks stay
      {IdToDigits(u"  abc  "), u"656667484848484848484848"},  // upper-cased, trimmed, filled with "0"
      {IdToDigits(u"0123456789AB"), u"484950515253545556576566"},   // exactly 12: whole
      {IdToDigits(u"0123456789ABC"), u"484951525354555657656667"},  // 13: "01" + last 10
      {IdToDigits(u"a\tb"), u"650966484848484848484848"},           // below 10: a leading zero
      {IdToDigits(Units({0xFFFF})), u"-01" + kZeros},               // >= U+8000: negative
      {IdToDigits(Units({0x7FFF})), u"32767" + kZeros},
      {DiskId(u"", u"", u"abc"), abc}, {DiskId(u"abc", u"", u"", u"xyz"), abc + u"#" + xyz},
      {DiskId(u"    ", Units({0, 0, u' ', 0}), u"\r\n"), u""},  // blanks only: no serial
      {DiskId(u"    ABCDEFG HIJKLMNO"), u"D656670717273747576777879"},  // inner blanks go before the cut
      {CpuIdFromProcessorId(u"  BFEBFBFF000306A9 "), u"C667070704848485148546557"},
      {CpuIdFromProcessorId(Units({u' ', 0, u'\r', 0x3000})), u""},
  };
  for (const auto& [got, want] : cases) EXPECT_EQ(got, want) << Show(want);
}

// An identify output whose 20-byte serial field holds `serial` in the drive's order: each word swapped.
std::vector<uint8_t> IdentifyOutput(std::string_view serial) {
  std::vector<uint8_t> out(kSmartIdentifyOutBuffer, 0xEE);
  for (size_t i = 0; i < 20; ++i) out[36 + (i ^ 1)] = i < serial.size() ? serial[i] : 0;
  return out;
}

TEST(Smart, CommandBlocksAndSerial) {
  // Bit 4 of (map >> drive): an ATAPI device answers IDENTIFY PACKET DEVICE.
  EXPECT_TRUE(SmartIdentifyCommand(1, 0x20) == 0xA1 && SmartIdentifyCommand(1, 0x10) == 0xEC &&
              SmartIdentifyCommand(0, 0x0F) == 0xEC);
  EXPECT_EQ(SmartEnableInBlock(1), (std::array<uint8_t, 36>{0, 0, 0, 0, 0xD8, 1, 1, 0x4F, 0xC2, 0xB0, 0xB0, 0, 1}));
  EXPECT_EQ(SmartIdentifyInBlock(2, 0x00), (std::array<uint8_t, 36>{0, 2, 0, 0, 0, 1, 1, 0, 0, 0xA0, 0xEC, 0, 2}));
  EXPECT_EQ(SmartIdentifyInBlock(3, 0x80)[10], 0xA1);
  auto out = IdentifyOutput("      WD-WCAV1234567");  // the serial: words swapped, spaces trimmed
  EXPECT_EQ(SerialFromIdentify(out.data(), out.size(), nullptr), u"WD-WCAV1234567");
  out = IdentifyOutput("S1XYNEAD 123        ");
  EXPECT_EQ(SerialFromIdentify(out.data(), 272, nullptr), u"S1XYNEAD 123");  // the record's end
  EXPECT_TRUE(SerialFromIdentify(out.data(), 271, nullptr).empty() && SerialFromIdentify(nullptr, 532, nullptr).empty());
  out = IdentifyOutput(std::string_view("  AB\0\0CD           \xE9", 20));  // without a code page: Latin-1
  EXPECT_EQ(SerialFromIdentify(out.data(), out.size(), nullptr),
            Units({u'A', u'B', 0, 0, u'C', u'D'}) + std::u16string(11, u' ') + u"\xE9");
  // Zero bytes only: a serial that the identifier then counts as none.
  const std::u16string zeros = SerialFromIdentify(IdentifyOutput("").data(), 532, nullptr);
  EXPECT_TRUE(zeros.size() == 20 && DiskId(zeros).empty());
}

}}  // namespace stub
