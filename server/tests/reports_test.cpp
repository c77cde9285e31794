// The server end to end over loopback: "Info" answers, report recording and
// requests that are malformed on purpose.
#include <sqlite3.h>

#include <regex>
#include <thread>

#include "base/text.h"
#include "codec/codec.h"
#include "test_server.h"

namespace stub::server::testing {
namespace {

using namespace std::chrono_literals;

template <size_t N>
std::string Bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

std::string Decoded(const std::string& coded_utf8) {
  std::u16string coded;
  EXPECT_TRUE(Utf8ToUtf16(coded_utf8, coded)) << "coded reply is not valid UTF-8";
  return Utf16ToUtf8Lossy(CodeText(coded, u"A", kCodecKey));
}

// A plain text whose coded form is `wanted`: each unit is picked among the
// Chinese characters that code to ASCII at its position.
std::string PlainCodingTo(std::u16string_view wanted) {
  std::u16string plain;
  for (const char16_t w : wanted) {
    for (char16_t c = 0x4E00; c < 0x4F00; ++c) {
      if (Encode(plain + c, u"A", kCodecKey).back() == w) {
        plain += c;
        break;
      }
    }
  }
  EXPECT_EQ(Encode(plain, u"A", kCodecKey), wanted);
  return Utf16ToUtf8Lossy(plain);
}

TEST_F(ServerTest, InfoPageDecodesToTheReplyFile) {
  // Codes to text that an HTML page would have to escape; plain text carries it.
  const std::string markup = PlainCodingTo(u"<b>&amp;</b>");
  const std::string url = "DownUrl==http://127.0.0.1:18471/rmgb/4.2.2/wlpq1(wlpqhd).exe";
  const std::string first = url + "<#>FileMD5==0CC175B9C0F1B6A831C399E269772661<#>NameTitle==Korvel安装";
  const struct {
    std::string file;
    std::string plain;  // what is served after the file changed
  } cases[] = {
      {first + "\n", first},
      {"NISITitle==a b\r\n", "NISITitle==a b"},     // one CRLF dropped
      {"x\n\n", "NISITitle==a b"},                  // a line break inside: refused, old reply stays
      {"\xEF\xBB\xBFSetupName==s", "SetupName==s"},  // byte-order mark dropped
      {markup, markup},
  };
  StartServer();
  auto client = Client();
  for (const auto& c : cases) {
    WriteFile("reply.txt", c.file);  // noticed at the next request
    auto res = client->Get("/?Key=Info&TimeID=20240501083000&softId=1");
    ASSERT_TRUE(res) << httplib::to_string(res.error());
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->get_header_value("Content-Type"), "text/plain; charset=utf-8");
    EXPECT_EQ(Decoded(res->body), c.plain) << c.file;
  }
  EXPECT_EQ(Events().size(), std::size(cases));
}

TEST_F(ServerTest, InfoWithoutReplyIsAnEmptyPage) {
  StartServer();
  auto client = Client();
  for (const char* file : {"", "\r\n"}) {
    if (*file) WriteFile("reply.txt", file);
    auto res = client->Get("/?Key=Info");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->body, "");
  }
}

TEST_F(ServerTest, InfoRawSendsTheFileUncoded) {
  const std::string garbage = std::string("<p>not coded \xFF\x00 at all</p>\n", 28);
  config_.info_raw = WriteFile("raw.html", garbage);
  StartServer();
  auto res = Client()->Get("/?Key=Info");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->body, garbage);
  EXPECT_EQ(res->get_header_value("Content-Type"), "text/html");
}

// Delayed answers, of the information request or of a report, are recorded at once.
TEST_F(ServerTest, DelayedAnswersAreRecordedAtOnce) {
  size_t rows = 0;  // the log persists from one server start to the next
  for (const std::string key : {"Info", "Setup"}) {
    WriteFile("reply.txt", "DownUrl==http://h/x");
    StartServer([&](ServerConfig& c) { (key == "Info" ? c.info_delay : c.report_delay) = 60; });
    ++rows;
    // A client that gives up, like the program after its time-out.
    auto client = Client();
    client->set_read_timeout(0, 300000);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client->Get("/?Key=" + key + "&TimeID=1"));
    // The row is there long before the answer would be.
    while (Events().size() < rows && std::chrono::steady_clock::now() - start < 5s)
      std::this_thread::sleep_for(10ms);
    ASSERT_EQ(Events().size(), rows) << key;
    EXPECT_EQ(*Events().back().fields[kKeyField], key);
    // A stop does not wait for the pending delay.
    StopServer();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  }
}

