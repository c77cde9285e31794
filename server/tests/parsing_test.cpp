// The command line and the fields of a request's query.
#include <gtest/gtest.h>

#include "server/options.h"
#include "server/query.h"

namespace stub::server { namespace {

using Args = std::vector<std::string>;

// The required options with an existing folder, then `extra`.
Args With(Args extra) {
  Args a = {"--listen", "127.0.0.1:18471", "--db", "r.db", "--reply", "reply.txt", "--files", "/tmp"};
  a.insert(a.end(), extra.begin(), extra.end());
  return a;
}

TEST(CommandLine, Commands) {
  CommandLine cmd;
  std::string error;
  Args a = With({"--info-delay", "2.5", "--report-delay=0.5", "--file-truncate", "0", "--file-chunked",
                  "--max-connections", "8"});
  a[1] = "[::1]:8080", a[4] = "--rules";
  ASSERT_TRUE(ParseCommandLine(a, cmd, error)) << error;
  const ServerConfig& c = cmd.config;
  EXPECT_EQ(std::make_tuple(c.host, c.port, c.rules, c.reply, c.info_delay, c.report_delay),
            std::make_tuple("::1", 8080, "reply.txt", "", 2.5, 0.5));
  EXPECT_EQ(std::make_tuple(c.file.truncate, c.file.stall, c.file.chunked, c.max_connections),
            std::make_tuple(0, -1, true, 8u));
  ASSERT_TRUE(
      ParseCommandLine({"stats", "--db", "x.db", "--since", "2026-12-01", "--channel", "beta"}, cmd, error));
  EXPECT_EQ(std::make_tuple(cmd.command, cmd.since, cmd.channel),
            std::make_tuple(CommandLine::Command::kStats, "2026-12-01", "beta"));
}

TEST(CommandLine, BadUsageIsRefusedWithAMessage) {
  const Args cases[] = {
      {},
      {"events", "--db", "x", "--files", "/tmp"},
      {"--listen", "127.0.0.1:1", "--db", "r.db", "--files", "/tmp"},  // no --reply or --rules
      With({"--listen", "h:1"}),  // twice
      With({"--listen", "::1:80"}),
      With({"--listen", "h:65536"}),
      With({"--files", "/no/such/folder"}),
      With({"stray"}),
      With({"--info-delay", "nan"}),
      With({"--report-delay", "-1"}),
      With({"--file-status", "99"}),
      With({"--max-connections", "0"}),
      With({"--file-rate", "1k"}),
      With({"--file-chunked=yes"}),
      With({"--tls-cert", "s.pem"}),
      With({"--file-truncate", "1", "--file-stall", "1"}),
      With({"--file-extra", "1", "--file-chunked"}),
      With({"--rules", "r.toml"}),  // and --reply
      {"stats", "--db", "x", "--since", "1.12.2026"},
      {"check"},
  };
  for (const auto& a : cases) {
    CommandLine cmd;
    std::string error;
    EXPECT_FALSE(ParseCommandLine(a, cmd, error) || error.empty()) << ::testing::PrintToString(a);
  }
}

TEST(Query, FieldRules) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  const std::pair<std::string, std::string> cases[] = {  // target, the decoded Data field ("<null>": absent)
      {"/?Key=Info", "<null>"},
      {"/?Data=&Key", ""},
      {"/?data=x&DataX=y", "<null>"},       // names match exactly
      {"/?Data=A&Data=B", "A"},             // the first value counts
      {"/?Data=a=b==c", "a=b==c"},          // split at the first '='
      {"/p?q?Data=Z", "<null>"},
      {"/?D%61ta=%20x+y%E4%B8%AD", " x+y中"},  // names are decoded too; '+' is no space
      {"/?Data=%zz%4g%%41%", "%zz%4g%A%"},
      {"/?Data=%00x", std::string("\0x", 2)},
      {"/?Data=\xC3\x28", "\xEF\xBF\xBD("},  // raw invalid UTF-8
      {"/?Data=\xFF\xFE%E4%B8%%zz", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD%%zz"},  // %E4%B8 cut short
      {"/?Data=" + all, ValidUtf8(all.substr(0, 38))},  // any bytes, up to the '&' (0x26)
  };
  for (const auto& [target, data] : cases) EXPECT_EQ(DecodeQuery(target)[1].value_or("<null>"), data) << target;
}

}}  // namespace stub::server
