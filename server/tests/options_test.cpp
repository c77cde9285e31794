#include "server/options.h"

#include <gtest/gtest.h>

namespace stub::server {
namespace {

using Args = std::vector<std::string>;

// The required options with an existing folder.
Args Base() { return {"--listen", "127.0.0.1:18471", "--db", "r.db", "--reply", "reply.txt",
                      "--files", "/tmp"}; }

Args With(Args extra) {
  Args a = Base();
  a.insert(a.end(), extra.begin(), extra.end());
  return a;
}

TEST(CommandLine, ServeOptions) {
  CommandLine cmd;
  std::string error;
  ASSERT_TRUE(ParseCommandLine(
      With({"--info-delay", "2.5", "--report-delay=0.5", "--info-raw=raw.html", "--file-status", "503", "--file-rate=1",
            "--file-truncate", "0", "--file-chunked"}),
      cmd, error))
      << error;
  EXPECT_EQ(cmd.command, CommandLine::Command::kServe);
  const ServerConfig& c = cmd.config;
  EXPECT_EQ(c.host, "127.0.0.1");
  EXPECT_EQ(c.port, 18471);
  EXPECT_EQ(c.db, "r.db");
  EXPECT_EQ(c.reply, "reply.txt");
  EXPECT_EQ(c.files, "/tmp");
  EXPECT_DOUBLE_EQ(c.info_delay, 2.5);
  EXPECT_DOUBLE_EQ(c.report_delay, 0.5);
  EXPECT_EQ(c.info_raw, "raw.html");
  EXPECT_EQ(c.file.status, 503);
  EXPECT_EQ(c.file.rate, 1);
  EXPECT_EQ(c.file.truncate, 0);
  EXPECT_EQ(c.file.stall, -1);
  EXPECT_TRUE(c.file.chunked);
  EXPECT_EQ(c.file.extra, 0);
  EXPECT_EQ(c.tls_cert, "");
  EXPECT_EQ(c.tls_key, "");

  ASSERT_TRUE(ParseCommandLine(With({"--tls-cert", "s.pem", "--tls-key=s.key"}), cmd, error)) << error;
  EXPECT_EQ(cmd.config.tls_cert, "s.pem");
  EXPECT_EQ(cmd.config.tls_key, "s.key");
}

TEST(CommandLine, ListenForms) {
  const struct {
    const char* listen;
    const char* host;
    uint16_t port;
  } cases[] = {{"0.0.0.0:0", "0.0.0.0", 0},
               {"localhost:65535", "localhost", 65535},
               {"[::1]:8080", "::1", 8080}};
  for (const auto& c : cases) {
    Args a = Base();
    a[1] = c.listen;
    CommandLine cmd;
    std::string error;
    ASSERT_TRUE(ParseCommandLine(a, cmd, error)) << c.listen << ": " << error;
    EXPECT_EQ(cmd.config.host, c.host);
    EXPECT_EQ(cmd.config.port, c.port);
  }
}

TEST(CommandLine, OtherCommands) {
  CommandLine cmd;
  std::string error;
  ASSERT_TRUE(ParseCommandLine({"events", "--db", "x.db"}, cmd, error));
  EXPECT_EQ(cmd.command, CommandLine::Command::kEvents);
  EXPECT_EQ(cmd.db, "x.db");
  ASSERT_TRUE(ParseCommandLine({"stats", "--db", "x.db", "--since", "2026-12-01", "--channel", "beta"},
                               cmd, error)) << error;
  EXPECT_EQ(cmd.command, CommandLine::Command::kStats);
  EXPECT_EQ(cmd.since, "2026-12-01");
  EXPECT_EQ(cmd.until, "");
  EXPECT_EQ(cmd.channel, "beta");
  ASSERT_TRUE(ParseCommandLine({"check", "rules.toml"}, cmd, error)) << error;
  EXPECT_EQ(cmd.command, CommandLine::Command::kCheck);
  EXPECT_EQ(cmd.rules, "rules.toml");
  EXPECT_EQ(cmd.files, ".");
  Args rules = Base();
  rules[4] = "--rules";
  rules.insert(rules.end(), {"--admin-listen", "127.0.0.1:18472"});
  ASSERT_TRUE(ParseCommandLine(rules, cmd, error)) << error;
  EXPECT_EQ(cmd.config.rules, "reply.txt");
  EXPECT_EQ(cmd.config.reply, "");
  EXPECT_EQ(cmd.config.admin_host, "127.0.0.1");
  EXPECT_EQ(cmd.config.admin_port, 18472);
  ASSERT_TRUE(ParseCommandLine({"--help"}, cmd, error));
  EXPECT_EQ(cmd.command, CommandLine::Command::kHelp);
  ASSERT_TRUE(ParseCommandLine({"--db", "x", "-h"}, cmd, error));
  EXPECT_EQ(cmd.command, CommandLine::Command::kHelp);
}

TEST(CommandLine, BadUsageIsRefusedWithAMessage) {
  const Args cases[] = {
      {},
      {"events"},
      {"events", "--db", "x", "--files", "/tmp"},
      {"--listen", "127.0.0.1:1", "--db", "r.db", "--reply", "r"},  // no --files
      {"--listen", "127.0.0.1", "--db", "r", "--reply", "r", "--files", "/tmp"},
      {"--listen", "::1:80", "--db", "r", "--reply", "r", "--files", "/tmp"},
      {"--listen", "h:65536", "--db", "r", "--reply", "r", "--files", "/tmp"},
      {"--listen", "h:8080", "--db", "r", "--reply", "r", "--files", "/no/such/folder"},
      With({"--listen", "h:1"}),  // twice
      With({"--bogus", "1"}),
      With({"stray"}),
      With({"--info-delay"}),
      With({"--info-delay", "-1"}),
      With({"--info-delay", "nan"}),
      With({"--report-delay", "soon"}),
      With({"--file-status", "99"}),
      With({"--file-status", "600"}),
      With({"--file-rate", "0"}),
      With({"--file-rate", "1k"}),
      With({"--file-truncate", "-5"}),
      With({"--file-chunked=yes"}),
      With({"--tls-cert", "s.pem"}),
      With({"--tls-key", "s.key"}),
      With({"--tls-cert=", "--tls-key=s.key"}),
      With({"--file-truncate", "1", "--file-stall", "1"}),
      With({"--file-extra", "1", "--file-chunked"}),
      With({"--rules", "r.toml"}),  // and --reply
      {"--listen", "127.0.0.1:1", "--db", "r.db", "--files", "/tmp"},  // neither
      With({"--admin-listen", "18472"}),
      {"stats"},
      {"stats", "--db", "x", "--since", "1.12.2026"},
      {"stats", "--db", "x", "--reply", "r"},
      {"check"},
      {"check", "--files", "/tmp"},
  };
  for (const auto& a : cases) {
    CommandLine cmd;
    std::string error;
    std::string joined;
    for (const auto& s : a) joined += s + " ";
    EXPECT_FALSE(ParseCommandLine(a, cmd, error)) << joined;
    EXPECT_FALSE(error.empty()) << joined;
  }
}

}  // namespace
}  // namespace stub::server
