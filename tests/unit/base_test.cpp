#include <gtest/gtest.h>
#include <map>
#include "base/text.h"
#include "base/unique.h"

namespace stub { namespace {

TEST(Text, StrictConversionsCaseSearchReplaceAndDecimal) {
  std::u16string w;
  std::string n;
  EXPECT_TRUE(Utf8ToUtf16("a安\xF0\x9F\x98\x80", w) && w == u"a安\U0001F600");
  EXPECT_TRUE(Utf16ToUtf8(w, n) && n == "a安\xF0\x9F\x98\x80" && !Utf16ToUtf8(u"a\xDC00", n));
  // Overlong, surrogate, past U+10FFFF, stray continuation, cut short, never valid.
  for (const char* bad : {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\x80", "\xE4\xB8", "\xFF"})
    EXPECT_FALSE(Utf8ToUtf16(bad, w)) << bad;
  const std::pair<std::u16string, std::u16string> cases[] = {
      {ToUpper(u"ßаяёџαωz"), u"ßАЯЁЏΑΩZ"},  // the ends of each alphabet; ß has no single-unit upper form
      {ToLower(u"АЯЁЏΑΩZÀÞ×"), u"аяёџαωzàþ×"},
      {DecimalText(-2147483648LL), u"-2147483648"}, {Utf8ToUtf16Lossy("a\xFF" "b"), u"a\xFFFD" "b"},
      // Position counted from one, case ignored; 0 when absent.
      {DecimalText(ContainsText(u"abc", u"")), u"1"}, {DecimalText(ContainsText(u"", u"a")), u"0"},
      {DecimalText(ContainsText(u"xHTTP://", u"http://")), u"2"}, {DecimalText(ContainsText(u"abc", u"abcd")), u"0"},
  };
  for (const auto& [got, want] : cases) EXPECT_EQ(got, want) << Utf16ToUtf8Lossy(want);
}

std::map<int, int> g_closed;  // handle -> times closed
struct CountingTraits { using Type = int; static int Invalid() { return -1; } static void Close(int h) { ++g_closed[h]; } };

TEST(Unique, ClosesEachHandleExactlyOnce) {
  using U = Unique<CountingTraits>;
  {
    U a(7), c(8), d(10);
    a.reset(7);  // the handle already held: nothing to close
    U b(std::move(a));
    b = std::move(b);              // self-move keeps it
    c = std::move(b), c.reset(9);  // 8 closed, then 7; 9 at the end of the scope
    EXPECT_EQ(d.release(), 10);    // given away, never closed here
  }
  EXPECT_EQ(g_closed, (std::map<int, int>{{7, 1}, {8, 1}, {9, 1}}));
}

}}  // namespace stub
