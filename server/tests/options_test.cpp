// The production command line: the commands, and bad usage refused with a message.
#include "server/options.h"
#include "test_server.h"

namespace stub::server::testing { namespace {

// The required options with an existing folder, then `extra`.
Args With(Args extra) {
  Args a = {"--listen", "127.0.0.1:18471", "--db", "r.db", "--reply", "reply.txt", "--files", "/tmp"};
  a.insert(a.end(), extra.begin(), extra.end());
  return a;
}

TEST(CommandLine, Commands) {
  CommandLine cmd;
  std::string error;
  Args a = With({"--spool=s.spool", "--max-connections", "8", "--admin-listen", "127.0.0.1:0"});
  a[1] = "[::1]:65535", a[4] = "--rules";  // the largest port
  ASSERT_TRUE(ParseCommandLine(a, cmd, error)) << error;
  const ServerConfig& c = cmd.config;
  EXPECT_EQ(std::make_tuple(c.host, c.port, c.rules, c.reply, c.spool, c.max_connections, c.admin_host),
            std::make_tuple("::1", 65535, "reply.txt", "", "s.spool", 8u, "127.0.0.1"));
  EXPECT_EQ(std::make_tuple(c.max_per_address, c.head_timeout_seconds, c.tls_priorities, c.trusted_proxies),
            std::make_tuple(128u, 30.0, std::string(kDefaultTlsPriorities), std::vector<std::string>{}));
  ASSERT_TRUE(ParseCommandLine(With({"--max-per-address", "0", "--head-timeout", "2.5", "--trusted-proxy",
                                     "127.0.0.1,::FFFF:10.0.0.1,::1", "--tls-cert", "c.pem", "--tls-key", "k.pem",
                                     "--tls-priorities", "NORMAL:+VERS-TLS1.0", "--admin-listen", "127.0.0.1:18472"}),
                               cmd, error))
      << error;
  EXPECT_EQ(std::make_tuple(c.max_per_address, c.head_timeout_seconds, c.tls_priorities, c.trusted_proxies),
            std::make_tuple(0u, 2.5, std::string("NORMAL:+VERS-TLS1.0"),
                            std::vector<std::string>{"127.0.0.1", "10.0.0.1", "::1"}));
  ASSERT_TRUE(
      ParseCommandLine({"stats", "--db", "x.db", "--since", "2026-12-01", "--channel", "beta"}, cmd, error));
  EXPECT_EQ(std::make_tuple(cmd.command, cmd.since, cmd.channel),
            std::make_tuple(CommandLine::Command::kStats, "2026-12-01", "beta"));
  ASSERT_TRUE(ParseCommandLine({"prune", "--before", "2024-02-29", "--db", "postgresql:///r"}, cmd, error)) << error;
  EXPECT_EQ(std::make_tuple(cmd.command, cmd.before, cmd.db),
            std::make_tuple(CommandLine::Command::kPrune, "2024-02-29", "postgresql:///r"));
  ASSERT_TRUE(ParseCommandLine({"check", "r.toml", "--tls", "--files", "f"}, cmd, error));
  EXPECT_TRUE(cmd.command == CommandLine::Command::kCheck && cmd.rules == "r.toml" && cmd.files == "f" && cmd.tls);
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
      With({"--max-connections", "0"}),
      With({"--admin-listen", "127.0.0.1:18471"}),  // the stubs' own address
      With({"--max-per-address", "-1"}),
      With({"--head-timeout", "3601"}),
      With({"--trusted-proxy", "10.0.0.1:80"}),
      With({"--trusted-proxy", "10.0.0.1,"}),
      With({"--tls-priorities", "NORMAL"}),  // without TLS
      With({"--tls-cert", "c.pem", "--tls-key", "k.pem", "--tls-priorities", "NORMAL:+NO-SUCH"}),
      With({"--tls-cert", "s.pem"}),
      With({"--rules", "r.toml"}),  // and --reply
      {"stats", "--db", "x", "--since", "1.12.2026"},
      {"check"},
      {"check", "r.toml", "--tls=yes"},
      {"prune", "--db", "x"},
      {"prune", "--before", "2026-12-01"},
      {"prune", "--db", "x", "--before", "2026-12-1"},
      {"prune", "--db", "x", "--before", "2026-13-01"},
      {"prune", "--db", "x", "--before", "2026-00-10"},
      {"prune", "--db", "x", "--before", "2026-02-29"},  // not a leap year
      {"prune", "--db", "x", "--before", "2100-02-29"},
      {"prune", "--db", "x", "--before", "2026-04-31"},
      {"prune", "--db", "x", "--before", "2026-12-01T00:00"},
      {"prune", "--db", "x", "--before", "2026-12-01", "--since", "2026-11-01"},
  };
  for (const auto& a : cases) {
    CommandLine cmd;
    std::string error;
    EXPECT_FALSE(ParseCommandLine(a, cmd, error) || error.empty()) << ::testing::PrintToString(a);
  }
}

}}  // namespace stub::server::testing
