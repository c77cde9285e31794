#include "codec/codec.h"
#include <gtest/gtest.h>

namespace stub { namespace {

// Known answers from an independent implementation of the same rules.
TEST(CodeText, KnownAnswersModesAndKeys) {
  const struct { std::u16string in; const char16_t* mode; int32_t key; std::u16string out; } cases[] = {
      {u"DownUrl==http://a/b.exe", u"A", 4713, u"\x4e7a\x4e64\x4e71\x4e6e\x4e11\x4e75\x4e7a\x4e32\x4e79\x4e7e\x4e61"
                                               u"\x4e6e\x4e2f\x4e32\x4e56\x4e32\x4e1a\x4e31\x4e20\x4e20\x4e1c\x4e1e\x4e65"},
      {u"Korvel安装", u"A", 4713, u"\x4e73\x4e64\x4e6a\x4e76\x4e61\x4e73\x8cb7\x57e2"},
      {u"Korvel安装", u"A", -4713, u"\x4e73\x4e64\x4e6a\x4e76\x4e61\x4e73\x8cb7\x57e2"},  // the key's sign is ignored
      {u"Korvel安装", u"B", -99, u"\x7ff3\x7fd7\x7fa7\x7fb3\x7fdb\x7fa3\x8e76\x55ae"},
      {u"#", u"A", 8, u"\x4e64"},                            // key 8 draws exactly 100, the largest accepted
      {u" !\"\x7f\x7fff", u"A", 1, u" !\"\x7f\x7fff"},      // units outside the codable set pass unchanged
      {u"x", u"a", 4713, u""}, {u"x", u"AB", 4713, u""}, {u"x", u"", 4713, u""}, {u"x", u"A", INT32_MIN, u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CodeText(c.in, c.mode, c.key), c.out);
    if (!c.out.empty()) { EXPECT_EQ(Encode(c.out, c.mode, c.key), c.in); }
  }
  // An unchanged unit still takes its draw: the letter after it shifts.
  EXPECT_EQ(CodeText(u" A", u"A", 4713)[1], CodeText(u"!A", u"A", 4713)[1]);
  EXPECT_NE(CodeText(u" A", u"A", 4713)[1], CodeText(u"A", u"A", 4713)[0]);
}

TEST(CodeText, EncodeUndoesDecodeOverEveryUnit) {
  std::u16string all(65536, u'\0');  // every block pair and the codable set at once
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<char16_t>(i);
  for (const char16_t* mode : {u"A", u"B"}) {
    EXPECT_EQ(CodeText(Encode(all, mode, 4713), mode, 4713), all);
    EXPECT_EQ(Encode(CodeText(all, mode, -77), mode, -77), all);
  }
}

}}  // namespace stub
