// The window decoration's errors as users and administrators see them.
#include <windows.h>

#include "base/shell_win.h"
#include "base/handle_win.h"
#include "decor/report.h"
#include "decor/subclass_win.h"

namespace stub {
namespace {

struct EventSourceTraits {
  using Type = HANDLE;
  static HANDLE Invalid() { return nullptr; }
  static void Close(HANDLE h) { DeregisterEventSource(h); }
};

class EventLogAndBox final : public Reporter {
 public:
  void Report(std::u16string_view routine, std::u16string_view message) override {
    // The log entry is a courtesy to administrators: where the log cannot be
    // written (no rights, no service), the message box still tells the user.
    const std::u16string entry = ReportLogText(routine, message);
    Unique<EventSourceTraits> source(RegisterEventSourceW(nullptr, L"aShadow"));
    if (source) {
      const wchar_t* strings[] = {W(entry)};
      ReportEventW(source.get(), EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
    }
    // The answer is always OK; nothing to check.
    MessageBoxW(nullptr, W(ReportBoxText(message)), W(ReportBoxTitle(routine)),
                MB_ICONEXCLAMATION | MB_OK);
  }
};

}  // namespace

Reporter& SystemReporter() {
  static EventLogAndBox reporter;
  return reporter;
}

}  // namespace stub
