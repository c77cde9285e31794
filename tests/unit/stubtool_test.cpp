#include "stubtool/stubtool.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "app/text.h"
#include "codec/codec.h"
#include "temp_dir.h"

namespace stub {
namespace {

struct Result {
  int code;
  std::string out, err;
};

Result Tool(std::vector<std::string> args, const std::string& in = "") {
  Result r;
  r.code = RunStubTool(args, in, r.out, r.err);
  return r;
}

std::string Coded(const std::u16string& plain, const char16_t* mode, int32_t key) {
  return Utf16ToUtf8Lossy(Encode(plain, mode, key));
}

TEST(StubTool, DecodeAndEncodeWithDefaultsAndOptions) {
  EXPECT_EQ(Tool({"decode"}, Coded(u"DownUrl==x\n", u"A", 4713)).out, "DownUrl==x\n");
  EXPECT_EQ(Tool({"decode", "--mode", "B", "--key", "-77"}, Coded(u"安装", u"B", 77)).out, "安装");
  const Result enc = Tool({"encode"}, "Korvel安装");
  EXPECT_EQ(enc.code, 0);
  EXPECT_EQ(Tool({"decode"}, enc.out).out, "Korvel安装");
  EXPECT_EQ(Tool({"decode"}, "").out, "");
}

TEST(StubTool, BadUsageAndBadInputExitWithTwo) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"frobnicate"},
      {"decode", "--mode"},
      {"decode", "--mode", "a"},
      {"decode", "--key", "12x"},
      {"decode", "--key", "-2147483648"},
      {"decode", "--key", "99999999999"},
      {"md5"},
      {"md5", "a", "b"},
      {"reply", "--coded"},
      {"reply", "plain"},
  };
  for (const auto& args : bad) {
    const Result r = Tool(args);
    EXPECT_EQ(r.code, 2) << (args.empty() ? "" : args[0]);
    EXPECT_FALSE(r.err.empty());
    EXPECT_TRUE(r.out.empty());
  }
  for (const char* input : {"\xFF", "\xED\xA0\x80", "abc\xE4"}) {
    for (const char* cmd : {"decode", "reply"}) {
      const Result r = Tool({cmd}, input);
      EXPECT_EQ(r.code, 2);
      EXPECT_NE(r.err.find("UTF-8"), std::string::npos);
      EXPECT_TRUE(r.out.empty());
    }
  }
}

TEST(StubTool, HelpForEachCommand) {
  for (auto args : std::vector<std::vector<std::string>>{{"--help"}, {"decode", "--help"},
                                                         {"encode", "--help"}, {"md5", "--help"},
                                                         {"reply", "--help"}}) {
    const Result r = Tool(args);
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("usage: stubtool"), std::string::npos);
  }
}

TEST(StubTool, Md5PrintsTheDigestTextAndANewline) {
  TempDir dir;
  const auto file = dir.path() / "a.bin";
  std::ofstream(file, std::ios::binary) << "abc";
  EXPECT_EQ(Tool({"md5", file.u8string()}).out, "900150983cd24fb0d6963f7d28e17f72\n");
  const Result missing = Tool({"md5", (dir.path() / "nope").u8string()});
  EXPECT_EQ(missing.out, "\n");
  EXPECT_EQ(missing.code, 1);
  EXPECT_EQ(Tool({"md5", dir.path().u8string()}).out, "* ERR: CANNOT OPEN FILE\n");
}

TEST(StubTool, UsageNamesEveryCommand) {
  const std::string usage = Tool({"--help"}).out;
  for (const char* cmd : {"decode", "encode", "md5", "reply"})
    EXPECT_NE(usage.find(std::string("  ") + cmd + " "), std::string::npos) << cmd;
  EXPECT_TRUE(StubToolReadsInput({"reply"}));
  EXPECT_TRUE(StubToolReadsInput({"reply", "--plain"}));
  EXPECT_FALSE(StubToolReadsInput({"reply", "--help"}));
}

TEST(StubTool, ReplyPrintsTheFieldsTheReplySets) {
  const struct {
    std::u16string reply;
    std::string json;
  } cases[] = {
      {u"DownUrl==HTTP://Dl/A.exe<#>FileMD5==ABC",
       R"({"DownUrl":"http://dl/a.exe","FileMD5":"abc","SetupName":null,"NameTitle":null,)"
       R"("NISITitle":null,"NISIVer":null})"},
      {u"NameTitle==新\"标题\"\\<#>NISIVer==<#>NameVer==9<#>SetupName==a\tb\n",
       R"({"DownUrl":null,"FileMD5":null,"SetupName":"a\tb\n","NameTitle":"新\"标题\"\\",)"
       R"("NISITitle":null,"NISIVer":""})"},
      {u"NISITitle==x NISIVer==y", R"({"DownUrl":null,"FileMD5":null,"SetupName":null,)"
                                   R"("NameTitle":null,"NISITitle":"x nisiver","NISIVer":"x nisiver"})"},
      {u"", R"({"DownUrl":null,"FileMD5":null,"SetupName":null,"NameTitle":null,)"
            R"("NISITitle":null,"NISIVer":null})"},
  };
  for (const auto& c : cases) {
    const Result coded = Tool({"reply"}, Coded(c.reply, u"A", kCodecKey));
    EXPECT_EQ(coded.code, 0);
    EXPECT_EQ(coded.out, c.json + "\n");
    const Result plain = Tool({"reply", "--plain"}, Utf16ToUtf8Lossy(c.reply));
    EXPECT_EQ(plain.code, 0);
    EXPECT_EQ(plain.out, c.json + "\n");
  }
}

TEST(StubTool, ReplyEscapesEveryControlCharacter) {
  std::string reply = "DownUrl==";
  for (char c = 1; c < 0x20; ++c) reply.push_back(c);
  reply += "\x7F\xC3\xA9\xF0\x9F\x98\x80";
  const Result r = Tool({"reply", "--plain"}, reply);
  std::string expected;
  for (int c = 1; c < 0x20; ++c) {
    const char* brief = c == '\b' ? "\\b" : c == '\t' ? "\\t" : c == '\n' ? "\\n"
                      : c == '\f' ? "\\f" : c == '\r' ? "\\r" : nullptr;
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\u%04x", c);
    expected += brief ? brief : buf;
  }
  const std::string begin = R"({"DownUrl":")";
  ASSERT_EQ(r.out.substr(0, begin.size()), begin);
  EXPECT_EQ(r.out.substr(begin.size(), expected.size()), expected);
  EXPECT_NE(r.out.find("\x7F\xC3\xA9\xF0\x9F\x98\x80\","), std::string::npos);  // raw UTF-8
}

}  // namespace
}  // namespace stub