TEST_F(ServerTest, ShortInfoDelayStillAnswers) {
  WriteFile("reply.txt", "DownUrl==http://h/x");
  StartServer([](ServerConfig& c) { c.info_delay = 0.2; });
  const auto start = std::chrono::steady_clock::now();
  auto res = Client()->Get("/?Key=Info");
  ASSERT_TRUE(res);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms);
  EXPECT_EQ(Decoded(res->body), "DownUrl==http://h/x");
}

TEST_F(ServerTest, ReportsGetAnEmptyAnswerAndAreRecordedDecoded) {
  const std::string target =
      "/?Key=Setup&Data=DownFinish=OK:12.5%20DownCode=4,14,%20SavePath=C:%5CUsers%5C%E4%B8%AD"
      "+url=a.b/c(1).exe&TimeID=20240501083000&softId=7&PcId_C=&SoftVer=1.0&Channel=c1"
      "&PcId=AB--12&Scr=1920*1080&OS=Win7&OSBit=64&DPI=96&OSLanguage=2052";
  StartServer();
  auto client = Client();
  auto res = client->Get(target);
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->body, "");
  // A second report on the same kept-alive connection.
  ASSERT_TRUE(client->Get("/?Key=Setup&Data=one&TimeID=20240501083000"));

  const auto events = Events();
  ASSERT_EQ(events.size(), 2u);
  const RecordedRequest& e = events[0];
  EXPECT_EQ(e.id, 1);
  EXPECT_EQ(e.method, "GET");
  EXPECT_EQ(e.client, "127.0.0.1");
  EXPECT_EQ(e.target, target);
  const char* expected[kFieldCount] = {
      "Setup", "DownFinish=OK:12.5 DownCode=4,14, SavePath=C:\\Users\\中+url=a.b/c(1).exe",
      "20240501083000", "7", "", "1.0", "c1", "AB--12", "1920*1080", "Win7", "64", "96", "2052"};
  for (size_t i = 0; i < kFieldCount; ++i) {
    ASSERT_TRUE(e.fields[i]) << kFieldNames[i];
    EXPECT_EQ(*e.fields[i], expected[i]) << kFieldNames[i];
  }
  EXPECT_EQ(*events[1].fields[1], "one");
  EXPECT_FALSE(events[1].fields[3]);  // softId absent: NULL, not empty
  for (const auto& ev : events)
    EXPECT_TRUE(std::regex_match(ev.time, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")))
        << ev.time;
  EXPECT_GE(events[1].time, events[0].time);
}

TEST_F(ServerTest, MalformedRequestsAreRecordedAndTheServerCarriesOn) {
  const std::string binary_line = Bytes("\x00\x01\x80 /\x00? \x7F\r\n\r\n");
  // Requests the HTTP library can split are recorded as received; the ones it
  // refuses on its own (no or unknown version, bytes that are no request
  // line) get its error answer and leave no row.
  const struct {
    std::string request;
    int status;  // 0: no answer
    bool recorded;
    std::string method;
    std::string target;
  } cases[] = {
      // Unescaped spaces and raw bytes, as a client that inserts data raw sends them.
      {"GET /?Key=Setup&Data=Err-a b c-Main&TimeID=1 HTTP/1.1\r\n\r\n", 200, true, "GET",
       "/?Key=Setup&Data=Err-a b c-Main&TimeID=1"},
      {"GET /?Key=Setup&Data=\xFF\xFE%E4%B8%%zz%4 HTTP/1.1\r\n\r\n", 200, true, "GET",
       "/?Key=Setup&Data=\xFF\xFE%E4%B8%%zz%4"},
      {"GARBAGE\r\n\r\n", 0, false, "", ""},
      {"GET /?Key=Info\r\n\r\n", 400, false, "", ""},  // no version
      {"GET /x HTTP/9.9\r\n\r\n", 505, false, "", ""},
      {binary_line, 0, false, "", ""},
      {"\r\n\r\nGET /?Key=Setup&Data=late HTTP/1.1\n\n", 200, true, "GET",
       "/?Key=Setup&Data=late"},
  };
  StartServer();
  std::vector<size_t> recorded;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    RawSocket s(port());
    ASSERT_TRUE(s.Send(c.request));
    bool closed = false;
    // An answered request leaves the connection to the client; refused ones close it.
    const RawResponse r = SplitResponse(s.ReadAll(c.status == 200 || c.status == 0 ? 1s : 5s, &closed));
    EXPECT_EQ(r.status, c.status) << c.request;
    EXPECT_TRUE(closed || c.status == 200 || c.status == 0) << c.request;
    if (c.recorded) recorded.push_back(i);
  }
  const auto events = Events();
  ASSERT_EQ(events.size(), recorded.size());
  for (size_t i = 0; i < recorded.size(); ++i) {
    EXPECT_EQ(events[i].method, cases[recorded[i]].method) << i;
    EXPECT_EQ(events[i].target, cases[recorded[i]].target) << i;
  }
  EXPECT_EQ(*events[0].fields[1], "Err-a b c-Main");
  // \xE4\xB8 is cut short by '%': each of the four stray bytes is replaced.
  EXPECT_EQ(*events[1].fields[1],
            "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD%%zz%4");
  EXPECT_TRUE(Client()->Get("/?Key=Setup"));  // still serving
}

