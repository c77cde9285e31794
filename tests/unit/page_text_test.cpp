#include "net/page_text.h"

#include <gtest/gtest.h>

#include <random>

#include "app/text.h"

namespace stub {
namespace {

std::string Show(std::u16string_view s) { return Utf16ToUtf8Lossy(s); }

// Stands in for the platform's code pages: knows a few names, turns the GBK
// bytes B0 B2 into 安 and every other byte into its Latin-1 character.
std::vector<std::string> g_calls;
bool FakeDecoder(std::string_view charset, std::string_view bytes, std::u16string& out) {
  g_calls.emplace_back(charset);
  if (charset != "" && charset != "gbk" && charset != "gb2312" && charset != "big5") return false;
  out.clear();
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes.substr(i, 2) == "\xB0\xB2") {
      out.push_back(u'安');
      ++i;
    } else {
      out.push_back(static_cast<unsigned char>(bytes[i]));
    }
  }
  return true;
}

struct Case {
  const char* type;
  std::string body;
  std::u16string text;
};

template <size_t N>
void CheckAll(const Case (&cases)[N], CharsetDecoder decoder = FakeDecoder) {
  for (const Case& c : cases)
    EXPECT_EQ(VisibleText(c.type, c.body, decoder), c.text)
        << "type '" << c.type << "' body '" << c.body << "' got '"
        << Show(VisibleText(c.type, c.body, decoder)) << "'";
}

TEST(VisibleText, PlainTextIsTheBodyAsItIs) {
  const Case cases[] = {
      {"text/plain", "DownUrl==x\r\n  y  ", u"DownUrl==x\r\n  y  "},
      {"text/plain", "<p>a &amp; b</p>", u"<p>a &amp; b</p>"},
      {"TEXT/PLAIN; charset=utf-8", "\xE5\xAE\x89\xE8\xA3\x85", u"安装"},
      {"", "just words &amp; <no markup>", u"just words &amp; <no markup>"},
      {"application/octet-stream", "<p>x</p>", u"<p>x</p>"},
      {"text/plain", "", u""},
  };
  CheckAll(cases);
}

TEST(VisibleText, HtmlShowsOnlyTheTextAReaderSees) {
  const Case cases[] = {
      {"text/html",
       "<!DOCTYPE html><html><head><title>T</title><style>p{color:red}</style>"
       "<script>var s = '<b>x</b>';</script></head><body><p>Hello</p><p>World</p></body></html>",
       u"Hello World"},
      {"text/html", "a<!-- hidden <b>x</b> -->b<!---->c<!-->d", u"abcd"},
      {"text/html", "<b>Down</b>Url==<i>x</i>", u"DownUrl==x"},    // inline tags join
      {"text/html", "a<br>b<div>c</div>d", u"a b c d"},             // breaks separate
      {"text/html", "  a \r\n\t b  \n", u"a b"},
      {"text/html", "<body>DownUrl==x<#>FileMD5==y</body>", u"DownUrl==x<#>FileMD5==y"},
      {"text/html", "<a title=\"x>y\" alt='>'>z</a>", u"z"},
      {"text/html", "a<SCRIPT type=x>b</script\n>c<style>d</STYLE>e", u"ace"},
      {"text/html", "a<script>b</scripts>c</script>d", u"ad"},
      {"text/html", "a<script>never closed", u"a"},
      {"text/html", "a<div", u"a"},
      {"text/html", "x < y and a<1", u"x < y and a<1"},
      {"text/html", "a</>b<?php x ?>c</ 3>d", u"abcd"},
      // <head> contents are dropped; the head ends where the body begins.
      {"text/html", "<head><title>T</title><meta charset=utf-8></head><body>B</body>", u"B"},
      {"text/html", "<html><head><title>T</title><body>B", u"B"},
      {"text/html", "<head><link rel=x>Text<title>t</title>", u"Text"},
      {"text/html", "<head></head>B<head>C</head>", u"BC"},
      {"", "\xEF\xBB\xBF \r\n<p>a &amp; b</p>", u"a & b"},  // no type, starts with markup
      {"", "<html><body>x</body></html>", u"x"},
      {"application/xhtml+xml", "<p>x</p>", u"x"},
      {"text/html", "", u""},
  };
  CheckAll(cases);
}

