// Event reports: queued in order to one background sender; the program never
// waits for them, except for a bounded flush on the way out.
#include <windows.h>

#include <utility>

#include "base/shell_win.h"
#include "base/text.h"
#include "net/exchange.h"
#include "net/http_win.h"
#include "net/net_win.h"
#include "net/report_queue_win.h"

namespace stub {

ReportQueue::ReportQueue(HANDLE wake, HANDLE idle, SendFn send)
    : wake_(wake), idle_(idle), send_(send) {}

void ReportQueue::Push(std::u16string wireUrl) {
  bool threaded;
  {
    Lock hold(lock_);
    pending_.push_back(std::move(wireUrl));
    if (idle_) ResetEvent(idle_.get());
    // The sender waits on both events: without them it would spin or never
    // be waited for, so it is only started when both exist.
    if (!thread_ && wake_ && idle_) thread_ = CreateThread(nullptr, 0, Sender, this, 0, nullptr);
    threaded = thread_ != nullptr;
    if (!threaded) {
      // No sender thread: send here rather than lose the report. A push made
      // while another caller is sending joins that caller's round, so the
      // reports still leave one at a time and in order.
      if (sending_) return;
      sending_ = true;
    }
  }
  if (threaded) SetEvent(wake_.get());
  else SendAll();
}

bool ReportQueue::Flush(DWORD ms) {
  if (!idle_) {
    Lock hold(lock_);
    return pending_.empty() && !sending_;
  }
  return WaitForSingleObject(idle_.get(), ms) == WAIT_OBJECT_0;
}

DWORD WINAPI ReportQueue::Sender(void* self) {
  auto* q = static_cast<ReportQueue*>(self);
  while (WaitForSingleObject(q->wake_.get(), INFINITE) == WAIT_OBJECT_0) q->SendAll();
  return 0;
}

// Takes the whole queue under the lock and sends it outside, round after
// round, until a round finds nothing new.
void ReportQueue::SendAll() {
  for (;;) {
    std::vector<std::u16string> round;
    {
      Lock hold(lock_);
      if (pending_.empty()) {
        sending_ = false;
        if (idle_) SetEvent(idle_.get());
        return;
      }
      round.swap(pending_);
      sending_ = true;
    }
    for (const std::u16string& url : round) send_(url);
  }
}

namespace {

constexpr DWORD kAnswerWaitMs = 300;

void SendOne(const std::u16string& wireUrl) {
  // The answer is never read, so it is waited for only briefly once the
  // request is out: a server that records first and answers late must not
  // hold up the reports behind. A lost report is lost silently.
  HttpGet(wireUrl, 5000, 4096, kAnswerWaitMs);
}

ReportQueue& Queue() {
  // Lives until the process ends. Either event may fail to be created; the
  // queue then sends inline (see ReportQueue).
  static ReportQueue* queue = new ReportQueue(CreateEventW(nullptr, FALSE, FALSE, nullptr),
                                              CreateEventW(nullptr, TRUE, TRUE, nullptr), SendOne);
  return *queue;
}

}  // namespace

void SendReport(const std::u16string& key, const std::u16string& data) {
  Queue().Push(Widen(ReportWire(State(), key, data)));
}

void FlushReports(DWORD ms) { Queue().Flush(ms); }

}  // namespace stub
