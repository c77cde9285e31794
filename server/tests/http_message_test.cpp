#include "server/http_message.h"

#include <gtest/gtest.h>

namespace stub::server {
namespace {

TEST(ParseRequestLine, SplitsLeniently) {
  const struct {
    std::string line;
    bool ok;
    std::string method, target, version;
  } cases[] = {
      {"GET /?Key=Info HTTP/1.1", true, "GET", "/?Key=Info", "HTTP/1.1"},
      {"GET /a b c HTTP/1.0", true, "GET", "/a b c", "HTTP/1.0"},
      {"GET /a HTTP/1.1 HTTP/1.1", true, "GET", "/a HTTP/1.1", "HTTP/1.1"},
      {"GET  /a HTTP/1.1", true, "GET", " /a", "HTTP/1.1"},
      {"GET /a", false, "GET", "/a", ""},
      {"GET /a HTTP/2", false, "GET", "/a", "HTTP/2"},
      {"GET /a http/1.1", false, "GET", "/a http/1.1", ""},
      {"GARBAGE", false, "GARBAGE", "", ""},
      {"", false, "", "", ""},
      {" /a HTTP/1.1", false, "", "/a", "HTTP/1.1"},
      {"GET HTTP/1.1", false, "GET", "HTTP/1.1", ""},  // a lone word is the target
  };
  for (const auto& c : cases) {
    HttpRequest req;
    EXPECT_EQ(ParseRequestLine(c.line, req), c.ok) << c.line;
    EXPECT_EQ(req.method, c.method) << c.line;
    EXPECT_EQ(req.target, c.target) << c.line;
    EXPECT_EQ(req.version, c.version) << c.line;
  }
}

TEST(ParseRequestHead, HeadersAndConnectionRules) {
  HttpRequest req;
  ASSERT_TRUE(ParseRequestHead(
      "GET / HTTP/1.1\r\nHost: a\r\nbad line\r\nconnection:  Keep-Alive, Close \r\n"
      "Content-Length: 12\n\r\nignored: yes\r\n",
      req));
  ASSERT_EQ(req.headers.size(), 3u);
  ASSERT_TRUE(req.Header("CONNECTION"));
  EXPECT_EQ(*req.Header("Connection"), "Keep-Alive, Close");
  EXPECT_EQ(req.Header("ignored"), nullptr);
  EXPECT_FALSE(KeepAlive(req));
  EXPECT_EQ(RequestBodyLength(req), 12);

  const struct {
    std::string head;
    bool keep_alive;
    int64_t body;
  } cases[] = {
      {"GET / HTTP/1.1\r\n\r\n", true, 0},
      {"GET / HTTP/1.0\r\nConnection: keep-alive\r\n\r\n", false, 0},
      {"GET /\r\n\r\n", false, 0},
      {"POST / HTTP/1.1\r\nContent-Length: x1\r\n\r\n", true, -1},
      {"POST / HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n", true, -1},
      {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", true, -1},
      {"", false, 0},
  };
  for (const auto& c : cases) {
    HttpRequest r;
    ParseRequestHead(c.head, r);
    EXPECT_EQ(KeepAlive(r), c.keep_alive) << c.head;
    EXPECT_EQ(RequestBodyLength(r), c.body) << c.head;
  }
}

TEST(ResponseHead, Layout) {
  EXPECT_EQ(ResponseHead(404, {{"Content-Length", "0"}}, true),
            "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(ResponseHead(299, {}, false), "HTTP/1.1 299 Status\r\n\r\n");
}

}  // namespace
}  // namespace stub::server
