// The HTTP helper, the report queue and the download engine against loopback ports and the servers of ctest's
// win-servers fixture (cmake/windows.cmake).
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "base/shell_win.h"
#include "base/text.h"
#include "download/engine_win.h"
#include "net/http_win.h"
#include "net/report_queue_win.h"
#include "temp_dir.h"

namespace stub {
namespace {

// `path` on the server of ctest's win-servers fixture that the variable `name` names.
std::u16string ServerUrl(const char* name, const char16_t* path) {
  return Widen(getenv(name) ? getenv(name) : "http://unset-outside-ctest.invalid/") + path;
}

// The request's time-outs hold: a loopback port that is listened on but never answered ends the GET.
TEST(HttpGetWin, ASilentServerTimesOut) {
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a = {AF_INET, 0, {}, {}};
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof a;
  bind(s, reinterpret_cast<sockaddr*>(&a), len);
  listen(s, 1);
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  const HttpResult r = HttpGet(u"http://127.0.0.1:" + DecimalText(ntohs(a.sin_port)) + u"/x", 1000, 4096);
  closesocket(s);
  EXPECT_EQ(static_cast<int>(r.failure), static_cast<int>(HttpFailure::kTimeout)) << "error " << r.error;
  EXPECT_TRUE(r.body.empty());
}

std::vector<std::u16string> g_sent;  // what the queue's sender was given, in order
void Record(const std::u16string& url) { g_sent.push_back(url); }
HANDLE Event(bool make, BOOL manual) { return make ? CreateEventW(nullptr, manual, manual, nullptr) : nullptr; }

TEST(ReportQueueWin, WithoutBothItsEventsReportsLeaveInlineAndFlushReturns) {
  for (const int events : {0, 1, 2}) {  // 1: the idle event, 2: the wake event
    g_sent.clear();
    ReportQueue q(Event(events & 2, FALSE), Event(events & 1, TRUE), Record);
    q.Push(u"a");
    EXPECT_EQ(g_sent, std::vector<std::u16string>{u"a"}) << events;  // sent before Push returned
    EXPECT_TRUE(q.Flush(INFINITE));  // nothing left: returns at once
  }
}

// On its first report the sink has its thread run a modal loop of 300 ms (as a message box would) that
// dispatches every message, and counts the reports handled meanwhile.
struct ModalSink final : ProgressSink {
  ModalSink() { current = this; }
  void OnProgress(int32_t, int32_t, int32_t) override {
    if (++reports == 1) SetTimer(nullptr, 0, 1, RunModal);
  }
  static void CALLBACK RunModal(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    const int before = current->reports;
    const ModalLoop modal;
    for (const DWORD end = GetTickCount() + 300; GetTickCount() < end; PumpWindowMessages())
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    current->duringModal = current->reports - before;
  }
  int reports = 0, duringModal = -1;
  static inline ModalSink* current = nullptr;
};

TransferEnd Download(const char* server, int stallSeconds, ModalSink& sink, const char16_t* path = u"f.bin") {
  const TempDir dir;
  const std::u16string file = Utf8ToUtf16Lossy((dir.path() / "f").u8string());
  return URLDownFile(stallSeconds).DownloadFile(ServerUrl(server, path), file, sink);
}

TEST(URLDownFile, ProgressWaitsForAModalLoopAndAStalledTransferIsAbortedNotLeftToEndAsASuccess) {
  ModalSink sink;
  EXPECT_EQ(Download("STUB_TEST_TRICKLE_URL", 60, sink), TransferEnd::Completed);  // 0.8 s of data
  EXPECT_EQ(sink.duringModal, 0);  // nothing handled while the modal loop ran
  EXPECT_GT(sink.reports, 5);      // and the rest after it
  ModalSink stalled;
  const DWORD start = GetTickCount();
  EXPECT_EQ(Download("STUB_TEST_STALL_URL", 1, stalled), TransferEnd::Aborted);
  EXPECT_GE(GetTickCount() - start, 1000u) << "aborted before the stall limit of 1 s";
}

// The request helper and the download engine (whose system may follow redirects unreported) against redirects.
TEST(RedirectsWin, FollowedOnTheWebAFewTimesNeverOffIt) {
  const struct { std::u16string path; HttpFailure get; TransferEnd download; } rows[] = {
      {u"to/ftp://127.0.0.1/x", HttpFailure::kRedirect, TransferEnd::Refused},
      {u"to/f.bin", HttpFailure::kRedirect, TransferEnd::Refused},  // relative, to itself: the sixth is refused
      {u"to//ok", HttpFailure::kNone, TransferEnd::Completed},     // relative, to another page
      {u"to/" + ServerUrl("STUB_TEST_UNTRUSTED_URL", u"f.bin"), HttpFailure::kCertificate, TransferEnd::Failed},
  };
  for (const auto& row : rows) {
    ModalSink sink;
    const HttpResult r = HttpGet(ServerUrl("STUB_TEST_REDIRECT_URL", row.path.c_str()), 1000, 4096);
    EXPECT_TRUE(r.failure == row.get && r.body == (r.ok() ? "redirector" : "")) << Utf16ToUtf8Lossy(row.path);
    EXPECT_EQ(Download("STUB_TEST_REDIRECT_URL", 60, sink, row.path.c_str()), row.download) << Utf16ToUtf8Lossy(row.path);
  }
}

}  // namespace
}  // namespace stub
