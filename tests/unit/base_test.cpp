#include <gtest/gtest.h>
#include <map>
#include "base/text.h"
#include "base/unique.h"

namespace stub { namespace {

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

TEST(Text, CaseSearchReplaceAndDecimal) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {ToLower(u"DownUrl==HTTP://A/安装.EXE"), u"downurl==http://a/安装.exe"},
      {ToUpper(u"ßаяёџαωz"), u"ßАЯЁЏΑΩZ"},  // the ends of each alphabet; ß has no single-unit upper form
      {ToLower(u"АЯЁЏΑΩZÀÞ×"), u"аяёџαωzàþ×"},
      {ReplaceAll(u"a#b##", u"#", u"--"), u"a--b----"},
      {ReplaceAll(u"http://http://x", u"http://", u""), u"x"},
      {DecimalText(-2147483648LL), u"-2147483648"},
  };
  for (const auto& [got, want] : cases) EXPECT_EQ(got, want) << Utf16ToUtf8Lossy(want);
  // Position counted from one, case ignored; 0 when absent.
  const struct { const char16_t *text, *part; int32_t pos; } found[] = {
      {u"abc", u"", 1}, {u"", u"a", 0}, {u"xHTTP://", u"http://", 2}, {u"abc", u"abcd", 0}, {u"http:/", u"http://", 0},
  };
  for (const auto& c : found) EXPECT_EQ(ContainsText(c.text, c.part), c.pos) << int(c.pos);
}

std::map<int, int> g_closed;  // handle -> times closed
struct CountingTraits {
  using Type = int;
  static int Invalid() { return -1; }
  static void Close(int h) { ++g_closed[h]; }
};

TEST(Unique, ClosesEachHandleExactlyOnce) {
  using U = Unique<CountingTraits>;
  {
    U a(7);
    a.reset(7);  // the handle already held: nothing to close
    U b(std::move(a));
    b = std::move(b);  // self-move keeps it
    U c(8);
    c = std::move(b);  // 8 closed, 7 moves on
    c.reset(9);        // 7 closed
    U d(10);
    EXPECT_EQ(d.release(), 10);  // given away, never closed here
  }  // 9 closed
  EXPECT_EQ(g_closed, (std::map<int, int>{{7, 1}, {8, 1}, {9, 1}}));
}

}}  // namespace stub
