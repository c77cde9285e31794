// Release rules: matching, what a rules file is refused for, digests the
// server computes itself, and reloads that keep the old rules on error.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "base/text.h"
#include "codec/codec.h"
#include "codec/md5.h"
#include "net/exchange.h"
#include "server/release_rules.h"
#include "server/release_service.h"

namespace stub::server {
namespace {

namespace fs = std::filesystem;

class RulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/rules-test-XXXXXX";
    dir_ = mkdtemp(tmpl);
    files_ = dir_ + "/files";
    Write("files/a.exe", "installer a");
    Write("files/beta/b.exe", "installer b");
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& rel, const std::string& bytes) {
    const fs::path p = dir_ + "/" + rel;
    fs::create_directories(p.parent_path());
    // A new file each time, as a publisher's copy or an editor's save does.
    const fs::path tmp = p.string() + ".new";
    std::ofstream(tmp, std::ios::binary) << bytes;
    fs::rename(tmp, p);
    return p.string();
  }

  static std::string Md5Of(const std::string& bytes) {
    return Utf16ToUtf8Lossy(MD5Text(bytes.data(), bytes.size()));
  }

  bool Load(const std::string& toml, RuleSet& set, std::string& error) {
    DigestCache cache;
    return LoadRules(toml, "rules.toml", files_,
                     [&](const std::string& p) { return cache.Digest(p); }, set, error);
  }

  std::string dir_, files_;
};

QueryFields Request(const std::string& channel, const std::string& ver = "V3.1.1",
                    const std::string& os = "Win7", const std::string& bits = "64") {
  QueryFields f;
  f[3] = "vrx";
  f[5] = ver;
  f[6] = channel;
  f[9] = os;
  f[10] = bits;
  return f;
}

constexpr char kBase[] = "download_base = \"http://127.0.0.1:18471/\"\n";

