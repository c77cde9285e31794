#include "stubtool/stubtool.h"
#include <gtest/gtest.h>
#include <fstream>
#include "base/text.h"
#include "codec/codec.h"
#include "temp_dir.h"

namespace stub { namespace {

struct Result { int code; std::string out, err; };
Result Tool(std::vector<std::string> args, const std::string& in = "") {
  Result r;
  return r.code = RunStubTool(args, in, r.out, r.err), r;
}
std::string Coded(const std::u16string& plain, const char16_t* mode = u"A", int32_t key = kCodecKey) {
  return Utf16ToUtf8Lossy(Encode(plain, mode, key));
}

TEST(StubTool, CommandsRepliesAndBadUsage) {
  EXPECT_EQ(Tool({"decode"}, Coded(u"DownUrl==x\n")).out, "DownUrl==x\n");
  EXPECT_EQ(Tool({"decode", "--mode", "B", "--key", "-77"}, Coded(u"安装", u"B", 77)).out, "安装");
  EXPECT_EQ(Tool({"decode"}, Tool({"encode"}, "Korvel安装").out).out, "Korvel安装");
  TempDir dir;
  std::ofstream(dir.path() / "a.bin", std::ios::binary) << "abc";
  std::ofstream(dir.path() / "big.bin", std::ios::binary) << std::string(70000, 'a');  // past one 64 KiB read
  std::ofstream(dir.path() / "empty.bin", std::ios::binary);
  const struct { const char *cmd, *file; std::string out; int code; } digests[] = {  // file "": the folder
      {"md5", "a.bin", "900150983cd24fb0d6963f7d28e17f72\n", 0},
      {"sha256", "a.bin", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\n", 0},
      {"sha256", "big.bin", "66915c0872933db504e7578828dd85b7e74a4e0a061f9756793b89c4151bd4b5\n", 0},
      {"sha256", "empty.bin", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\n", 0},
      {"md5", "nope", "\n", 1},
      {"sha256", "nope", "\n", 1},
      {"md5", "", "* ERR: CANNOT OPEN FILE\n", 1},
      {"sha256", "", "* ERR: CANNOT OPEN FILE\n", 1},
  };
  for (const auto& d : digests) {
    const Result r = Tool({d.cmd, (dir.path() / d.file).u8string()});
    EXPECT_EQ(std::make_pair(r.out, r.code), std::make_pair(d.out, d.code)) << d.cmd << " " << d.file;
  }
  const std::vector<std::vector<std::string>> bad = {  // bad usage and bad input exit with 2
      {}, {"frobnicate"}, {"decode", "--mode"}, {"decode", "--mode", "a"}, {"decode", "--key", "12x"},
      {"decode", "--key", "-2147483648"}, {"decode", "--key", "99999999999"}, {"md5", "a", "b"},
      {"sha256", "a\xE4"}, {"reply", "plain"}, {"decode"}, {"reply"},  // the last two: input not UTF-8
  };
  for (const auto& args : bad) {
    const Result r = Tool(args, args.size() == 1 && args[0] != "frobnicate" ? "abc\xE4" : "");
    EXPECT_TRUE(r.code == 2 && !r.err.empty() && r.out.empty()) << (args.empty() ? "" : args[0]);
  }
  EXPECT_TRUE(StubToolReadsInput({"reply", "--plain"}) && !StubToolReadsInput({"reply", "--help"}));
  const struct { std::u16string reply; std::string json; } replies[] = {  // the fields the reply sets
      {u"DownUrl==HTTP://Dl/A.exe<#>FileMD5==ABC<#>FileSHA256==AB", R"({"DownUrl":"http://dl/a.exe","FileMD5":"abc",)"
       R"("SetupName":null,"NameTitle":null,"NISITitle":null,"NISIVer":null,"FileSHA256":"ab"})"},
      {u"NameTitle==新\"标题\"\\<#>NISIVer==<#>NameVer==9<#>SetupName==a\tb\n",
       R"({"DownUrl":null,"FileMD5":null,"SetupName":"a\tb\n","NameTitle":"新\"标题\"\\","NISITitle":null,"NISIVer":"",)"
       R"("FileSHA256":null})"},
  };
  for (const auto& c : replies) {
    EXPECT_EQ(Tool({"reply"}, Coded(c.reply)).out, c.json + "\n");
    EXPECT_EQ(Tool({"reply", "--plain"}, Utf16ToUtf8Lossy(c.reply)).out, c.json + "\n");
  }
}

}}  // namespace stub
