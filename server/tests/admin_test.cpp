// The admin address: the dashboard, its chart library and its figures are
// served there and nowhere on the public port.
#include "test_server.h"

namespace stub::server::testing {
namespace {

TEST_F(ServerTest, DashboardOnlyOnTheAdminAddress) {
  WriteFile("reply.txt", "DownUrl==http://h/x");
  StartServer([](ServerConfig& c) {
    c.admin_host = "127.0.0.1";
    c.admin_port = 0;
  });
  ASSERT_NE(server_->admin_port(), 0);
  ASSERT_NE(server_->admin_port(), port());
  auto pub = Client();
  ASSERT_TRUE(pub->Get("/?Key=Info&TimeID=20261206100000&PcId=p&Channel=wlpq"));
  ASSERT_TRUE(pub->Get("/?Key=Setup&Data=one&TimeID=20261206100000&PcId=p&Channel=wlpq"));

  httplib::Client admin("127.0.0.1", server_->admin_port());
  const struct {
    const char* target;
    int status;
    const char* type;
    const char* holds;
  } cases[] = {
      {"/", 200, "text/html; charset=utf-8", "<canvas id=\"funnelChart\">"},
      {"/chart.js", 200, "text/javascript; charset=utf-8", "Chart.js v3"},
      {"/api/stats", 200, "application/x-ndjson; charset=utf-8", "{\"kind\":\"funnel\",\"runs\":1,\"window_shown\":0"},
      {"/api/stats?channel=beta", 200, "application/x-ndjson; charset=utf-8", "{\"kind\":\"funnel\",\"runs\":0,"},
      {"/api/stats?since=2026-13", 400, "text/plain; charset=utf-8", "YYYY-MM-DD"},
      {"/events.db", 404, "text/plain; charset=utf-8", "not found"},
  };
  for (const auto& c : cases) {
    auto res = admin.Get(c.target);
    ASSERT_TRUE(res) << c.target;
    EXPECT_EQ(res->status, c.status) << c.target;
    EXPECT_EQ(res->get_header_value("Content-Type"), c.type) << c.target;
    EXPECT_NE(res->body.find(c.holds), std::string::npos) << c.target << ": " << res->body.substr(0, 200);
    // The public port knows none of it.
    auto on_public = pub->Get(c.target);
    ASSERT_TRUE(on_public) << c.target;
    EXPECT_EQ(on_public->status, 404) << c.target;
  }
  // The page loads nothing from elsewhere.
  const std::string page = admin.Get("/")->body;
  EXPECT_EQ(page.find("http://"), std::string::npos);
  EXPECT_EQ(page.find("https://"), std::string::npos);
  EXPECT_EQ(page.find("//cdn"), std::string::npos);
}

}  // namespace
}  // namespace stub::server::testing
