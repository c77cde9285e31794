#include "stubtool/stubtool.h"

#include <gtest/gtest.h>

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
  };
  for (const auto& args : bad) {
    const Result r = Tool(args);
    EXPECT_EQ(r.code, 2) << (args.empty() ? "" : args[0]);
    EXPECT_FALSE(r.err.empty());
    EXPECT_TRUE(r.out.empty());
  }
  for (const char* input : {"\xFF", "\xED\xA0\x80", "abc\xE4"}) {
    const Result r = Tool({"decode"}, input);
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("UTF-8"), std::string::npos);
  }
}

TEST(StubTool, HelpForEachCommand) {
  for (auto args : std::vector<std::vector<std::string>>{{"--help"}, {"decode", "--help"},
                                                         {"encode", "--help"}, {"md5", "--help"}}) {
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

}  // namespace
}  // namespace stub
