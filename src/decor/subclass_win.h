// The subclassing engine: an owner watches chosen messages of a window of this
// process before and after the window's own procedure runs. The window's
// procedure is replaced (GWLP_WNDPROC) by one shared procedure that finds the
// window's record and runs the portable dispatch rule (decor/dispatch.h) on
// it. Everything runs on the thread that owns the subclassed windows.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string_view>

#include "decor/dispatch.h"
#include "decor/msg_table.h"
#include "decor/report.h"

namespace stub {

// The owner's one message handler, the callback that ordinal 1 selects.
// `handled` enters false and `result` 0 (in the after call: what the window's
// procedure returned); setting `handled` in the before call returns `result`
// at once. `userData` refers to the window's user value.
class SubclassOwner {
 public:
  virtual void OnFormMessage(bool before, bool& handled, intptr_t& result, HWND wnd, UINT msg,
                             WPARAM wParam, LPARAM lParam, intptr_t& userData) = 0;

 protected:
  ~SubclassOwner() = default;
};

// What users see of an engine error: an error entry in the application event
// log, then a modal message box with an exclamation icon.
Reporter& SystemReporter();

struct SubclassedWindow;  // the per-window record

class Subclasser {
 public:
  // `self` is the owner when sc_Subclass names none; errors go to `reporter`.
  explicit Subclasser(SubclassOwner* self, Reporter& reporter = SystemReporter());
  ~Subclasser();  // ends every subclassing first, so no window calls a gone owner
  Subclasser(const Subclasser&) = delete;
  Subclasser& operator=(const Subclasser&) = delete;

  // Starts watching `wnd`; false after a report. Only ordinal 1 names a
  // callback (the owner's OnFormMessage). A window can be subclassed by one
  // engine at a time.
  bool sc_Subclass(HWND wnd, intptr_t userValue = 0, int ordinal = 1,
                   SubclassOwner* owner = nullptr, bool runStateGuard = false);
  // Adds / removes a message (or ALL_MESSAGES) in the tables that `when`
  // selects (WHEN_BEFORE, WHEN_AFTER).
  void sc_WatchMessage(HWND wnd, uint32_t message, uint32_t when);
  void sc_UnwatchMessage(HWND wnd, uint32_t message, uint32_t when);
  // Stops every callback for `wnd` and forgets it; the window gets its own
  // procedure back when the next message has passed through.
  void sc_UnSubclass(HWND wnd);
  void sc_UnSubclassAll();
  // The window's own procedure; 0 when the window is not subclassed here.
  LRESULT sc_CallPrevious(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
  // The user value passed to the callback; 0 when not subclassed here.
  intptr_t sc_UserData(HWND wnd);
  void sc_UserData(HWND wnd, intptr_t value);

  // The engine's one way to report an error; the caller then fails quietly.
  void zReport(std::u16string_view routine, std::u16string_view message);

 private:
  SubclassedWindow* Registered(HWND wnd) const;
  SubclassedWindow* zMap_hWnd(HWND wnd);
  void Register(SubclassedWindow* w);
  void Forget(SubclassedWindow* w);

  SubclassOwner* self_;
  Reporter& reporter_;
  bool started_ = false;                  // the registry exists
  SubclassedWindow* registry_ = nullptr;  // newest first
};

// Records alive in the process: subclassed windows, plus those whose removal
// still waits for a message. Lets the tests see that nothing is left behind.
int SubclassRecordCount();

}  // namespace stub
