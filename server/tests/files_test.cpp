// File serving: names, refusal of paths outside the folder, the options that make the host misbehave.
#include "server/file_response.h"
#include "test_server.h"

namespace stub::server::testing { namespace {

TEST(Pacer, SpreadsBytesOverTime) {
  const std::tuple<int64_t, int64_t, int64_t, std::chrono::milliseconds> cases[] = {  // rate, piece, sent, due
      {1, 1, 3, 3000ms},  // one byte a second, still one byte a piece
      {1000, 100, 500, 500ms},
      {int64_t{1} << 30, 64 << 10, 1 << 29, 500ms},
      {0, 64 << 10, 1 << 20, 0ms},  // unthrottled
  };
  for (const auto& [rate, piece, sent, due] : cases) {
    const Pacer pacer(rate);
    EXPECT_EQ(pacer.PieceSize(64 << 10), piece) << rate;
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::milliseconds>(pacer.DueAfter(sent)), due) << rate;
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
      {"GET /%2e%2e/secret.txt", 404, ""},
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

// Each faulty answer, then a stop that closes the connection at once.
TEST_F(ServerTest, FaultyFileOptions) {
  Write("files/small.bin", "0123456789abcdefghij");
  // Behaviour (status, rate, truncate, stall, chunked, extra); the answer's status, a header of it, its
  // body, whether the server then ends the connection, at least how many reads it takes.
  const std::tuple<FileBehaviour, int, const char*, std::string, bool, int> cases[] = {
      {{503}, 503, "", "", false, 1},
      {{0, 0, 10}, 200, "Content-Length: 20", "0123456789", true, 1},
      {{0, 0, 20}, 200, "Content-Length: 20", "0123456789abcdefghij", false, 1},  // a cut at the length is none
      {{0, 0, -1, 5}, 200, "Content-Length: 20", "01234", false, 1},
      {{0, 8}, 200, "Content-Length: 20", "0123456789abcdefghij", false, 5},  // a piece at a time
      {{0, 0, -1, -1, true}, 200, "Transfer-Encoding: chunked", "14\r\n0123456789abcdefghij\r\n0\r\n\r\n", false, 1},
      {{0, 0, -1, -1, false, 5}, 200, "Content-Length: 20", "0123456789abcdefghijxxxxx", true, 1},
  };
  for (const auto& [file, status, head, body, ends, pieces_min] : cases) {
    config_.file = file;
    StartServer();
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
    server_->Stop();
    EXPECT_EQ(s.Read(5s, &closed), "");
    EXPECT_TRUE(closed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 4s) << body;
  }
}

}}  // namespace stub::server::testing
