// The event reports' queue: reports leave in order from one background
// sender; the program never waits for them, except for a bounded flush on
// the way out.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "base/handle_win.h"
#include "base/lock_win.h"

namespace stub {

class ReportQueue {
 public:
  using SendFn = void (*)(const std::u16string& wireUrl);

  // Owns the wake (auto-reset) and idle (manual-reset, set) events; either
  // may be null when it could not be created. Without both no sender thread
  // is started and every report is sent inline by Push instead.
  ReportQueue(HANDLE wake, HANDLE idle, SendFn send);
  // A queue whose sender thread started must live until the process ends.
  ReportQueue(const ReportQueue&) = delete;
  ReportQueue& operator=(const ReportQueue&) = delete;

  void Push(std::u16string wireUrl);
  // Waits up to `ms` for every queued report to leave; true when they have.
  bool Flush(DWORD ms);

 private:
  static DWORD WINAPI Sender(void* self);
  void SendAll();

  CriticalSection lock_;
  UniqueHandle wake_, idle_;
  HANDLE thread_ = nullptr;  // never closed: it runs until the process ends
  SendFn send_;
  std::vector<std::u16string> pending_;
  bool sending_ = false;
};

}  // namespace stub
