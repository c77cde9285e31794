#include "server/options.h"

#include <gtest/gtest.h>

namespace stub::server {
namespace {

using Args = std::vector<std::string>;

// The required options with an existing folder, then `extra`.
Args With(Args extra) {
  Args a = {"--listen", "127.0.0.1:18471", "--db", "r.db", "--reply", "reply.txt", "--files", "/tmp"};
  a.insert(a.end(), extra.begin(), extra.end());
  return a;
}

TEST(CommandLine, ServeOptions) {
  CommandLine cmd;
  std::string error;
  ASSERT_TRUE(ParseCommandLine(
      With({"--info-delay", "2.5", "--report-delay=0.5", "--info-raw=raw.html", "--file-status", "503",
            "--file-rate=1", "--file-truncate", "0", "--file-chunked", "--tls-cert", "s.pem",
            "--tls-key=s.key", "--max-connections", "8"}),
      cmd, error))
      << error;
  EXPECT_EQ(cmd.command, CommandLine::Command::kServe);
  const ServerConfig& c = cmd.config;
  EXPECT_EQ(c.port, 18471);
  EXPECT_DOUBLE_EQ(c.info_delay, 2.5);
  EXPECT_DOUBLE_EQ(c.report_delay, 0.5);
  EXPECT_EQ(c.info_raw, "raw.html");
  EXPECT_EQ(c.file.status, 503);
  EXPECT_EQ(c.file.rate, 1);
  EXPECT_EQ(c.file.truncate, 0);
  EXPECT_EQ(c.file.stall, -1);
  EXPECT_TRUE(c.file.chunked);
  EXPECT_EQ(c.tls_key, "s.key");
  EXPECT_EQ(c.max_connections, 8u);

  Args v6 = With({});
  v6[1] = "[::1]:8080";
  ASSERT_TRUE(ParseCommandLine(v6, cmd, error)) << error;
  EXPECT_EQ(cmd.config.host, "::1");
  EXPECT_EQ(cmd.config.port, 8080);
}

TEST(CommandLine, OtherCommands) {
  CommandLine cmd;
  std::string error;
  ASSERT_TRUE(ParseCommandLine({"stats", "--db", "x.db", "--since", "2026-12-01", "--channel", "beta"},
                               cmd, error)) << error;
  EXPECT_EQ(cmd.command, CommandLine::Command::kStats);
  EXPECT_EQ(cmd.since, "2026-12-01");
  EXPECT_EQ(cmd.channel, "beta");
  ASSERT_TRUE(ParseCommandLine({"check", "rules.toml"}, cmd, error)) << error;
  EXPECT_EQ(cmd.command, CommandLine::Command::kCheck);
  EXPECT_EQ(cmd.files, ".");
  Args rules = With({"--admin-listen", "127.0.0.1:18472"});
  rules[4] = "--rules";
  ASSERT_TRUE(ParseCommandLine(rules, cmd, error)) << error;
  EXPECT_EQ(cmd.config.rules, "reply.txt");
  EXPECT_EQ(cmd.config.reply, "");
  EXPECT_EQ(cmd.config.admin_port, 18472);
  ASSERT_TRUE(ParseCommandLine({"--db", "x", "-h"}, cmd, error));
  EXPECT_EQ(cmd.command, CommandLine::Command::kHelp);
}

TEST(CommandLine, BadUsageIsRefusedWithAMessage) {
  const Args cases[] = {
      {},
      {"events", "--db", "x", "--files", "/tmp"},
      {"--listen", "127.0.0.1:1", "--db", "r.db", "--reply", "r"},  // no --files
      {"--listen", "127.0.0.1:1", "--db", "r.db", "--files", "/tmp"},  // no --reply or --rules
      With({"--listen", "h:1"}),  // twice
      With({"--listen", "::1:80"}),
      With({"--listen", "h:65536"}),
      With({"--files", "/no/such/folder"}),
      With({"--bogus", "1"}),
      With({"stray"}),
      With({"--info-delay"}),
      With({"--info-delay", "nan"}),
      With({"--report-delay", "-1"}),
      With({"--file-status", "99"}),
      With({"--max-connections", "0"}),
      With({"--file-rate", "1k"}),
      With({"--file-truncate", "-5"}),
      With({"--file-chunked=yes"}),
      With({"--tls-cert", "s.pem"}),
      With({"--file-truncate", "1", "--file-stall", "1"}),
      With({"--file-extra", "1", "--file-chunked"}),
      With({"--rules", "r.toml"}),  // and --reply
      With({"--admin-listen", "18472"}),
      {"stats", "--db", "x", "--since", "1.12.2026"},
      {"check"},
  };
  for (const auto& a : cases) {
    CommandLine cmd;
    std::string error, joined;
    for (const auto& s : a) joined += s + " ";
    EXPECT_FALSE(ParseCommandLine(a, cmd, error)) << joined;
    EXPECT_FALSE(error.empty()) << joined;
  }
}

}  // namespace
}  // namespace stub::server
