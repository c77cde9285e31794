// The server over loopback: "Info" answers, reports as received, limits, a failed commit, file serving.
#include <regex>

#include "base/text.h"
#include "codec/codec.h"
#include "test_server.h"

namespace stub::server::testing { namespace {

TEST_F(ServerTest, InfoPageDecodesToTheReplyFile) {
  const std::pair<const char*, std::string> cases[] = {  // reply file (null: none), what is served then
      {nullptr, ""},
      {"NISITitle==a b\r\n", "NISITitle==a b"},  // one line break dropped
      {"DownUrl==h/a.exe", "NISITitle==a b"},    // no http address: refused, the old reply stays
      {"NameTitle==a\xFF", "NISITitle==a b"},
      {"\xEF\xBB\xBFSetupName==s<#>DownUrl==", "SetupName==s<#>DownUrl=="},  // an empty value means something
      {"NameTitle==Korvel安装<#>DownUrl==http://h/a(1).exe", "NameTitle==Korvel安装<#>DownUrl==http://h/a(1).exe"},
      {"DownUrl==http://h/a.exe<#>FileSHA256==AB", "DownUrl==http://h/a.exe<#>FileSHA256==AB"},  // as written
  };
  StartServer();
  for (const auto& [file, plain] : cases) {
    if (file) Write("reply.txt", file);  // noticed at the next request
    const RawResponse res = Raw("GET /?Key=Info&TimeID=20240501083000&softId=1");
    EXPECT_NE((res.head + "\r\n").find("\r\nContent-Type: text/plain; charset=utf-8\r\n"), std::string::npos) << res.head;
    EXPECT_EQ(Utf16ToUtf8Lossy(CodeText(Utf8ToUtf16Lossy(res.body), u"A", kCodecKey)), plain);
  }
  EXPECT_EQ(Events().size(), std::size(cases));
}

// Requests up to 64 KiB of target are recorded as received; malformed ones get an error (or none), no row.
TEST_F(ServerTest, RequestsAreRecordedAsReceived) {
  const std::string full =
      "/?Key=Setup&Data=DownFinish=OK:12.5%20DownCode=4,14,%20SavePath=C:%5CUsers%5C%E4%B8%AD+url=a.b/c(1).exe"
      "&TimeID=20240501083000&softId=7&PcId_C=&SoftVer=1.0&Channel=c1&PcId=AB--12&Scr=1920*1080&OS=Win7"
      "&OSBit=64&DPI=96&OSLanguage=2052";
  const std::string k = "/?Key=Setup&Data=", huge = k + std::string((24 << 10) - 26, 'd') + "%E4%B8%AD";
  const std::tuple<std::string, int, std::vector<std::string>> cases[] = {  // request, status (0: none), rows
      {"GET " + full + " HTTP/1.1\r\n\r\n", 200, {"GET " + full}},
      {"GET " + k + "Err-a b c-Main HTTP/1.1\r\n\r\n", 200, {"GET " + k + "Err-a b c-Main"}},
      {"GET " + k + "\xFF\xFE%E4%B8%%zz%4 HTTP/1.1\r\n\r\n", 200, {"GET " + k + "\xFF\xFE%E4%B8%%zz%4"}},
      {"GARBAGE\r\n\r\n", 0, {}},
      {"GET /?Key=Info\r\n\r\n", 400, {}},  // no version
      {"GET /x HTTP/9.9\r\n\r\n", 505, {}},
      {std::string("\x00\x01\x80 /\x00? \x7F\r\n\r\n", 14), 0, {}},
      {"\r\n\r\nGET " + k + "late HTTP/1.1\n\n", 200, {"GET " + k + "late"}},
      {"POST " + k + "p HTTP/1.1\r\nContent-Length: 5\r\n\r\nhelloGET " + k + "q HTTP/1.1\r\n\r\n", 200,
       {"POST " + k + "p", "GET " + k + "q"}},  // a body, then a pipelined request
      {"GET " + huge + " HTTP/1.1\r\n\r\n", 200, {"GET " + huge}},
      {"GET " + k + std::string(32 << 10, 'o') + " HTTP/1.1\r\n\r\n", 414, {}},  // past the 32 KiB a connection has
      // Headers past that memory: refused by the library, but the request line it read is recorded.
      {"GET " + k + "big HTTP/1.1\r\nX-Pad: " + std::string(40 << 10, 'a') + "\r\n\r\n", 431, {" " + k + "big"}},
  };
  StartServer();
  std::vector<std::string> recorded, got;
  for (const auto& [request, status, rows] : cases) {
    RawSocket s(port());
    s.Send(request);
    bool closed = false;  // a refused request closes the connection; an answered one leaves it to the client
    const RawResponse r(s.Read(status % 200 ? 5s : 1s, &closed));
    EXPECT_EQ(std::make_pair(r.status, closed || !(status % 200)), std::make_pair(status, true)) << request.size();
    EXPECT_TRUE(r.status != 200 || r.head.find("Content-Length: 0") != std::string::npos) << r.head;
    recorded.insert(recorded.end(), rows.begin(), rows.end());
  }
  const auto events = Events();
  for (const auto& e : events) got.push_back(e.method + " " + e.target);
  ASSERT_EQ(got, recorded);
  const char* fields[] = {"Setup", "DownFinish=OK:12.5 DownCode=4,14, SavePath=C:\\Users\\中+url=a.b/c(1).exe",
                          "20240501083000", "7", "", "1.0", "c1", "AB--12", "1920*1080", "Win7", "64", "96", "2052"};
  for (size_t i = 0; i < kFieldCount; ++i) EXPECT_EQ(events[0].fields[i].value_or("<null>"), fields[i]);
  EXPECT_FALSE(events[1].fields[3]);  // softId absent: NULL, not empty
  EXPECT_TRUE(std::regex_match(events[0].time, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")));
  EXPECT_EQ(Raw("GET /?Key=Setup").status, 200);  // still serving
}

// Beyond --max-connections a connection waits (or is closed) and is served once a held one closes.
TEST_F(ServerTest, ConnectionsBeyondTheLimitWaitTheirTurn) {
  StartServer([](ServerConfig& c) { c.max_connections = 1; });
  auto held = std::make_unique<RawSocket>(port());
  ASSERT_TRUE(held->Send("GET /?Key=Setup HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(RawResponse(held->Read(1s)).status, 200);  // kept open: holds the only slot
  RawSocket extra(port());
  ASSERT_TRUE(extra.Send("GET /?Key=Setup HTTP/1.1\r\nConnection: close\r\n\r\n"));
  EXPECT_EQ(extra.Read(100ms), "");  // no answer while it is held
  held.reset();
  bool closed = false;
  const std::string answer = extra.Read(5s, &closed);
  EXPECT_TRUE(answer.empty() ? closed : RawResponse(answer).status == 200) << answer;
}

// The admin address's /healthz and /metrics follow the store: one that works, one whose database
// refuses writes (answered 500, never 200), one whose database is away (spooled). A fault is said
// once on stderr, not once per request. The address answers GET only and refuses a malformed day.
TEST_F(ServerTest, AdminAddressShowsTheStoresHealth) {
  struct Case { std::string db; bool harm; int report, health; std::string reason, metric, said; };
  std::vector<Case> cases = {
      {dir_ + "/ok.db", false, 200, 200, "ok\n", "report_server_rows_committed_total 6\n", ""},
      {dir_ + "/refusing.db", true, 500, 503, "database refuses writes: no such table: requests\n",
       "report_server_database_up 0\n", "report-server: error: the database refuses writes"},
      {DownLocation(dir_ + "/down"), false, 200, 503,
       "database unreachable, spooling (6 requests waiting in the spool)\n", "report_server_spool_rows 6\n",
       "report-server: warning: database unreachable"},
  };
  if (const std::string refusing = NewPostgresDatabase(); !refusing.empty()) {
    cases.push_back({refusing, true, 500, 503,
                     "database refuses writes: ERROR:  relation \"requests\" does not exist\n",
                     "report_server_refusals_total ", "report-server: error: the database refuses writes"});
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.db);
    config_.db = c.db, config_.admin_host = "127.0.0.1";
    config_.spool = dir_ + "/spool" + std::to_string(&c - cases.data());  // the down one keeps its rows
    ::testing::internal::CaptureStderr();
    StartServer();
    if (c.harm) {  // its database then refuses writes
      EXPECT_TRUE(Sql(c.db, "DROP TABLE requests"));
    }
    for (int i = 0; i < 6; ++i) EXPECT_EQ(Raw("GET /?Key=Setup&Data=" + std::to_string(i)).status, c.report);
    httplib::Client admin("127.0.0.1", server_->admin_port());
    const auto health = admin.Get("/healthz"), metrics = admin.Get("/metrics");
    const auto post = admin.Post("/metrics", "", "text/plain"), bad_day = admin.Get("/api/stats?since=2026-2-1");
    server_.reset();
    const std::string said = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(health && metrics && post && bad_day);
    EXPECT_EQ(std::make_pair(post->status, bad_day->status), std::make_pair(405, 400));  // GET only; days as YYYY-MM-DD
    EXPECT_EQ(health->status, c.health);
    EXPECT_EQ(health->body.substr(0, c.reason.size()), c.reason);
    EXPECT_EQ(metrics->status, 200);
    EXPECT_EQ(metrics->get_header_value("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
    EXPECT_NE(metrics->body.find(c.metric), std::string::npos) << metrics->body;
    EXPECT_NE(metrics->body.find("# TYPE report_server_commit_seconds summary\n"), std::string::npos);
    const size_t first = said.find(c.said);  // once, if at all
    EXPECT_TRUE(c.said.empty() || (first != std::string::npos && first == said.rfind(c.said))) << said;
    EXPECT_EQ(said.find("cannot record request"), std::string::npos) << said;  // nothing said per request
  }
}

TEST_F(ServerTest, ServesFilesInsideTheFolderOnly) {
  std::string big(100000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + 3);
  Write("files/rmgb/4.2.2/wlpq1(wlpqhd).exe", big);
  Write("files/small.bin", "0123456789");
  Write("files/中 b.bin", "中");
  Write("secret.txt", "outside");
  std::filesystem::create_symlink(dir_ + "/secret.txt", dir_ + "/files/link-out");
  std::filesystem::create_directory_symlink(dir_, dir_ + "/files/dir-out");
  std::filesystem::create_symlink(dir_ + "/files/small.bin", dir_ + "/files/link-in");
  const std::tuple<const char*, int, std::string> cases[] = {  // request, status, body
      {"GET /rmgb/4.2.2/wlpq1(wlpqhd).exe?20240501083000", 200, big},
      {"GET /rmgb//4.2.2/./wlpq1%28wlpqhd%29.exe", 200, big},
      {"HEAD /small.bin", 200, ""},
      {"GET /link-in", 200, "0123456789"},
      {"GET http://host:1/small.bin?x", 200, "0123456789"},
      {"GET /%E4%B8%AD%20b.bin", 200, "中"},
      {"GET /rmgb/../../secret.txt", 404, ""},
      {"GET /rmgb%2F..%2F..%2Fsecret.txt", 404, ""},
      {"GET /link-out", 404, ""},
      {"GET /dir-out/secret.txt", 404, ""},
      {"GET /rmgb", 404, ""},  // a folder
      {"POST /small.bin", 405, ""},
  };
  StartServer();
  for (const auto& [request, status, body] : cases) {
    const RawResponse r = Raw(request);
    EXPECT_EQ(r.status, status) << request;
    EXPECT_TRUE(r.status == 200 ? r.body == body : r.body.find("outside") == std::string::npos) << request;
  }
  EXPECT_NE(Raw("HEAD /small.bin").head.find("Content-Length: 10"), std::string::npos);
  EXPECT_FALSE(Events().front().fields[kKeyField]);  // a file request is recorded too
}

}}  // namespace stub::server::testing
