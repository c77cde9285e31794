#include "net/page_text.h"
#include <gtest/gtest.h>
#include "base/text.h"

namespace stub { namespace {

// Stands in for the platform's code pages: knows a few names, turns GBK B0 B2 into 安, other bytes into Latin-1.
std::vector<std::string> g_calls;
bool FakeDecoder(std::string_view charset, std::string_view bytes, std::u16string& out) {
  g_calls.emplace_back(charset);
  if (charset != "" && charset != "gbk" && charset != "big5") return false;
  out.clear();
  for (size_t i = 0; i < bytes.size(); ++i) {
    const bool gbk = bytes.substr(i, 2) == "\xB0\xB2";
    out.push_back(gbk ? u'安' : static_cast<unsigned char>(bytes[i])), i += gbk;
  }
  return true;
}

TEST(VisibleText, TypesMarkupReferencesAndCharacterSets) {
  const struct { const char* type; std::string body; std::u16string text; } cases[] = {
      {"text/plain", "<p>a &amp; b</p>\r\n ", u"<p>a &amp; b</p>\r\n "},  // plain text as it is
      {"text/html", "<!DOCTYPE html><html><head><title>T</title><style>p{color:red}</style><script>var s = '<b>x</b>';"
                    "</script></head><body><p>Hello</p><p>World</p></body></html>", u"Hello World"},
      {"text/html", "a<!-- hidden <b>x</b> -->b<!---->c<!-->d", u"abcd"},
      {"text/html", "<b>Down</b>Url==<i>x</i> a<br>b", u"DownUrl==x a b"},  // inline tags join
      {"text/html", "  a \r\n\t\f b  \n", u"a b"}, {"application/xhtml+xml", "<p>x</p>", u"x"},
      {"text/html", "<body>DownUrl==x<#>FileMD5==y</body>", u"DownUrl==x<#>FileMD5==y"},
      {"text/html", "a<SCRIPT type=x>b</script\n>c<style>d</STYLE>e<script>b</scripts>f", u"ace"},
      {"text/html", "x < y and a<1 a<div", u"x < y and a<1 a"}, {"text/html", "a</>b<?php x ?>c</ 3>d", u"abcd"},
      {"text/html", "<a title=\"x>y\" alt='>'>z</a>", u"z"}, {"text/html", "a&#10;&#32;b", u"a b"},  // spaces too
      {"text/html", "<html><head><title>T</title><body>B", u"B"},  // the head ends where the body begins
      {"", "\xEF\xBB\xBF \r\n<p>a &amp; b</p>", u"a & b"},  // no type, starts with markup
      {"text/html", "&amp;&lt;&gt;&quot;&apos;&nbsp;", u"&<>\"'\u00A0"},
      {"text/html", "&#65;&#x42;&#X43;&#0068;&#69 &#x1F600;", u"ABCDE \U0001F600"},
      {"text/html", "&#0;&#x110000;&#xD800;&#xDFFF;&#99999999999999999999;", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"text/html", "&bogus; &amp &#; &#x; & x", u"&bogus; &amp &#; &#x; & x"},
      // The character set from the header, then a <meta> near the start; the header wins.
      {"text/html; charset=GBK", "<p>\xB0\xB2</p>", u"安"}, {"text/plain;charset=utf-8", "bad\xFF", u"bad\uFFFD"},
      {"text/plain; charset=\"ISO-8859-1\"", "caf\xE9", u"café"},
      {"text/plain; charset=utf-16le", std::string("a\0\x89\x5B", 4), u"a安"},
      {"text/plain; charset=utf-16be", std::string("\0a\x5B\x89", 4), u"a安"},
      {"text/html", "<head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=big5\"></head>\xB0\xB2", u"安"},
      {"", "<META CHARSET=GBK>\xB0\xB2", u"安"}, {"", "just words &amp; <no markup>", u"just words &amp; <no markup>"},
      {"text/html; charset=iso-8859-1", "<meta charset=gbk>\xB0\xB2", u"\u00B0\u00B2"},
      // No or an unknown declaration: UTF-8 when valid, else ANSI.
      {"text/html", "<p>\xE5\xAE\x89</p>", u"安"}, {"text/plain; charset=x-unknown", "\xB0\xB2", u"安"},
      {"text/plain; charset=gbk", "\xEF\xBB\xBF\xE5\xAE\x89", u"安"},  // byte-order marks decide first
      {"", std::string("\xFF\xFE<\0p\0>\0a\0", 10), u"a"}, {"text/plain", std::string("\xFE\xFF\0a", 4), u"a"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(VisibleText(c.type, c.body, FakeDecoder), c.text) << "type '" << c.type << "' body '" << c.body << "'";
  EXPECT_EQ(VisibleText("text/plain; charset=gbk", "\xB0\xB2", nullptr), u"\u00B0\u00B2");  // no decoder: Latin-1
}

TEST(VisibleText, DecoderNamesBoundAndPageTags) {  // the decoder is asked with the lower-case name or "" for ANSI
  g_calls.clear();
  VisibleText("text/html; charset=\" GBK \"", "x", FakeDecoder), VisibleText("text/plain", "\xB0\xB2", FakeDecoder);
  const std::string late = "<p>" + std::string(1100, 'x') + "</p><meta charset=gbk>\xB0\xB2";
  EXPECT_EQ(VisibleText("text/html", late, FakeDecoder).back(), u'安');  // a <meta> past the first KiB is ignored
  EXPECT_EQ(g_calls, (std::vector<std::string>{"gbk", "", ""}));
  constexpr size_t kMiB = 1048576;  // a page's body is read up to 1 MiB
  std::string body(kMiB, 'a');
  EXPECT_EQ(VisibleText("text/plain", body + "T", nullptr).size(), kMiB);
  body.replace(kMiB - 1, 1, "\xE5\xAE\x89"), g_calls.clear();  // half a character at the bound: still UTF-8
  EXPECT_TRUE(VisibleText("text/plain", body, FakeDecoder) == std::u16string(kMiB - 1, u'a') && g_calls.empty());
  // Only the twelve exact page tags are removed, one pass per tag: a tag formed by removal stays.
  const struct { std::u16string in, out; } cases[] = {
      {u"<HTML><HEAD></HEAD><BODY>w</BODY></HTML>", u"w"}, {u"<html><head></head><body>w</body></html>", u"w"},
      {u"<Html>word</Html><html >x<BODY/>", u"<Html>word</Html><html >x<BODY/>"}, {u"<htm<html>l>", u"<html>"},
  };
  for (const auto& c : cases) EXPECT_EQ(RemovePageTags(c.in), c.out) << Utf16ToUtf8Lossy(c.in);
}

}}  // namespace stub
