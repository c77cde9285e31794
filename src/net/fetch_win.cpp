// The page fetch: one GET on a worker thread while the window's thread keeps
// dispatching its messages, ended by the reply or by the whole-second
// time-out rule.
#include <windows.h>

#include "base/shell_win.h"
#include "base/text.h"
#include "net/exchange.h"
#include "net/http_win.h"
#include "net/net_win.h"

namespace stub {
namespace {

// Shared by the waiting thread and the worker; whichever lets go last frees
// it, so a worker abandoned at the deadline never writes into freed memory.
struct FetchJob {
  LONG refs = 2;
  std::u16string url;
  DWORD timeoutMs = 0;
  bool ok = false;
  std::string contentType, body;
  HANDLE done = nullptr;

  void Release() {
    if (InterlockedDecrement(&refs) == 0) {
      CloseHandle(done);
      delete this;
    }
  }
};

DWORD WINAPI FetchThread(void* param) {
  auto* job = static_cast<FetchJob*>(param);
  job->ok = HttpGet(job->url, job->timeoutMs, kMaxPageBytes, &job->contentType, &job->body);
  SetEvent(job->done);
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

LocalTime LocalNow() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

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
    job->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = job->done ? CreateThread(nullptr, 0, FetchThread, job, 0, nullptr) : nullptr;
    if (thread) {
      CloseHandle(thread);
    } else {
      if (job->done) CloseHandle(job->done);
      delete job;
      job = nullptr;
    }
  }

  LocalTime start{};
  bool started = false;
  while (!s.NetDone) {
    PumpWindowMessages();
    if (!started) start = LocalNow(), started = true;
    if (job && WaitForSingleObject(job->done, 0) == WAIT_OBJECT_0) {
      // A transport failure (refused, unreachable) ends the wait at once with
      // nothing: there is no reply to wait for.
      if (job->ok) s.NetText = PageText(job->contentType, job->body, DecodeCharset);
      s.NetDone = true;
      break;
    }
    if (FetchTimedOut(start, LocalNow(), timeoutSeconds)) {
      s.NetDone = true;
      break;
    }
    HANDLE handles[1] = {job ? job->done : nullptr};
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
