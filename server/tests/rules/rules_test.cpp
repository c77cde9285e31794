// Release rules: matching, refusals naming rule and field, reloads, the digests replies announce, "check".
#include "base/text.h"
#include "codec/codec.h"
#include "codec/md5.h"
#include "net/exchange.h"
#include "server/rules/release_rules.h"
#include "server/rules/release_service.h"
#include "server/rules/rules_check.h"
#include "test_server.h"

namespace stub::server::testing { namespace {

QueryFields Request(const std::string& channel, const std::string& ver = "V3.1.1", const std::string& os = "Win7",
                    const std::string& bits = "64") {
  QueryFields f;
  return f[5] = ver, f[6] = channel, f[9] = os, f[10] = bits, f;
}

const std::string kBase = "download_base = \"http://127.0.0.1:18471/\"\n";

class RulesTest : public ::testing::Test {
 protected:
  void SetUp() override { WriteFile(files_ + "/a.exe", "installer a"), WriteFile(files_ + "/beta/b.exe", "b"); }
  bool Load(const std::string& toml, bool tls = false) {
    DigestCache cache;
    set_ = {}, error_.clear();
    const auto digest = [&](const std::string& p) { return cache.Digest(p); };
    return LoadRules(toml, "rules.toml", files_, digest, set_, error_, tls);
  }
  TempDir tmp_;
  std::string dir_ = tmp_.path(), files_ = dir_ + "/files", error_;
  RuleSet set_;
};

TEST_F(RulesTest, FirstMatchingRuleWins) {
  ASSERT_TRUE(Load(kBase +
                       "[[rule]]\nname = 'beta xp'\nChannel = 'beta'\nOS = ['WinXP', 'Win2003']\nfile = 'beta/b.exe'\n"
                       "[[rule]]\nname = 'beta'\nChannel = 'BETA'\nSoftVer = 'V3.1.1'\nfile = 'beta/b.exe'\n"
                       "[[rule]]\nname = '32-bit'\nOSBit = '32'\nfile = 'a.exe'\n"
                       "[default]\nfile = 'a.exe'\nNameTitle = 'Korvel安装'\n"))
      << error_;
  const std::pair<QueryFields, const char*> cases[] = {  // request, the rule it gets
      {Request("beta", "V3.1.1", "winxp"), "beta xp"},  // case ignored, list member
      {Request("beta", "V3.1.1", "Win7"), "beta"},
      {Request("beta", "V3.2.0", "Win7"), "default"},
      {Request("beta", "V3.2.0", "Win7", "32"), "32-bit"},
      {QueryFields{}, "default"},
  };
  for (const auto& [request, name] : cases) {
    const Rule* rule = MatchRule(set_, request);
    EXPECT_EQ(rule ? rule->name : "<none>", name) << request[5].value_or("-") << " " << request[9].value_or("-");
  }
  EXPECT_EQ(PlainReplyFor(set_.rules[3].release, {"ab", "cd"}),
            "DownUrl==http://127.0.0.1:18471/a.exe<#>FileMD5==ab<#>FileSHA256==cd<#>NameTitle==Korvel安装");
}

TEST_F(RulesTest, BrokenRulesAreRefusedNamingRuleAndField) {
  const std::string def = kBase + "[default]\nfile = 'a.exe'\n";
  const std::string url = "[default]\nurl = 'https://c.example.com/s.exe'\n";
  const std::string kMd5 = "md5 = '0123456789abcdef0123456789abcdef'\n";
  const std::string plain = "[default]\nurl = 'http://c.example.com/s.exe'\n" + kMd5, tlsBase = "download_base = 'https://dl/'\n";
  const struct { std::string toml; const char* says; bool tls = false; } cases[] = {  // the error ("" = accepted), over TLS
      {def, ""},
      {kBase + "[[rule]]\nChannel='x'\nfile = 'a.exe'\n", "a [default] rule is required"},
      {"[default]\nfile = 'a.exe'\n", "rule 'default': file needs download_base"},
      {kBase + "[default]\nfile = 'Setup.exe'\n", "rule 'default': file 'Setup.exe': the address has upper-case"},
      {kBase + "[default]\nfile = '../rules.toml'\n", "is not a file under the files folder"},
      {def + kMd5, "rule 'default': file excludes url, md5, md5_of and sha256"},
      {url, "rule 'default': md5 or md5_of"},
      {url + "md5 = '0123456789abcdef0123456789abcde'\n", "rule 'default': md5 is not 32 hexadecimal"},
      {url + kMd5 + "sha256 = '" + std::string(63, 'a') + "'\n", "rule 'default': sha256 is not 64 hexadecimal"},
      {url + kMd5 + "sha256 = '" + std::string(65, 'a') + "'\n", "rule 'default': sha256 is not 64 hexadecimal"},
      {url + kMd5 + "sha256 = '" + std::string(63, 'a') + "g'\n", "rule 'default': sha256 is not 64 hexadecimal"},
      {url + "md5_of = 'x'\nsha256 = '" + std::string(64, 'a') + "'\n", "rule 'default': sha256 excludes md5_of"},
      {def + "sha256 = '" + std::string(64, 'a') + "'\n", "rule 'default': file excludes url, md5, md5_of and sha256"},
      {"download_base = 'ftp://dl/'\n[default]\nfile = 'a.exe'\n", "download_base is not an http:// or https://"},
      {"[default]\nurl = 'https:///s.exe'\nmd5_of = 'x'\n", "rule 'default': url names no host"},
      {url + "md5_of = 'nope.exe'\n", "rule 'default': md5_of 'nope.exe' cannot be read"},
      {def + "NameTitle = 'a<#>b'\n", "rule 'default': NameTitle holds \"<#>\""},
      {def + "NISIVer = '3==1'\n", "rule 'default': NISIVer holds \"==\""},
      {def + "NISITitle = \"a\\nb\"\n", "NISITitle holds a line break"},
      {def + "NameTitle = 'a  b'\n", "NameTitle holds a run of spaces"},
      {def + "NameTitle = ' a'\n", "NameTitle starts or ends with a space"},
      {def + "SetupName = \"a\\tb\"\n", "SetupName holds a control character"},
      {def + "SetupName = ''\n", "SetupName is empty"},
      {def + "Title = 'x'\n", "rule 'default': Title is not a field"},
      {def + "Channel = 'x'\n", "Channel cannot be tested by the default"},
      {kBase + "[[rule]]\nChannel = 3\n" + def.substr(kBase.size()), "rule 'rule 1': Channel must be a text"},
      {def + "NameTitle = 'a'\nNameTitle = 'b'\n", "rules.toml:5:"},
      {"colour = 'red'\n" + def, "'colour' is not a setting"},
      {plain, ""}, {tlsBase + "[default]\nfile = 'a.exe'\n", "", true}, {url + kMd5, "", true},
      {tlsBase + plain, "rule 'default': url is a plain http:// address while download_base is https://"},
      {plain, "rule 'default': url is a plain http:// address, but the replies go out over TLS", true},
      {def, "download_base is a plain http:// address, but the replies go out over TLS", true},
  };
  for (const auto& [toml, says, tls] : cases) {
    EXPECT_EQ(Load(toml, tls), !*says) << toml;
    EXPECT_NE(error_.find(says), std::string::npos) << toml << "\n-> " << error_;
  }
  for (const bool tls : {false, true})  // a plain reply's DownUrl, as the stub finds it
    EXPECT_TRUE(LoadFixedReply("DownUrl==https://h/s.exe<#>NameTitle==http://x", set_, error_, tls) &&
                LoadFixedReply("NameTitle==x<#>a DownUrl==http://h/s.exe", set_, error_, tls) == !tls &&
                error_ == (tls ? std::string("--reply: DownUrl ") + kClearUnderTls : "")) << error_;
}

TEST_F(RulesTest, ServiceFollowsTheFilesAndKeepsTheOldRulesOnError) {
  const std::string good = kBase + "[default]\nfile = 'a.exe'\nNISIVer = '3.1'\n";
  const std::string rules = WriteFile(dir_ + "/rules.toml", good);
  const std::string a = "http://127.0.0.1:18471/a.exe", b = "http://127.0.0.1:18471/beta/b.exe";
  ReleaseService service(rules, false, files_);
  ASSERT_TRUE(service.Load(&error_)) << error_;
  const auto answer = [&](const char* channel) {  // the stub's reading of the coded answer
    RunState s;
    ParseNetInfo(s, CodeText(Utf8ToUtf16Lossy(service.AnswerFor(Request(channel)).coded), u"A", kCodecKey));
    return s;
  };
  const std::pair<std::string, bool> builds[] = {  // true: the same size, rewritten in place
      {"installer a", false}, {"installer a, second build", false}, {"installer a, third build!", true}};
  for (const auto& [bytes, in_place] : builds) {
    if (!in_place) WriteFile(files_ + "/a.exe", bytes);
    else std::ofstream(files_ + "/a.exe", std::ios::binary) << bytes;
    const RunState s = answer("wlpq");
    EXPECT_EQ(Utf16ToUtf8Lossy(s.DownUrl + s.NISIVer), a + "3.1");
    EXPECT_EQ(s.FileMD5, MD5Text(bytes.data(), bytes.size()));
  }
  auto url = [&] { return Utf16ToUtf8Lossy(answer("beta").DownUrl); };
  const std::tuple<std::string, bool, std::string> steps[] = {  // rules, taken, the address served
      {good + "NameTitle = 'x  y'\n", false, a},
      {"not toml at all [", false, a},
      {kBase + "[[rule]]\nChannel='beta'\nfile='beta/b.exe'\n[default]\nfile='a.exe'\n", true, b},
      {kBase + "[default]\nfile = 'gone.exe'\n", false, b},
  };
  for (const auto& [text, takes, served] : steps) {
    WriteFile(rules, text);
    EXPECT_EQ(service.Reload(true, &error_), takes) << text;
    EXPECT_EQ(url(), served) << text;
  }
  WriteFile(rules, good);
  EXPECT_EQ(url(), a);  // a change is noticed at the next request
  WriteFile(rules, "[default]\n");
  service.Watch();  // ... or by the once-a-second look, which tries a changed file only once
  EXPECT_TRUE(service.Reload(false, &error_));
  EXPECT_FALSE(service.Reload(true, &error_));
  EXPECT_EQ(url(), a);
  std::filesystem::remove(files_ + "/a.exe");
  EXPECT_EQ(service.AnswerFor(Request("wlpq")).coded, "");  // no stale digest
}

// Typed digests go out as given (in lower case, a SHA-256 only when typed), a local copy's and a served file's
// are computed; "check" prints the same replies the service answers with.
TEST_F(RulesTest, RepliesAnnounceTheInstallersDigests) {
  WriteFile(files_ + "/abc.exe", "abc");
  const std::string cdn = "DownUrl==https://cdn.example.com/s.exe<#>FileMD5==", typed = "0123456789abcdef0123456789abcdef";
  const std::string abc = "900150983cd24fb0d6963f7d28e17f72<#>FileSHA256=="
                          "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  const std::pair<std::string, std::string> rules[] = {  // the installer of a rule for Channel=N, its plain reply
      {"url = 'https://cdn.example.com/s.exe'\nmd5 = '0123456789ABCDEF0123456789ABCDEF'", cdn + typed},
      {"url = 'https://cdn.example.com/s.exe'\nmd5 = '" + typed + "'\nsha256 = '" + std::string(64, 'F') + "'",
       cdn + typed + "<#>FileSHA256==" + std::string(64, 'f')},
      {"url = 'https://cdn.example.com/s.exe'\nmd5_of = '" + files_ + "/abc.exe'", cdn + abc},
      {"file = 'abc.exe'", "DownUrl==http://127.0.0.1:18471/abc.exe<#>FileMD5==" + abc},
  };
  std::string toml = kBase;
  for (size_t i = 0; i < std::size(rules); ++i)
    toml += "[[rule]]\nChannel = '" + std::to_string(i) + "'\n" + rules[i].first + "\n";
  const std::string path = WriteFile(dir_ + "/rules.toml", toml + "[default]\nfile = 'a.exe'\n");
  ReleaseService service(path, false, files_);
  ASSERT_TRUE(service.Load(&error_)) << error_;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(CheckRulesFile(path, files_, stdout, stderr), 0);
  const std::string printed = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(CheckRulesFile(path, files_, stdout, stderr, true), 1);  // as over TLS: refused, download_base is http://
  for (size_t i = 0; i < std::size(rules); ++i) {
    const std::string coded = service.AnswerFor(Request(std::to_string(i))).coded;
    EXPECT_EQ(Utf16ToUtf8Lossy(CodeText(Utf8ToUtf16Lossy(coded), u"A", kCodecKey)), rules[i].second);
    EXPECT_NE(printed.find("  plain: " + rules[i].second + "\n  coded: " + coded + "\n"), std::string::npos)
        << printed;
  }
}

}}  // namespace stub::server::testing