TEST_F(ServerTest, HugeTargetsAreRecordedUpToTheLimit) {
  StartServer();
  const std::string huge = "/?Key=Setup&Data=" + std::string(128 << 10, 'd') + "%E4%B8%AD";
  auto res = Client()->Get(huge);
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);

  // Beyond the bound the request is refused without being recorded.
  const RawResponse over = RawGet("/?Key=Setup&Data=" + std::string(DaemonSettings{}.connection_memory, 'o'));
  EXPECT_EQ(over.status, 414);

  const auto events = Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].target, huge);
  EXPECT_EQ(events[0].fields[1]->size(), (128u << 10) + 3);
  EXPECT_TRUE(Client()->Get("/?Key=Setup"));
}

TEST_F(ServerTest, RequestsWithBodiesAndPipelining) {
  StartServer();
  // A POST with a body, then a pipelined GET on the same connection.
  const RawResponse r = RawExchange(
      "POST /?Key=Setup&Data=p HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello"
      "GET /?Key=Setup&Data=q HTTP/1.1\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(r.status, 200);
  const auto events = Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].method, "POST");
  EXPECT_EQ(*events[1].fields[1], "q");
}

// Connections beyond --max-connections wait in the listen queue (or are
// closed), and each gets its turn once the held ones close.
TEST_F(ServerTest, ConnectionsBeyondTheLimitWaitTheirTurn) {
  StartServer([](ServerConfig& c) { c.max_connections = 2; });
  const std::string get = "GET /?Key=Setup HTTP/1.1\r\nHost: x\r\n\r\n";
  std::vector<std::unique_ptr<RawSocket>> held, extra;
  for (int i = 0; i < 2 + 6; ++i) {
    auto& into = i < 2 ? held : extra;
    into.push_back(std::make_unique<RawSocket>(port()));
    ASSERT_TRUE(into.back()->Send(get));
    if (i < 2) {
      EXPECT_EQ(SplitResponse(into.back()->ReadSome(5s)).status, 200);
    }
  }
  for (auto& s : extra) EXPECT_EQ(s->ReadSome(100ms), "");  // no answer while both are held
  held.clear();
  for (auto& s : extra) {
    bool closed = false;
    const std::string answer = s->ReadSome(5s, &closed);
    EXPECT_TRUE(closed || SplitResponse(answer).status == 200) << answer;
    s.reset();  // frees a slot for the next one
  }
  EXPECT_TRUE(Client()->Get("/?Key=Setup"));
}

// A batch whose commit fails answers each of its requests 500, never 200.
TEST_F(ServerTest, AFailedCommitAnswersEveryRequest500) {
  StartServer();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(config_.db.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, "DROP TABLE requests", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  std::vector<std::thread> clients;
  for (int i = 0; i < 4; ++i)
    clients.emplace_back([this] { EXPECT_EQ(RawGet("/?Key=Setup").status, 500); });
  for (auto& t : clients) t.join();
}

}  // namespace
}  // namespace stub::server::testing