TEST_F(RulesTest, FirstMatchingRuleWins) {
  RuleSet set;
  std::string error;
  ASSERT_TRUE(Load(std::string(kBase) + R"(
[[rule]]
name = "beta xp"
Channel = "beta"
OS = ["WinXP", "Win2003"]
file = "beta/b.exe"
[[rule]]
name = "beta"
Channel = "BETA"
SoftVer = "V3.1.1"
file = "beta/b.exe"
[[rule]]
name = "32-bit"
OSBit = "32"
url = "https://cdn.example.com/x86/setup.exe"
md5 = "0123456789ABCDEF0123456789ABCDEF"
[default]
file = "a.exe"
NameTitle = "Korvel安装"
)", set, error)) << error;
  const struct {
    QueryFields request;
    const char* rule;
  } cases[] = {
      {Request("beta", "V3.1.1", "winxp"), "beta xp"},  // case ignored, list member
      {Request("beta", "V3.1.1", "Win7"), "beta"},
      {Request("beta", "V3.2.0", "Win7"), "default"},   // SoftVer differs
      {Request("beta", "V3.2.0", "Win7", "32"), "32-bit"},
      {Request("wlpq"), "default"},
      {QueryFields{}, "default"},                       // nothing sent
  };
  for (const auto& c : cases) {
    const Rule* rule = MatchRule(set, c.request);
    ASSERT_NE(rule, nullptr);
    EXPECT_EQ(rule->name, c.rule) << c.request[6].value_or("-") << " " << c.request[9].value_or("-");
  }
  EXPECT_EQ(set.rules[2].release.md5, "0123456789abcdef0123456789abcdef");
  EXPECT_EQ(PlainReplyFor(set.rules[3].release, "ab"),
            "DownUrl==http://127.0.0.1:18471/a.exe<#>FileMD5==ab<#>NameTitle==Korvel安装");
}

TEST_F(RulesTest, BrokenRulesAreRefusedNamingRuleAndField) {
  const std::string served = "file = \"a.exe\"\n";
  const struct {
    std::string toml;
    const char* error;  // "" = accepted
  } cases[] = {
      {std::string(kBase) + "[default]\n" + served, ""},
      {std::string(kBase) + "[[rule]]\nChannel='x'\n" + served, "a [default] rule is required"},
      {"[default]\n" + served, "rule 'default': file needs download_base"},
      {"download_base = 'http://Dl.example.com/'\n[default]\n" + served, "download_base has upper-case"},
      {"download_base = 'ftp://dl/'\n[default]\n" + served, "download_base is not an http:// or https://"},
      {std::string(kBase) + "[default]\nfile = 'Setup.exe'\n", "rule 'default': file 'Setup.exe': the address has upper-case"},
      {std::string(kBase) + "[default]\nfile = 'missing.exe'\n", "is not a file under the files folder"},
      {std::string(kBase) + "[default]\nfile = '../rules.toml'\n", "is not a file under the files folder"},
      {std::string(kBase) + "[default]\nfile = 'a.exe'\nmd5 = '0123456789abcdef0123456789abcdef'\n",
       "rule 'default': file excludes url, md5 and md5_of"},
      {"[default]\nurl = 'https://cdn.example.com/s.exe'\n", "rule 'default': md5 or md5_of"},
      {"[default]\nurl = 'https://cdn.example.com/s.exe'\nmd5 = 'xyz'\n", "rule 'default': md5 is not 32 hexadecimal"},
      {"[default]\nurl = 'https://cdn.example.com/S.exe'\nmd5_of = 'x'\n", "rule 'default': url has upper-case"},
      {"[default]\nurl = 'file:///c:/s.exe'\nmd5_of = 'x'\n", "rule 'default': url is not an http:// or https://"},
      {"[default]\nurl = 'https:///s.exe'\nmd5_of = 'x'\n", "rule 'default': url names no host"},
      {"[default]\nurl = 'https://cdn.example.com/s.exe'\nmd5_of = 'nope.exe'\n", "rule 'default': md5_of 'nope.exe' cannot be read"},
      {std::string(kBase) + "[[rule]]\nname='b'\nChannel='b'\n" + served + "NameTitle = 'a<#>b'\n[default]\n" + served,
       "rule 'b': NameTitle holds \"<#>\""},
      {std::string(kBase) + "[default]\n" + served + "NISIVer = '3==1'\n", "rule 'default': NISIVer holds \"==\""},
      {std::string(kBase) + "[default]\n" + served + "NISITitle = \"a\\nb\"\n", "NISITitle holds a line break"},
      {std::string(kBase) + "[default]\n" + served + "NameTitle = 'a  b'\n", "NameTitle holds a run of spaces"},
      {std::string(kBase) + "[default]\n" + served + "NameTitle = ' a'\n", "NameTitle starts or ends with a space"},
      {std::string(kBase) + "[default]\n" + served + "SetupName = \"a\\tb\"\n", "SetupName holds a control character"},
      {std::string(kBase) + "[default]\n" + served + "SetupName = ''\n", "SetupName is empty"},
      {std::string(kBase) + "[default]\n" + served + "Title = 'x'\n", "rule 'default': Title is not a field"},
      {std::string(kBase) + "[default]\n" + served + "Channel = 'x'\n", "Channel cannot be tested by the default"},
      {std::string(kBase) + "[[rule]]\nChannel = 3\n" + served + "[default]\n" + served, "rule 'rule 1': Channel must be a text"},
      {std::string(kBase) + "[default]\n" + served + "NameTitle = 'a'\nNameTitle = 'b'\n", "rules.toml:5:"},
      {std::string(kBase) + "colour = 'red'\n[default]\n" + served, "'colour' is not a setting"},
  };
  for (const auto& c : cases) {
    RuleSet set;
    std::string error;
    const bool ok = Load(c.toml, set, error);
    if (*c.error == '\0') {
      EXPECT_TRUE(ok) << c.toml << "\n-> " << error;
    } else {
      EXPECT_FALSE(ok) << c.toml;
      EXPECT_NE(error.find(c.error), std::string::npos) << c.toml << "\n-> " << error;
    }
  }
}

TEST_F(RulesTest, ReplyFileIsTheSimplestRule) {
  const struct {
    std::string bytes;
    std::string plain;  // "!" = refused
  } cases[] = {
      {"DownUrl==http://h/a.exe<#>NameTitle==Korvel安装\n", "DownUrl==http://h/a.exe<#>NameTitle==Korvel安装"},
      {"\xEF\xBB\xBF" "NISITitle==a b\r\n", "NISITitle==a b"},
      {"DownUrl==<#>NameTitle==t", "DownUrl==<#>NameTitle==t"},  // empty value: meaningful
      {"DownUrl==h/a.exe", "!"},
      {"NameTitle==a\xFF", "!"},
  };
  for (const auto& c : cases) {
    RuleSet set;
    std::string error;
    const bool ok = LoadFixedReply(c.bytes, set, error);
    if (c.plain == "!") {
      EXPECT_FALSE(ok) << c.bytes;
      EXPECT_NE(error.find("rule '--reply'"), std::string::npos) << error;
    } else {
      EXPECT_TRUE(ok) << c.bytes << " -> " << error;
      EXPECT_EQ(set.fixed_reply, c.plain);
    }
  }
}

// The coded reply, decoded and parsed the way the stub does, gives the values.
TEST_F(RulesTest, ServedFileDigestFollowsTheFile) {
  const std::string rules = Write("rules.toml", std::string(kBase) + "[default]\nfile = 'a.exe'\nNISIVer = '3.1.1'\n");
  ReleaseService service(rules, false, files_);
  std::string error;
  ASSERT_TRUE(service.Load(&error)) << error;
  auto check = [&](const std::string& bytes) {
    const auto answer = service.AnswerFor(Request("wlpq"));
    RunState s;
    ParseNetInfo(s, CodeText(Utf8ToUtf16Lossy(answer.coded), u"A", kCodecKey));
    EXPECT_EQ(Utf16ToUtf8Lossy(s.DownUrl), "http://127.0.0.1:18471/a.exe");
    EXPECT_EQ(Utf16ToUtf8Lossy(s.FileMD5), Md5Of(bytes));
    EXPECT_EQ(Utf16ToUtf8Lossy(s.NISIVer), "3.1.1");
  };
  check("installer a");
  Write("files/a.exe", "installer a, second build");
  check("installer a, second build");
  // Rewritten in place with the same size.
  { std::ofstream(files_ + "/a.exe", std::ios::binary) << "installer a, third build!"; }
  check("installer a, third build!");
  fs::remove(files_ + "/a.exe");
  EXPECT_EQ(service.AnswerFor(Request("wlpq")).coded, "");  // no stale digest
}

TEST_F(RulesTest, ReloadKeepsTheOldRulesWhenTheNewFileIsBroken) {
  const std::string good = std::string(kBase) + "[default]\nfile = 'a.exe'\n";
  const std::string rules = Write("rules.toml", good);
  ReleaseService service(rules, false, files_);
  std::string error;
  ASSERT_TRUE(service.Load(&error)) << error;
  auto url = [&] {
    RunState s;
    ParseNetInfo(s, CodeText(Utf8ToUtf16Lossy(service.AnswerFor(Request("beta")).coded), u"A", kCodecKey));
    return Utf16ToUtf8Lossy(s.DownUrl);
  };
  EXPECT_EQ(url(), "http://127.0.0.1:18471/a.exe");
  const struct {
    std::string text;
    bool takes;
    const char* url;
  } steps[] = {
      {good + "NameTitle = 'x  y'\n", false, "http://127.0.0.1:18471/a.exe"},
      {"not toml at all [", false, "http://127.0.0.1:18471/a.exe"},
      {std::string(kBase) + "[[rule]]\nChannel='beta'\nfile='beta/b.exe'\n[default]\nfile='a.exe'\n", true,
       "http://127.0.0.1:18471/beta/b.exe"},
      {std::string(kBase) + "[default]\nfile = 'gone.exe'\n", false, "http://127.0.0.1:18471/beta/b.exe"},
  };
  for (const auto& step : steps) {
    Write("rules.toml", step.text);
    EXPECT_EQ(service.Reload(true, &error), step.takes) << step.text;
    EXPECT_EQ(url(), step.url) << step.text;
  }
  // A change is noticed without a signal, at the next request.
  Write("rules.toml", good);
  EXPECT_EQ(url(), "http://127.0.0.1:18471/a.exe");
  // ... or by the once-a-second look, which tries a changed file only once.
  Write("rules.toml", "[default]\n");
  service.Watch();
  EXPECT_TRUE(service.Reload(false, &error));
  EXPECT_FALSE(service.Reload(true, &error));
  EXPECT_EQ(url(), "http://127.0.0.1:18471/a.exe");
}

}  // namespace
}  // namespace stub::server
