#include "codec/codec.h"

#include <gtest/gtest.h>

#include <random>

namespace stub {
namespace {

TEST(Rnd, GeneratorCheckValues) {
  Rnd fresh;
  EXPECT_FLOAT_EQ(fresh.Next(), 0.7055475f);
  EXPECT_FLOAT_EQ(fresh.Next(), 0.533424f);
  EXPECT_FLOAT_EQ(fresh.Next(), 0.5795186f);
  EXPECT_FLOAT_EQ(fresh.Last(), 0.5795186f);  // called with 0: no advance

  EXPECT_FLOAT_EQ(Rnd().Reseed(-1.0f), 0.224007f);

  Rnd keyed;
  keyed.Reseed(-4713.0f);
  EXPECT_FLOAT_EQ(keyed.Next(), 0.72322696f);
  EXPECT_FLOAT_EQ(keyed.Next(), 0.32242668f);
  EXPECT_FLOAT_EQ(keyed.Next(), 0.93638760f);
}

// Known answers from an independent implementation of the same rules.
struct Vector {
  std::u16string in;
  const char16_t* mode;
  int32_t key;
  std::u16string out;  // CodeText(in)
};

TEST(CodeText, KnownAnswers) {
  const Vector vectors[] = {
      {u"DownUrl==http://a/b.exe", u"A", 4713,
       u"\x4e7a\x4e64\x4e71\x4e6e\x4e11\x4e75\x4e7a\x4e32\x4e79\x4e7e\x4e61\x4e6e"
       u"\x4e2f\x4e32\x4e56\x4e32\x4e1a\x4e31\x4e20\x4e20\x4e1c\x4e1e\x4e65"},
      {u"Korvel安装", u"A", 4713, u"\x4e73\x4e64\x4e6a\x4e76\x4e61\x4e73\x8cb7\x57e2"},
      {u"Korvel安装", u"B", -99, u"\x7ff3\x7fd7\x7fa7\x7fb3\x7fdb\x7fa3\x8e76\x55ae"},
      // Key 8 draws exactly 100 first, the largest value the draw accepts.
      {u"#", u"A", 8, u"\x4e64"},
      // Units outside every block and the codable set pass unchanged.
      {u" !\"\x7f\x7fff", u"A", 1, u" !\"\x7f\x7fff"},
  };
  for (const auto& v : vectors) {
    EXPECT_EQ(CodeText(v.in, v.mode, v.key), v.out);
    EXPECT_EQ(Encode(v.out, v.mode, v.key), v.in);
  }
}

TEST(CodeText, ModeAndKeyRules) {
  const std::u16string text = u"DownUrl==x<#>FileMD5==y";
  for (const char16_t* bad : {u"a", u"b", u"C", u"", u"AB"}) EXPECT_EQ(CodeText(text, bad, 4713), u"");
  EXPECT_EQ(CodeText(u"", u"A", 4713), u"");
  EXPECT_EQ(CodeText(text, u"A", 4713), CodeText(text, u"A", -4713));
  EXPECT_EQ(CodeText(text, u"B", 7), CodeText(text, u"B", 7));  // no state between calls
  EXPECT_EQ(CodeText(text, u"A", INT32_MIN), u"");
  EXPECT_NE(CodeText(text, u"A", 1), CodeText(text, u"A", 2));
}

TEST(CodeText, AsciiLettersLandInTheModesBlocks) {
  for (char16_t c = u'A'; c <= u'z'; ++c) {
    const std::u16string one(1, c);
    const char16_t a = CodeText(one, u"A", 4713)[0];
    const char16_t b = CodeText(one, u"B", 4713)[0];
    EXPECT_TRUE(a >= 0x4E00 && a <= 0x4E7F) << int(c);
    EXPECT_TRUE(b >= 0x7F80 && b <= 0x7FFE) << int(c);
  }
}

TEST(CodeText, UnchangedUnitsStillTakeTheirDraw) {
  // A space before a letter must not shift the letter's draw.
  const std::u16string withSpace = CodeText(u" A", u"A", 4713);
  const std::u16string withBang = CodeText(u"!A", u"A", 4713);
  EXPECT_EQ(withSpace[1], withBang[1]);
  EXPECT_NE(withSpace[1], CodeText(u"A", u"A", 4713)[0]);
}

TEST(CodeText, RoundTripsOverRandomTexts) {
  std::mt19937 rng(12345);
  for (int i = 0; i < 400; ++i) {
    std::u16string text(rng() % 64, u'\0');
    for (auto& c : text) c = static_cast<char16_t>(rng() & 0xFFFF);  // any unit, surrogates too
    const int32_t key = static_cast<int32_t>(rng() % 200000) - 100000;
    for (const char16_t* mode : {u"A", u"B"}) {
      const std::u16string coded = Encode(text, mode, key);
      ASSERT_EQ(coded.size(), text.size());
      ASSERT_EQ(CodeText(coded, mode, key), text);
      ASSERT_EQ(CodeText(text, mode, key).size(), text.size());
    }
  }
}

TEST(CodeText, SwapTablesAreInvolutionsOverEveryUnit) {
  // Decoding with key k of an encoding with key k is the identity for all
  // 65536 units, which checks every block pair and the codable set at once.
  std::u16string all(65536, u'\0');
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<char16_t>(i);
  for (const char16_t* mode : {u"A", u"B"}) EXPECT_EQ(CodeText(Encode(all, mode, 4713), mode, 4713), all);
}

}  // namespace
}  // namespace stub
