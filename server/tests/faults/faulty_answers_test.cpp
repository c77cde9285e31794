// The faulty server the stub's tests play against: its options, answers held back, file bodies gone wrong.
#include "server/faults/fault_options.h"
#include "test_server.h"

namespace stub::server::testing { namespace {

TEST(FaultOptions, TakenOutOfTheArgumentsAndChecked) {
  Args args = {"--listen", "h:1", "--info-delay", "2.5", "--report-delay=0.5", "--file-truncate", "0",
               "--file-chunked", "--files", "/tmp"};
  Faults f;
  std::string error;
  ASSERT_TRUE(TakeFaultOptions(args, f, error)) << error;
  EXPECT_EQ(args, (Args{"--listen", "h:1", "--files", "/tmp"}));  // left for report-server's parser
  EXPECT_EQ(std::make_tuple(f.info_delay, f.report_delay, f.file.truncate, f.file.stall, f.file.chunked),
            std::make_tuple(2.5, 0.5, 0, -1, true));
  const Args bad[] = {
      {"--info-delay", "nan"}, {"--file-status", "99"}, {"--file-rate", "1k"}, {"--file-chunked=yes"},
      {"--file-rate"}, {"--info-raw="}, {"--info-delay", "1", "--info-delay=2"},
      {"--file-truncate", "1", "--file-stall", "1"}, {"--file-extra", "1", "--file-chunked"},
  };
  for (Args a : bad) {
    std::string why;
    EXPECT_FALSE(TakeFaultOptions(a, f, why) || why.empty()) << ::testing::PrintToString(a);
  }
}

// Delayed answers are recorded at once, one due sooner than those paused is not held behind them, and a stop
// ends every pending wait.
TEST_F(ServerTest, DelayedAnswersAreRecordedAtOnce) {
  size_t rows = 0;  // the log persists from one server start to the next
  for (const std::string key : {"Info", "Setup"}) {
    Faults faults;
    (key == "Info" ? faults.info_delay : faults.report_delay) = 60;
    if (key == "Info") faults.report_delay = 0.2;
    StartServer([&](ServerConfig& c) { c.answers = std::make_shared<FaultyAnswers>(faults); });
    std::vector<std::thread> waiting;
    for (int i = 0; i < 3; ++i, ++rows) waiting.emplace_back([&] { Raw("GET /?Key=" + key); });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(Eventually([&] { return Events().size() == rows; })) << key;
    EXPECT_EQ(*Events().back().fields[kKeyField], key);
    if (key == "Info") { EXPECT_EQ((++rows, Raw("GET /?Key=Setup").status), 200) << "held behind the paused answers"; }
    server_->Stop();
    for (auto& t : waiting) t.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  }
}

// Each faulty answer, then a stop that closes the connection at once.
TEST_F(ServerTest, FaultyFileBodies) {
  Write("files/small.bin", "0123456789abcdefghij");
  // Faults (status, rate, truncate, stall, chunked, extra); status, header, body, closed, least reads.
  const std::tuple<FileFaults, int, const char*, std::string, bool, int> cases[] = {
      {{503}, 503, "", "", false, 1},
      {{0, 0, 10}, 200, "Content-Length: 20", "0123456789", true, 1},
      {{0, 0, 20}, 200, "Content-Length: 20", "0123456789abcdefghij", false, 1},  // a cut at the length is none
      {{0, 0, -1, 5}, 200, "Content-Length: 20", "01234", false, 1},
      {{0, 8}, 200, "Content-Length: 20", "0123456789abcdefghij", false, 5},  // a piece at a time
      {{0, 0, -1, -1, true}, 200, "Transfer-Encoding: chunked", "14\r\n0123456789abcdefghij\r\n0\r\n\r\n", false, 1},
      {{0, 0, -1, -1, false, 5}, 200, "Content-Length: 20", "0123456789abcdefghijxxxxx", true, 1},
  };
  for (const auto& [file, status, head, body, ends, pieces_min] : cases) {
    const Faults faults{0, 0, "", file};
    StartServer([&](ServerConfig& c) { c.answers = std::make_shared<FaultyAnswers>(faults); });
    RawSocket s(port());
    ASSERT_TRUE(s.Send("GET /small.bin HTTP/1.1\r\nHost: x\r\n\r\n"));
    bool closed = false;
    int pieces = 0;
    const RawResponse r(s.Read(700ms, &closed, &pieces));
    EXPECT_EQ(std::make_tuple(r.status, r.status == 200 ? r.body : "", closed), std::make_tuple(status, body, ends));
    EXPECT_NE(r.head.find(head), std::string::npos) << r.head;
    EXPECT_GE(pieces, pieces_min) << body;
    if (file.status) { EXPECT_EQ(Raw("GET /?Key=Setup").status, 200); }  // reports are no file requests
    const auto start = std::chrono::steady_clock::now();
    server_->Stop();  // closes the connection at once
    EXPECT_TRUE(s.Read(5s, &closed).empty() && closed && std::chrono::steady_clock::now() - start < 4s) << body;
  }
}

}}  // namespace stub::server::testing
