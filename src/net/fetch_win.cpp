// The page fetch: one GET on a worker thread while the window's thread keeps
// dispatching its messages, ended by the reply or by the whole-second
// time-out rule.
#include <windows.h>

#include "base/shell_win.h"
#include "base/handle_win.h"
#include "base/text.h"
#include "net/exchange.h"
#include "net/http_win.h"
#include "base/two_owners_win.h"
#include "net/net_win.h"

namespace stub {
namespace {

// Shared by the waiting thread and the worker.
struct FetchJob : TwoOwners<FetchJob> {
  std::u16string url;
  DWORD timeoutMs = 0;
  HttpResult result;
  UniqueHandle done;
};

DWORD WINAPI FetchThread(void* param) {
  auto* job = static_cast<FetchJob*>(param);
  job->result = HttpGet(job->url, job->timeoutMs, kMaxPageBytes);
  SetEvent(job->done.get());
  job->Release();
  return 0;
}

// Milliseconds until the next whole second of the local clock, so the
// time-out rule is checked right after each boundary and never in between.
DWORD UntilNextSecond() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return 1001 - t.wMilliseconds;
}

}  // namespace

void FetchPage(RunState& s, const std::u16string& url, int32_t timeoutSeconds) {
  s.NetText.clear();
  s.NetDone = false;

  // Only a web document counts as the reply; anything else (a blank or
  // malformed address) leaves the wait to the time-out.
  FetchJob* job = nullptr;
  if (IsReplyAddress(url)) {
    job = new FetchJob;
    job->url = WireUrlText(url);
    job->timeoutMs = timeoutSeconds > 0 ? static_cast<DWORD>(timeoutSeconds) * 1000 : 60000;
    job->done.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    // Without the event or the thread there is nothing to wait for: the wait
    // below ends by the time-out alone.
    const UniqueHandle thread(job->done ? CreateThread(nullptr, 0, FetchThread, job, 0, nullptr)
                                        : nullptr);
    if (!thread) {
      job->Release();  // the worker's share: it never started
      job->Release();
      job = nullptr;
    }
  }

  LocalTime start{};
  bool started = false;
  while (!s.NetDone) {
    PumpWindowMessages();
    if (!started) start = LocalNow(), started = true;
    if (job && WaitForSingleObject(job->done.get(), 0) == WAIT_OBJECT_0) {
      // A transport failure (refused, unreachable) ends the wait at once with
      // nothing: there is no reply to wait for.
      if (job->result.ok())
        s.NetText = PageText(job->result.contentType, job->result.body, DecodeCharset);
      s.NetDone = true;
      break;
    }
    if (FetchTimedOut(start, LocalNow(), timeoutSeconds)) {
      s.NetDone = true;
      break;
    }
    HANDLE handles[1] = {job ? job->done.get() : nullptr};
    MsgWaitForMultipleObjectsEx(job ? 1 : 0, handles, UntilNextSecond(), QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
  }
  if (job) job->Release();
}

void GetNet(RunState& s) {
  FetchPage(s, InfoRequestUrl(s), 5);
  std::u16string data;
  if (FinishGetNet(s, data)) SendReport(u"Setup", data);
}

}  // namespace stub
