// File serving: names, refusal of paths outside the folder, and the options
// that make the download host misbehave.
#include <unistd.h>

#include <filesystem>

#include "server/file_path.h"
#include "server/file_response.h"
#include "test_server.h"

namespace stub::server::testing {
namespace {

using namespace std::chrono_literals;

std::string Payload(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + 3) & 0xFF);
  return s;
}

TEST(JoinUnderRoot, SegmentsAndRefusals) {
  const struct {
    const char* target;
    const char* joined;  // "" = refused
  } cases[] = {
      {"/rmgb/4.2.2/wlpq1(wlpqhd).exe?20240501083000", "/r/rmgb/4.2.2/wlpq1(wlpqhd).exe"},
      {"/a%20b/%E4%B8%AD.exe", "/r/a b/中.exe"},
      {"//a/./b", "/r/a/b"},
      {"http://host:1/a/b?x", "/r/a/b"},
      {"/", ""},
      {"/../x", ""},
      {"/%2e%2e/x", ""},
      {"/a%2F..%2F..%2Fx", ""},
      {"/a%00b", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(JoinUnderRoot("/r", c.target), c.joined) << c.target;
}

TEST(Pacer, SpreadsBytesOverTime) {
  const struct {
    int64_t rate;
    int64_t piece;
    int64_t sent;
    std::chrono::milliseconds due;
  } cases[] = {
      {1, 1, 3, 3000ms},       // one byte a second
      {1000, 100, 500, 500ms},
      {int64_t{1} << 30, 64 << 10, 1 << 29, 500ms},
      {0, 64 << 10, 1 << 20, 0ms},  // unthrottled
  };
  for (const auto& c : cases) {
    const Pacer pacer(c.rate);
    EXPECT_EQ(pacer.PieceSize(64 << 10), c.piece) << c.rate;
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::milliseconds>(pacer.DueAfter(c.sent)), c.due)
        << c.rate;
  }
}

class FilesTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    data_ = Payload(100000);
    WriteFile("files/rmgb/4.2.2/wlpq1(wlpqhd).exe", data_);
    WriteFile("files/small.bin", "0123456789abcdefghij");
    WriteFile("secret.txt", "outside");
  }
  std::string data_;
};

TEST_F(FilesTest, ServesFilesByPathWithTheQueryIgnored) {
  StartServer();
  auto client = Client();
  for (const char* target : {"/rmgb/4.2.2/wlpq1(wlpqhd).exe?20240501083000",
                             "/rmgb//4.2.2/./wlpq1%28wlpqhd%29.exe"}) {
    auto res = client->Get(target);
    ASSERT_TRUE(res) << target;
    EXPECT_EQ(res->status, 200) << target;
    EXPECT_EQ(res->get_header_value("Content-Length"), std::to_string(data_.size()));
    EXPECT_EQ(res->get_header_value("Content-Type"), "application/octet-stream");
    EXPECT_TRUE(res->body == data_) << target;
  }
  auto head = client->Head("/small.bin");
  ASSERT_TRUE(head);
  EXPECT_EQ(head->get_header_value("Content-Length"), "20");
  EXPECT_EQ(head->body, "");

  const auto events = Events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].target, "/rmgb/4.2.2/wlpq1(wlpqhd).exe?20240501083000");
  EXPECT_FALSE(events[0].fields[kKeyField]);
}

TEST_F(FilesTest, RefusesEverythingOutsideTheFolder) {
  namespace fs = std::filesystem;
  fs::create_symlink(dir_ + "/secret.txt", dir_ + "/files/link-out");
  fs::create_directory_symlink(dir_, dir_ + "/files/dir-out");
  fs::create_symlink(dir_ + "/files/small.bin", dir_ + "/files/link-in");
  StartServer();
  for (const char* target : {"/rmgb/../../secret.txt", "/link-out", "/dir-out/secret.txt", "/rmgb",
                             "/missing.exe"}) {
    const RawResponse r = RawGet(target);
    EXPECT_EQ(r.status, 404) << target;
    EXPECT_EQ(r.body.find("outside"), std::string::npos) << target;
  }
  EXPECT_EQ(RawGet("/link-in").body, "0123456789abcdefghij");
  EXPECT_EQ(RawExchange("POST /small.bin HTTP/1.1\r\nConnection: close\r\n\r\n").status, 405);
}

