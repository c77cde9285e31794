#include "base/text.h"

#include <gtest/gtest.h>

namespace stub {
namespace {

TEST(Utf, StrictConversionsRejectWhatCannotRoundTrip) {
  std::u16string w;
  std::string n;
  EXPECT_TRUE(Utf8ToUtf16("a安\xF0\x9F\x98\x80", w));
  EXPECT_EQ(w, u"a安\U0001F600");
  EXPECT_TRUE(Utf16ToUtf8(w, n));
  EXPECT_EQ(n, "a安\xF0\x9F\x98\x80");
  // Overlong, surrogate, past U+10FFFF, stray continuation, cut short, never valid.
  for (const char* bad : {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\x80", "\xE4\xB8", "\xFF"})
    EXPECT_FALSE(Utf8ToUtf16(bad, w)) << bad;
  EXPECT_FALSE(Utf16ToUtf8(u"a\xDC00", n));
  EXPECT_EQ(Utf8ToUtf16Lossy("a\xFF" "b"), u"a\xFFFD" "b");
  EXPECT_EQ(Utf16ToUtf8Lossy(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
}

TEST(ContainsText, IgnoresCaseAndCountsFromOne) {
  const struct {
    const char16_t *text, *part;
    int32_t pos;
  } cases[] = {
      {u"abc", u"", 1},         {u"", u"a", 0},      {u"xHTTP://", u"http://", 2},
      {u"abc", u"abcd", 0},     {u"安装Setup", u"setup", 3}, {u"http:/", u"http://", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(ContainsText(c.text, c.part), c.pos) << int(c.pos);
}

TEST(Text, CaseMappingAtTheEndsOfEachAlphabet) {
  EXPECT_EQ(ToLower(u"DownUrl==HTTP://A/安装.EXE"), u"downurl==http://a/安装.exe");
  EXPECT_EQ(ToUpper(u"ß"), u"ß");  // no single-unit upper form
  EXPECT_EQ(ToUpper(u"аяёџαωz"), u"АЯЁЏΑΩZ");
  EXPECT_EQ(ToLower(u"АЯЁЏΑΩZÀÞ"), u"аяёџαωzàþ");
}

TEST(Text, ReplaceAllAndDecimal) {
  EXPECT_EQ(ReplaceAll(u"a#b##", u"#", u"--"), u"a--b----");
  EXPECT_EQ(ReplaceAll(u"http://http://x", u"http://", u""), u"x");
  EXPECT_EQ(DecimalText(0), u"0");
  EXPECT_EQ(DecimalText(-2147483648LL), u"-2147483648");
}

}  // namespace
}  // namespace stub
