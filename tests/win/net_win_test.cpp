// The HTTP helper's failures told apart, and the report queue's bounded
// behaviour when its events or thread are missing, against loopback only.
#include <winsock2.h>
#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.h"
#include "loopback_win.h"
#include "net/http_win.h"
#include "net/report_queue_win.h"

namespace stub {
namespace {

// A loopback listener that accepts one connection and then either answers
// `reply` or stays silent until the test ends it.
class LoopbackServer {
 public:
  explicit LoopbackServer(std::string reply) : reply_(std::move(reply)) {
    listener_ = ListenOnLoopback(port_);
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, Serve, this, 0, nullptr);
  }
  ~LoopbackServer() {
    SetEvent(stop_);
    closesocket(listener_);  // ends a pending accept
    WaitForSingleObject(thread_, 20000);
    CloseHandle(thread_);
    CloseHandle(stop_);
  }
  uint16_t port() const { return port_; }

 private:
  static DWORD WINAPI Serve(void* self) {
    auto* s = static_cast<LoopbackServer*>(self);
    const SOCKET c = accept(s->listener_, nullptr, nullptr);
    if (c == INVALID_SOCKET) return 0;
    char request[4096];
    recv(c, request, sizeof request, 0);  // its contents do not matter
    if (!s->reply_.empty()) send(c, s->reply_.data(), static_cast<int>(s->reply_.size()), 0);
    else WaitForSingleObject(s->stop_, 20000);  // silent: hold the connection
    closesocket(c);
    return 0;
  }

  std::string reply_;
  SOCKET listener_;
  uint16_t port_ = 0;
  HANDLE stop_, thread_;
};

// A loopback port with nothing listening: bound, then closed again.
uint16_t ClosedPort() {
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof a;
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  closesocket(s);
  return ntohs(a.sin_port);
}

std::u16string Loopback(uint16_t port) {
  return u"http://127.0.0.1:" + DecimalText(port) + u"/x";
}

TEST(HttpGetWin, AnAnswerCarriesItsStatusTypeAndBoundedBody) {
  const LoopbackServer server(
      "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain; charset=utf-8\r\n"
      "Content-Length: 10\r\nConnection: close\r\n\r\n0123456789");
  const HttpResult r = HttpGet(Loopback(server.port()), 5000, 4);
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.error, 0u);
  EXPECT_EQ(r.status, 404u);
  EXPECT_EQ(r.contentType, "text/plain; charset=utf-8");
  EXPECT_EQ(r.body, "0123");
}

TEST(HttpGetWin, FailuresAreToldApartWithTheSystemError) {
  const LoopbackServer silent("");
  const char* untrusted = getenv("STUB_TEST_UNTRUSTED_URL");  // a self-signed server
  ASSERT_NE(untrusted, nullptr) << "ctest's untrusted-tls fixture starts that server";
  const struct {
    const char* what;
    std::u16string url;
    HttpFailure failure;
  } rows[] = {
      {"closed port", Loopback(ClosedPort()), HttpFailure::kRefused},
      {"unresolvable name", u"http://nonexistent.invalid/x", HttpFailure::kLookup},
      {"silent server", Loopback(silent.port()), HttpFailure::kTimeout},
      {"not a web address", u"ftp://127.0.0.1/x", HttpFailure::kBadUrl},
      {"untrusted certificate", Widen(untrusted), HttpFailure::kCertificate},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const HttpResult r = HttpGet(row.url, 1000, 4096);
    EXPECT_EQ(static_cast<int>(r.failure), static_cast<int>(row.failure)) << "error " << r.error;
    EXPECT_TRUE(r.body.empty());
    if (row.failure != HttpFailure::kBadUrl) {
      EXPECT_NE(r.error, 0u);
    }
  }
}

// The queue's sender records what it was given, in order.
std::vector<std::u16string> g_sent;
void Record(const std::u16string& url) { g_sent.push_back(url); }

TEST(ReportQueueWin, WithoutItsEventsReportsLeaveInlineAndFlushReturns) {
  const struct {
    const char* what;
    bool wake, idle;
  } rows[] = {
      {"no wake event", false, true},
      {"no idle event", true, false},
      {"no events", false, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    g_sent.clear();
    ReportQueue q(row.wake ? CreateEventW(nullptr, FALSE, FALSE, nullptr) : nullptr,
                  row.idle ? CreateEventW(nullptr, TRUE, TRUE, nullptr) : nullptr, Record);
    q.Push(u"a");
    EXPECT_EQ(g_sent, std::vector<std::u16string>{u"a"});  // sent before Push returned
    q.Push(u"b");
    EXPECT_TRUE(q.Flush(INFINITE));  // nothing left: returns at once
    EXPECT_EQ(g_sent, (std::vector<std::u16string>{u"a", u"b"}));
  }
}

TEST(ReportQueueWin, WithItsEventsTheSenderDeliversInOrderBeforeFlushReturns) {
  g_sent.clear();
  // Lives until the process ends, as the program's queue does.
  auto* q = new ReportQueue(CreateEventW(nullptr, FALSE, FALSE, nullptr),
                            CreateEventW(nullptr, TRUE, TRUE, nullptr), Record);
  for (const char16_t* url : {u"1", u"2", u"3"}) q->Push(url);
  EXPECT_TRUE(q->Flush(20000));
  EXPECT_EQ(g_sent, (std::vector<std::u16string>{u"1", u"2", u"3"}));
}

}  // namespace
}  // namespace stub