TEST(VisibleText, CharacterReferences) {
  const Case cases[] = {
      {"text/html", "&amp;&lt;&gt;&quot;&apos;", u"&<>\"'"},
      {"text/html", "a&nbsp;&nbsp;b", u"a\u00A0\u00A0b"},
      {"text/html", "&#65;&#x42;&#X43;&#0068;&#69", u"ABCDE"},
      {"text/html", "&#x5B89;&#23433;&#x1F600;", u"安安\U0001F600"},
      {"text/html", "&#0;&#x110000;&#xD800;&#99999999999999999999;", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"text/html", "&bogus; &amp &#; &#x; & x", u"&bogus; &amp &#; &#x; & x"},
      {"text/html", "&lt;#&gt;", u"<#>"},
      {"text/html", "a&#10;&#32;b", u"a b"},  // references to whitespace collapse too
  };
  CheckAll(cases);
}

TEST(VisibleText, CharacterSet) {
  const Case cases[] = {
      // From the header.
      {"text/html; charset=GBK", "<p>\xB0\xB2</p>", u"安"},
      {"text/plain; charset=\"ISO-8859-1\"", "caf\xE9", u"café"},
      {"text/plain; charset=us-ascii", "a\xE9", u"a\u00E9"},
      {"text/plain;charset=utf-8", "bad\xFF", u"bad\uFFFD"},
      {"text/plain; charset=utf-16le", std::string("a\0\x89\x5B", 4), u"a安"},
      {"text/plain; charset=utf-16be", std::string("\0a\x5B\x89", 4), u"a安"},
      // From a <meta> near the start of the page.
      {"text/html", "<meta charset='gb2312'><p>\xB0\xB2</p>", u"安"},
      {"text/html",
       "<head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=big5\"></head>"
       "\xB0\xB2",
       u"安"},
      {"", "<META CHARSET=GBK>\xB0\xB2", u"安"},
      // The header wins over the page.
      {"text/html; charset=iso-8859-1", "<meta charset=gbk>\xB0\xB2", u"\u00B0\u00B2"},
      // No declaration: UTF-8 when valid, else the ANSI code page.
      {"text/html", "<p>\xE5\xAE\x89</p>", u"安"},
      {"text/html", "<p>\xB0\xB2</p>", u"安"},
      {"text/plain", "\xB0\xB2", u"安"},
      // A name nobody knows: the same fallback.
      {"text/plain; charset=x-unknown", "\xE5\xAE\x89", u"安"},
      {"text/plain; charset=x-unknown", "\xB0\xB2", u"安"},
      // Byte-order marks decide first.
      {"text/plain; charset=gbk", "\xEF\xBB\xBF\xE5\xAE\x89", u"安"},
      {"", std::string("\xFF\xFE<\0p\0>\0a\0", 10), u"a"},
      {"text/plain", std::string("\xFE\xFF\0a", 4), u"a"},
  };
  CheckAll(cases);
}

TEST(VisibleText, DecoderIsAskedWithTheLowerCaseNameOrEmptyForAnsi) {
  g_calls.clear();
  VisibleText("text/html; charset=\" GBK \"", "x", FakeDecoder);
  VisibleText("text/plain", "\xB0\xB2", FakeDecoder);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"gbk", ""}));
}

TEST(VisibleText, MetaIsOnlyLookedForNearTheStart) {
  const std::string late = "<p>" + std::string(1100, 'x') + "</p><meta charset=gbk>\xB0\xB2";
  const std::u16string text = VisibleText("text/html", late, FakeDecoder);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), u'安');  // through the ANSI fallback, not the meta
  g_calls.clear();
  VisibleText("text/html", late, FakeDecoder);
  EXPECT_EQ(g_calls, std::vector<std::string>{""});
}

