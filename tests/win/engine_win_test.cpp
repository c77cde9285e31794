// The download engine against a local server that trickles or stalls its body.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/app_win.h"
#include "base/text.h"
#include "download/engine_win.h"
#include "loopback_win.h"
#include "temp_dir.h"

namespace stub {
namespace {

// Answers one GET with `pieces` pieces of 100 bytes, one every 20 ms, or
// with the headers only and then silence for `stallMs`.
class OneShotServer {
 public:
  OneShotServer(int pieces, DWORD stallMs) : pieces_(pieces), stallMs_(stallMs) {
    listener_ = ListenOnLoopback(port_);
    thread_ = CreateThread(nullptr, 0, Serve, this, 0, nullptr);
  }
  ~OneShotServer() {
    closesocket(listener_);  // ends a pending accept
    WaitForSingleObject(thread_, 20000);
    CloseHandle(thread_);
  }
  std::u16string Url() const { return u"http://127.0.0.1:" + DecimalText(port_) + u"/f.bin"; }

 private:
  static DWORD WINAPI Serve(void* self) {
    auto* s = static_cast<OneShotServer*>(self);
    const SOCKET c = accept(s->listener_, nullptr, nullptr);
    if (c == INVALID_SOCKET) return 0;
    char request[4096];
    recv(c, request, sizeof request, 0);  // its contents do not matter
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                             "Content-Length: " + std::to_string(s->pieces_ * 100) +
                             "\r\nConnection: close\r\n\r\n";
    send(c, head.data(), static_cast<int>(head.size()), 0);
    const std::string piece(100, 'x');
    for (int i = 0; i < s->pieces_ && !s->stallMs_; ++i) {
      Sleep(20);
      send(c, piece.data(), 100, 0);
    }
    Sleep(s->stallMs_);
    closesocket(c);
    return 0;
  }

  int pieces_;
  DWORD stallMs_;
  SOCKET listener_;
  uint16_t port_ = 0;
  HANDLE thread_;
};

constexpr wchar_t kModalClass[] = L"EngineTestModal";  // the sink's message window

// On its first report the sink asks the window's thread to run a modal loop
// of 300 ms (as a message box opened by a click would) that dispatches every
// message; it counts reports handled while such a loop runs.
class ModalSink final : public ProgressSink {
 public:
  ModalSink() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kModalClass;
    RegisterClassW(&wc);
    wnd_ = CreateWindowExW(0, kModalClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           wc.hInstance, nullptr);
  }
  ~ModalSink() override { DestroyWindow(wnd_); }
  void OnProgress(int32_t, int32_t, int32_t) override {
    if (++reports == 1) PostMessageW(wnd_, WM_APP, 0, 0);
  }
  int reports = 0, duringModal = -1;
  static ModalSink* current;

 private:
  static LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg != WM_APP) return DefWindowProcW(wnd, msg, wp, lp);
    const int before = current->reports;
    const ModalLoop modal;
    const DWORD end = GetTickCount() + 300;
    while (GetTickCount() < end) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
      PumpWindowMessages();
    }
    current->duringModal = current->reports - before;
    return 0;
  }
  HWND wnd_;
};
ModalSink* ModalSink::current = nullptr;

TEST(URLDownFile, ProgressWaitsWhileAModalLoopRunsAndCatchesUpAfter) {
  OneShotServer server(40, 0);  // about 0.8 s of data
  TempDir dir;
  ModalSink sink;
  ModalSink::current = &sink;
  URLDownFile engine(60);
  const TransferEnd end =
      engine.DownloadFile(server.Url(), Utf8ToUtf16Lossy((dir.path() / "f.bin").u8string()), sink);
  EXPECT_EQ(end, TransferEnd::Completed);
  EXPECT_EQ(sink.duringModal, 0);  // nothing handled while the modal loop ran
  EXPECT_GT(sink.reports, 5);      // and the rest after it
}

TEST(URLDownFile, AStalledTransferIsAbortedAndSaysSo) {
  OneShotServer server(40, 4000);  // headers, then silence
  TempDir dir;
  ModalSink sink;
  ModalSink::current = &sink;
  URLDownFile engine(1);
  // Left alone the transfer would end when the server closes, as a success.
  EXPECT_EQ(engine.DownloadFile(server.Url(), Utf8ToUtf16Lossy((dir.path() / "f.bin").u8string()), sink),
            TransferEnd::Aborted);
}

}  // namespace
}  // namespace stub
