// The request log and its JSON-lines listing.
#include <cstdio>
#include <regex>

#include "server/events.h"
#include "test_server.h"

namespace stub::server::testing {
namespace {

TEST(EventJson, KeysInOrderWithNulls) {
  RecordedRequest r;
  r.id = 7;
  r.time = "2024-05-01T08:30:00.123Z";
  r.client = "127.0.0.1";
  r.method = "GET";
  r.target = "/?Key=Setup&Data=%E4%B8%AD&PcId_C=";
  r.fields[0] = "Setup";
  r.fields[1] = "中";
  r.fields[4] = "";
  EXPECT_EQ(EventJson(r),
            R"({"id":7,"time":"2024-05-01T08:30:00.123Z","client":"127.0.0.1","method":"GET",)"
            R"("target":"/?Key=Setup&Data=%E4%B8%AD&PcId_C=","Key":"Setup","Data":"中",)"
            R"("TimeID":null,"softId":null,"PcId_C":"","SoftVer":null,"Channel":null,)"
            R"("PcId":null,"Scr":null,"OS":null,"OSBit":null,"DPI":null,"OSLanguage":null})");
}

class EventsTest : public ServerTest {
 protected:
  // PrintEvents into a string.
  bool Print(const std::string& db, std::string& out, std::string& error) {
    char* buf = nullptr;
    size_t size = 0;
    std::FILE* f = open_memstream(&buf, &size);
    const bool ok = PrintEvents(db, f, &error);
    std::fclose(f);
    out.assign(buf, size);
    std::free(buf);
    return ok;
  }
};

TEST_F(EventsTest, ListsRequestsWhileTheServerRuns) {
  StartServer();
  auto client = Client();
  ASSERT_TRUE(client->Get("/?Key=Setup&Data=one&TimeID=20240501083000"));
  RawExchange("GET /?Key=Setup&Data=\"q\"\xFF HTTP/1.1\r\nConnection: close\r\n\r\n");
  ASSERT_TRUE(client->Get("/missing.exe?20240501083000"));

  std::string out, error;
  ASSERT_TRUE(Print(config_.db, out, error)) << error;
  const std::regex line(
      R"re(\{"id":(\d+),"time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z","client":"127\.0\.0\.1",)re"
      R"re("method":"GET","target":"([^\n]*)","Key":([^,]*),"Data":([^,]*),"TimeID":([^,]*),)re"
      R"re("softId":null,"PcId_C":null,"SoftVer":null,"Channel":null,"PcId":null,"Scr":null,)re"
      R"re("OS":null,"OSBit":null,"DPI":null,"OSLanguage":null\})re");
  const char* expected[][5] = {
      {"1", "/?Key=Setup&Data=one&TimeID=20240501083000", R"("Setup")", R"("one")",
       R"("20240501083000")"},
      {"2", "/?Key=Setup&Data=\\\"q\\\"\xEF\xBF\xBD", R"("Setup")", "\"\\\"q\\\"\xEF\xBF\xBD\"",
       "null"},
      {"3", "/missing.exe?20240501083000", "null", "null", "null"},
  };
  size_t n = 0;
  for (size_t start = 0; start < out.size(); ++n) {
    const size_t end = out.find('\n', start);
    ASSERT_NE(end, std::string::npos) << "last line unterminated";
    const std::string text = out.substr(start, end - start);
    start = end + 1;
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text, m, line)) << text;
    ASSERT_LT(n, std::size(expected));
    for (int k = 0; k < 5; ++k) EXPECT_EQ(m[k + 1].str(), expected[n][k]) << text;
  }
  EXPECT_EQ(n, std::size(expected));
  EXPECT_FALSE(Print(dir_ + "/none.db", out, error));
}

}  // namespace
}  // namespace stub::server::testing