TEST(VisibleText, WithoutDecoderAnsiIsLatin1) {
  const Case cases[] = {
      {"text/plain", "\xB0\xB2", u"\u00B0\u00B2"},
      {"text/plain; charset=gbk", "\xE5\xAE\x89", u"安"},  // unknown here: UTF-8 when valid
      {"text/plain; charset=gbk", "\xB0\xB2", u"\u00B0\u00B2"},
  };
  CheckAll(cases, nullptr);
}

TEST(VisibleText, BodyIsCutToTheBound) {
  std::string body(kMaxPageBytes, 'a');
  body += "T";  // one byte past the bound is cut
  EXPECT_EQ(VisibleText("text/plain", body, nullptr).size(), kMaxPageBytes);
  // A UTF-8 character cut in half at the bound does not make the page ANSI.
  std::string utf8(kMaxPageBytes - 1, 'a');
  utf8 += "\xE5\xAE\x89";
  g_calls.clear();
  const std::u16string text = VisibleText("text/plain", utf8, FakeDecoder);
  EXPECT_TRUE(g_calls.empty());
  EXPECT_EQ(text.size(), kMaxPageBytes - 1);
  EXPECT_EQ(text.back(), u'a');
}

TEST(VisibleText, AnyBytesNeverCrash) {
  std::mt19937 rng(4713);
  const char* types[] = {"", "text/html", "text/plain", "text/html; charset=gbk",
                         "text/html; charset=utf-16", "text/html; charset=\"", ";;;=",
                         "text/html; charset"};
  const std::string alphabet = "<>/!-&#;x0123456789abcdefABCDEF\"'= \r\n\t?scriptheadstylemeta";
  for (int round = 0; round < 3000; ++round) {
    std::string body(rng() % 300, '\0');
    const bool markup = round % 2;
    for (char& c : body)
      c = markup ? alphabet[rng() % alphabet.size()] : static_cast<char>(rng() & 0xFF);
    if (round % 7 == 0) body.insert(0, round % 14 ? "\xFF\xFE" : "\xEF\xBB\xBF");
    for (const char* type : {types[round % 8], ""}) {
      for (CharsetDecoder d : {CharsetDecoder{FakeDecoder}, CharsetDecoder{nullptr}}) {
        const std::u16string text = PageText(type, body, d);
        EXPECT_LE(text.size(), body.size() * 2 + 2);
      }
    }
  }
}

TEST(RemovePageTags, OnlyTheTwelveExactTags) {
  const struct {
    std::u16string in, out;
  } cases[] = {
      {u"<html>word</html>", u"word"},
      {u"<HTML><HEAD></HEAD><BODY>w</BODY></HTML>", u"w"},
      {u"<html><head></head><body>w</body></html>", u"w"},
      {u"<Html>word</Html>", u"<Html>word</Html>"},
      {u"<html >x<BODY/>", u"<html >x<BODY/>"},
      {u"<htm<html>l>", u"<html>"},  // one pass per tag: a tag formed by removal stays
      {u"<title>t</title><p>", u"<title>t</title><p>"},
      {u"", u""},
  };
  for (const auto& c : cases) EXPECT_EQ(RemovePageTags(c.in), c.out) << Show(c.in);
}

TEST(PageText, PlainBodyWithPageTagsGivesTheWordAlone) {
  EXPECT_EQ(PageText("text/plain", "<html>word</html>", nullptr), u"word");
  EXPECT_EQ(PageText("text/plain", "<Html>word</Html>", nullptr), u"<Html>word</Html>");
  EXPECT_EQ(PageText("text/html", "<html><body> coded </body></html>", nullptr), u"coded");
  EXPECT_EQ(PageText("text/html", "&lt;html&gt;w&lt;/html&gt;", nullptr), u"w");
}

}  // namespace
}  // namespace stub
