// Event reports: queued in order to one background sender; the program never
// waits for them, except for a bounded flush on the way out.
#include <windows.h>

#include <vector>

#include "base/shell_win.h"
#include "net/exchange.h"
#include "net/http_win.h"
#include "net/net_win.h"

namespace stub {
namespace {

constexpr DWORD kAnswerWaitMs = 300;

class ReportQueue {
 public:
  ReportQueue() {
    InitializeCriticalSection(&lock_);
    wake_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    idle_ = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  }

  void Push(std::u16string url) {
    EnterCriticalSection(&lock_);
    pending_.push_back(std::move(url));
    ResetEvent(idle_);
    // The sender waits on both events: without them it would spin or never
    // be waited for, so it is only started when both exist.
    if (!thread_ && wake_ && idle_) thread_ = CreateThread(nullptr, 0, Sender, this, 0, nullptr);
    const bool running = thread_ != nullptr;
    LeaveCriticalSection(&lock_);
    if (running) SetEvent(wake_);
    else SendAll();  // no thread could be started: send here rather than lose it
  }

  void Flush(DWORD ms) { WaitForSingleObject(idle_, ms); }

 private:
  static DWORD WINAPI Sender(void* self) {
    auto* q = static_cast<ReportQueue*>(self);
    while (WaitForSingleObject(q->wake_, INFINITE) == WAIT_OBJECT_0) q->SendAll();
    return 0;
  }

  void SendAll() {
    for (;;) {
      EnterCriticalSection(&lock_);
      if (next_ == pending_.size()) {
        pending_.clear();
        next_ = 0;
        SetEvent(idle_);
        LeaveCriticalSection(&lock_);
        return;
      }
      const std::u16string url = pending_[next_++];
      LeaveCriticalSection(&lock_);
      // The answer is never read, so it is waited for only briefly once the
      // request is out: a server that records first and answers late must
      // not hold up the reports behind. A lost report is lost silently.
      HttpGet(url, 5000, 4096, nullptr, nullptr, kAnswerWaitMs);
    }
  }

  CRITICAL_SECTION lock_;
  HANDLE wake_, idle_, thread_ = nullptr;
  std::vector<std::u16string> pending_;
  size_t next_ = 0;
};

ReportQueue& Queue() {
  static ReportQueue* queue = new ReportQueue;  // lives until the process ends
  return *queue;
}

}  // namespace

void SendReport(const std::u16string& key, const std::u16string& data) {
  Queue().Push(WireUrlText(ReportUrl(State(), key, data)));
}

void FlushReports(DWORD ms) { Queue().Flush(ms); }

}  // namespace stub
