#include "profile/pcid.h"

#include <gtest/gtest.h>

#include <vector>

#include "app/text.h"

namespace stub {
namespace {

std::string Show(std::u16string_view s) { return Utf16ToUtf8Lossy(s); }

std::u16string Units(std::initializer_list<char16_t> units) { return std::u16string(units); }

TEST(StripBlanks, RemovesLineBreaksZerosSpacesAndTwoOddBlanks) {
  const struct {
    std::u16string in, out;
  } cases[] = {
      {u"", u""},
      {u" A B ", u"AB"},
      {Units({u'a', 0, u'\r', u'\n', u'b'}), u"ab"},
      {Units({u'x', 0xE4C6, u'y', 0x3000, u'z'}), u"xyz"},
      {u"a\tb\vc", u"a\tb\vc"},                    // tabs and other controls stay
      {Units({0x00A0, u'q', 0x2003}), Units({0x00A0, u'q', 0x2003})},  // other spaces stay
      {Units({u' ', 0, 0, u' '}), u""},
  };
  for (const auto& c : cases) EXPECT_EQ(StripBlanks(c.in), c.out) << Show(c.in);
}

TEST(IdToDigits, TwelveUnitsAsDecimalCodes) {
  const struct {
    std::u16string in;
    std::u16string digits;
  } cases[] = {
      {u"abc", u"656667484848484848484848"},
      {u"ABC", u"656667484848484848484848"},
      {u"  abc  ", u"656667484848484848484848"},  // spaces around are trimmed
      {u"", u"484848484848484848484848"},
      {u"0123456789AB", u"484950515253545556576566"},           // exactly 12: whole
      {u"0123456789ABC", u"484951525354555657656667"},          // 13: "01" + last 10
      {u"WD-WCAV12345678", u"876865864950515253545556"},        // "WD" + "AV12345678"
      {Units({0xFF10}), u"-240" + std::u16string(u"4848484848484848484848")},
      {u"a\tb", u"650966484848484848484848"},  // a code below 10 gets a leading zero
      {Units({0xFFFF}), u"-01" + std::u16string(u"4848484848484848484848")},
      {Units({0x8000}), u"-32768" + std::u16string(u"4848484848484848484848")},
      {Units({0x7FFF}), u"32767" + std::u16string(u"4848484848484848484848")},
  };
  for (const auto& c : cases) EXPECT_EQ(IdToDigits(c.in), c.digits) << Show(c.in);
}

TEST(DiskIdFromSerials, OneGroupPerAnsweringDriveJoinedByHash) {
  const std::u16string abc = u"D656667484848484848484848";
  const std::u16string xyz = u"D888990484848484848484848";
  const struct {
    std::u16string serials[4];
    std::u16string id;
  } cases[] = {
      {{u"", u"", u"abc", u""}, abc},
      {{u"abc", u"xyz", u"", u""}, abc + u"#" + xyz},
      {{u"abc", u"", u"", u"xyz"}, abc + u"#" + xyz},
      {{u"abc", u"abc", u"xyz", u"xyz"}, abc + u"#" + abc + u"#" + xyz + u"#" + xyz},
      {{u"", u"", u"", u""}, u""},
      {{u"    ", Units({0, 0, u' ', 0}), u"\r\n", u""}, u""},  // blanks only: no serial
      {{Units({u' ', u'a', 0, u'b', u'c'}), u"", u"", u""}, abc},
  };
  for (const auto& c : cases) EXPECT_EQ(DiskIdFromSerials(c.serials), c.id) << Show(c.id);
}

TEST(DiskIdFromSerials, InnerSpaceIsStrippedBeforeCutting) {
  // A 20-character field: four leading spaces, one inner space, 15 others.
  const std::u16string serials[4] = {u"    ABCDEFG HIJKLMNO", u"", u"", u""};
  // "ABCDEFGHIJKLMNO" -> "AB" + "FGHIJKLMNO".
  EXPECT_EQ(DiskIdFromSerials(serials), u"D656670717273747576777879");
}

TEST(CpuIdFromProcessorId, ProcessorForm) {
  const struct {
    std::u16string in, id;
  } cases[] = {
      // 16 hex digits: "BF" + "FF000306A9".
      {u"BFEBFBFF000306A9", u"C667070704848485148546557"},
      {u"  bfebfbff000306a9  ", u"C667070704848485148546557"},
      {u"178BFBFF00A20F12", u"C495570704848655048704950"},
      {u"", u""},
      {u"   ", u""},
      {Units({u' ', 0, u'\r', u'\n', 0x3000}), u""},
      {u"a b", u"C656648484848484848484848"},
  };
  for (const auto& c : cases) EXPECT_EQ(CpuIdFromProcessorId(c.in), c.id) << Show(c.in);
}

TEST(Smart, DriveHeadAndIdentifyCommand) {
  EXPECT_EQ(SmartDriveHead(0), 0xA0);
  EXPECT_EQ(SmartDriveHead(1), 0xB0);
  EXPECT_EQ(SmartDriveHead(2), 0xA0);
  EXPECT_EQ(SmartDriveHead(3), 0xB0);
  // Bit 4 of (map >> drive): an ATAPI device answers IDENTIFY PACKET DEVICE.
  EXPECT_EQ(SmartIdentifyCommand(0, 0x10), 0xA1);
  EXPECT_EQ(SmartIdentifyCommand(0, 0x0F), 0xEC);
  EXPECT_EQ(SmartIdentifyCommand(1, 0x20), 0xA1);
  EXPECT_EQ(SmartIdentifyCommand(1, 0x10), 0xEC);
  EXPECT_EQ(SmartIdentifyCommand(3, 0x80), 0xA1);
  EXPECT_EQ(SmartIdentifyCommand(2, 0x80), 0xEC);
  EXPECT_EQ(SmartIdentifyCommand(2, 0x00), 0xEC);
}

TEST(Smart, BlocksByteByByte) {
  const auto version = SmartVersionOutBlock();
  for (uint8_t b : version) EXPECT_EQ(b, 0);

  const std::array<uint8_t, 36> enable1 = {0,    0, 0, 0, 0xD8, 1, 1, 0x4F, 0xC2, 0xB0, 0xB0, 0,
                                           1,    0, 0, 0, 0,    0, 0, 0,    0,    0,    0,    0,
                                           0,    0, 0, 0, 0,    0, 0, 0,    0,    0,    0,    0};
  EXPECT_EQ(SmartEnableInBlock(1), enable1);
  EXPECT_EQ(SmartEnableInBlock(2)[9], 0xA0);
  EXPECT_EQ(SmartEnableInBlock(2)[12], 2);

  const std::array<uint8_t, 36> identify2 = {0, 2, 0, 0, 0, 1, 1, 0, 0, 0xA0, 0xEC, 0,
                                             2, 0, 0, 0, 0, 0, 0, 0, 0, 0,    0,    0,
                                             0, 0, 0, 0, 0, 0, 0, 0, 0, 0,    0,    0};
  EXPECT_EQ(SmartIdentifyInBlock(2, 0x00), identify2);
  const auto packet = SmartIdentifyInBlock(3, 0x80);
  EXPECT_EQ(packet[9], 0xB0);
  EXPECT_EQ(packet[10], 0xA1);
  EXPECT_EQ(packet[12], 3);
}

// An identify output buffer whose serial field holds `serial` (20 bytes) in
// the drive's byte order: each word's two bytes swapped.
std::vector<uint8_t> IdentifyOutput(std::string_view serial) {
  std::vector<uint8_t> out(kSmartIdentifyOutBuffer, 0xEE);
  const auto at = [&](size_t i) { return static_cast<uint8_t>(i < serial.size() ? serial[i] : 0); };
  for (size_t i = 0; i < 20; i += 2) {
    out[16 + 20 + i] = at(i + 1);
    out[16 + 20 + i + 1] = at(i);
  }
  return out;
}

std::string g_seenCharset;
size_t g_seenSize;

bool FakeAnsi(std::string_view charset, std::string_view bytes, std::u16string& out) {
  g_seenCharset = std::string(charset);
  g_seenSize = bytes.size();
  out = Widen(bytes);
  if (!out.empty() && out.back() == u'\xE9') out.back() = u'字';
  return true;
}

bool FailingDecoder(std::string_view, std::string_view, std::u16string&) { return false; }

TEST(SerialFromIdentify, SwapsWordsAndTrimsSpaces) {
  auto out = IdentifyOutput("      WD-WCAV1234567");
  EXPECT_EQ(SerialFromIdentify(out.data(), out.size(), nullptr), u"WD-WCAV1234567");
  out = IdentifyOutput("S1XYNEAD 123        ");
  EXPECT_EQ(SerialFromIdentify(out.data(), out.size(), nullptr), u"S1XYNEAD 123");
  // The minimum size, exactly the record's end.
  EXPECT_EQ(SerialFromIdentify(out.data(), 272, nullptr), u"S1XYNEAD 123");
  EXPECT_EQ(SerialFromIdentify(out.data(), 271, nullptr), u"");
  EXPECT_EQ(SerialFromIdentify(nullptr, 532, nullptr), u"");
}

TEST(SerialFromIdentify, KeepsZeroBytesAndUsesTheAnsiDecoder) {
  const char serial[] = "  AB\0\0CD           \xE9";
  static_assert(sizeof serial == 21, "a 20-byte field");
  auto out = IdentifyOutput(std::string_view(serial, 20));
  g_seenCharset = "unset";
  EXPECT_EQ(SerialFromIdentify(out.data(), out.size(), FakeAnsi),
            Units({u'A', u'B', 0, 0, u'C', u'D', u' ', u' ', u' ', u' ', u' ', u' ', u' ', u' ',
                   u' ', u' ', u' ', u'字'}));
  EXPECT_EQ(g_seenCharset, "");
  EXPECT_EQ(g_seenSize, 20u);
  // Without a decoder, or when it fails, each byte is one Latin-1 character.
  EXPECT_EQ(SerialFromIdentify(out.data(), out.size(), FailingDecoder).back(), u'\xE9');
  EXPECT_EQ(SerialFromIdentify(out.data(), out.size(), nullptr).back(), u'\xE9');
  // Zero bytes only: a serial that the identifier then counts as none.
  const std::u16string zeros = SerialFromIdentify(IdentifyOutput("").data(), 532, nullptr);
  EXPECT_EQ(zeros.size(), 20u);
  const std::u16string serials[4] = {zeros, u"", u"", u""};
  EXPECT_EQ(DiskIdFromSerials(serials), u"");
}

}  // namespace
}  // namespace stub