TEST_F(FilesTest, StatusOptionAnswersEveryFileRequest) {
  StartServer([](ServerConfig& c) { c.file.status = 503; });
  EXPECT_EQ(RawGet("/small.bin").status, 503);
  EXPECT_EQ(RawGet("/?Key=Setup").status, 200);  // reports are not file requests
}

TEST_F(FilesTest, TruncateClosesAfterThePartAnnounced) {
  StartServer([](ServerConfig& c) { c.file.truncate = 10; });
  RawSocket s(port());
  ASSERT_TRUE(s.Send("GET /small.bin HTTP/1.1\r\nHost: x\r\n\r\n"));
  bool closed = false;
  const RawResponse r = SplitResponse(s.ReadAll(5s, &closed));
  EXPECT_TRUE(closed);
  EXPECT_EQ(r.status, 200);
  EXPECT_NE(r.head.find("Content-Length: 20"), std::string::npos);
  EXPECT_EQ(r.body, "0123456789");

}

// A cut at the file's length is no cut: the connection stays open for more.
TEST_F(FilesTest, TruncateAtTheLengthSendsTheWholeFile) {
  StartServer([](ServerConfig& c) { c.file.truncate = 20; });
  RawSocket s(port());
  ASSERT_TRUE(s.Send("GET /small.bin HTTP/1.1\r\nHost: x\r\n\r\n"));
  bool closed = true;
  EXPECT_EQ(SplitResponse(s.ReadAll(700ms, &closed)).body, "0123456789abcdefghij");
  EXPECT_FALSE(closed);
}

TEST_F(FilesTest, StallKeepsTheConnectionOpenAndSilent) {
  StartServer([](ServerConfig& c) { c.file.stall = 5; });
  RawSocket s(port());
  ASSERT_TRUE(s.Send("GET /small.bin HTTP/1.1\r\nHost: x\r\n\r\n"));
  bool closed = false;
  const RawResponse r = SplitResponse(s.ReadAll(700ms, &closed));
  EXPECT_FALSE(closed);
  EXPECT_NE(r.head.find("Content-Length: 20"), std::string::npos);
  EXPECT_EQ(r.body, "01234");


  // Stopping does not wait for the silent connection.
  const auto start = std::chrono::steady_clock::now();
  StopServer();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_EQ(s.ReadAll(5s, &closed), "");
  EXPECT_TRUE(closed);
}

TEST_F(FilesTest, RateSendsTheBodyInPiecesOverTime) {
  StartServer([](ServerConfig& c) { c.file.rate = 8; });
  RawSocket s(port());
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(s.Send("GET /small.bin HTTP/1.1\r\nConnection: close\r\n\r\n"));
  std::string got;
  int reads = 0;
  bool closed = false;
  while (!closed && std::chrono::steady_clock::now() - start < 10s) {
    const std::string piece = s.ReadSome(2s, &closed);
    if (!piece.empty()) ++reads, got += piece;
  }
  EXPECT_TRUE(closed);
  EXPECT_EQ(SplitResponse(got).body, "0123456789abcdefghij");
  EXPECT_GE(reads, 5);  // progress arrives a piece at a time
  EXPECT_GE(std::chrono::steady_clock::now() - start, 2s);  // 20 bytes at 8 per second
}

TEST_F(FilesTest, ChunkedTransfer) {
  StartServer([](ServerConfig& c) { c.file.chunked = true; });
  const RawResponse raw = RawGet("/small.bin");
  EXPECT_NE(raw.head.find("Transfer-Encoding: chunked"), std::string::npos);
  EXPECT_EQ(raw.body, "14\r\n0123456789abcdefghij\r\n0\r\n\r\n");
}

TEST_F(FilesTest, ExtraBytesFollowTheAnnouncedLength) {
  StartServer([](ServerConfig& c) { c.file.extra = 5; });
  const RawResponse r = RawGet("/small.bin");
  EXPECT_NE(r.head.find("Content-Length: 20"), std::string::npos);
  EXPECT_EQ(r.body, "0123456789abcdefghijxxxxx");
}

}  // namespace
}  // namespace stub::server::testing
