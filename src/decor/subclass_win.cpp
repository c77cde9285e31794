#include "decor/subclass_win.h"

#include <cstdlib>
#include <new>

#include "base/text.h"

namespace stub {

// One record per subclassed window. The engine that subclassed the window
// lists it (`engine`); the process-wide list of installed records lets the
// shared window procedure find it. A record is freed once neither list holds
// it and no call of the window procedure is using it.
struct SubclassedWindow {
  SubclassRecord rec;
  HWND wnd = nullptr;
  WNDPROC previous = nullptr;           // the window's procedure before ours
  Subclasser* engine = nullptr;         // null once the engine has forgotten the window
  SubclassedWindow* nextRegistered = nullptr;
  SubclassedWindow* nextInstalled = nullptr;
  bool installed = false;               // our procedure is in the window's chain
  int pins = 0;                         // calls of the window procedure using the record
};

namespace {

SubclassedWindow* g_installed = nullptr;
int g_records = 0;

LRESULT CALLBACK SubclassProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);

SubclassedWindow* FindInstalled(HWND wnd) {
  for (SubclassedWindow* w = g_installed; w; w = w->nextInstalled)
    if (w->wnd == wnd) return w;
  return nullptr;
}

void Uninstall(SubclassedWindow& w) {
  for (SubclassedWindow** p = &g_installed; *p; p = &(*p)->nextInstalled) {
    if (*p == &w) {
      *p = w.nextInstalled;
      break;
    }
  }
  w.nextInstalled = nullptr;
  w.installed = false;
}

// Allocated from the C heap so that running out of memory is a report, not
// the end of the process.
SubclassedWindow* NewRecord() {
  void* mem = std::malloc(sizeof(SubclassedWindow));
  if (!mem) return nullptr;
  ++g_records;
  return new (mem) SubclassedWindow();
}

void ReleaseIfUnused(SubclassedWindow* w) {
  if (w->installed || w->engine || w->pins > 0) return;
  w->~SubclassedWindow();
  std::free(w);
  --g_records;
}

void CallOwner(void* owner, bool before, bool& handled, intptr_t& result, uintptr_t wnd,
               uint32_t msg, uintptr_t wParam, intptr_t lParam, intptr_t& userData) {
  static_cast<SubclassOwner*>(owner)->OnFormMessage(before, handled, result,
                                                    reinterpret_cast<HWND>(wnd), msg, wParam,
                                                    lParam, userData);
}

class Hooks final : public DispatchHooks {
 public:
  explicit Hooks(SubclassedWindow& w) : w_(w) {}

  intptr_t CallPrevious(uintptr_t wnd, uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
    return CallWindowProcW(w_.previous, reinterpret_cast<HWND>(wnd), msg, wParam, lParam);
  }

  void RestorePrevious(uintptr_t) override {
    if (!w_.installed) return;  // the window is already gone
    // Someone replaced the procedure after us and calls ours as theirs: we
    // cannot step out of the chain, so the record stays and only passes
    // messages on (the dispatch rule does that for a removed record).
    if (GetWindowLongPtrW(w_.wnd, GWLP_WNDPROC) != reinterpret_cast<LONG_PTR>(SubclassProc))
      return;
    SetLastError(0);
    if (!SetWindowLongPtrW(w_.wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(w_.previous)) &&
        GetLastError() != 0)
      return;  // still ours: it keeps passing messages on
    Uninstall(w_);
  }

 private:
  SubclassedWindow& w_;
};

LRESULT CALLBACK SubclassProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  SubclassedWindow* w = FindInstalled(wnd);
  // Cannot happen while the procedure is installed; a record is found for
  // every window that runs it.
  if (!w) return DefWindowProcW(wnd, msg, wParam, lParam);
  ++w->pins;
  Hooks hooks(*w);
  const intptr_t result =
      Dispatch(w->rec, hooks, reinterpret_cast<uintptr_t>(wnd), msg, wParam, lParam);
  // The window is gone once its last message has passed: its handle may name
  // a new window from now on, so the record leaves the process-wide list.
  // The engine may still list it until it forgets the window.
  if (msg == WM_NCDESTROY && w->installed) Uninstall(*w);
  --w->pins;
  ReleaseIfUnused(w);
  return result;
}

}  // namespace

int SubclassRecordCount() { return g_records; }

Subclasser::Subclasser(SubclassOwner* self, Reporter& reporter)
    : self_(self), reporter_(reporter) {}

Subclasser::~Subclasser() { sc_UnSubclassAll(); }

void Subclasser::zReport(std::u16string_view routine, std::u16string_view message) {
  reporter_.Report(routine, message);
}

SubclassedWindow* Subclasser::Registered(HWND wnd) const {
  for (SubclassedWindow* w = registry_; w; w = w->nextRegistered)
    if (w->wnd == wnd) return w;
  return nullptr;
}

void Subclasser::Register(SubclassedWindow* w) {
  w->engine = this;
  w->nextRegistered = registry_;
  registry_ = w;
}

void Subclasser::Forget(SubclassedWindow* w) {
  for (SubclassedWindow** p = &registry_; *p; p = &(*p)->nextRegistered) {
    if (*p == w) {
      *p = w->nextRegistered;
      break;
    }
  }
  w->nextRegistered = nullptr;
  w->engine = nullptr;
  ReleaseIfUnused(w);
}

bool Subclasser::sc_Subclass(HWND wnd, intptr_t userValue, int ordinal, SubclassOwner* owner,
                             bool /*runStateGuard*/) {
  // The run-state guard asks a hosting development environment whether it is
  // running; this program never runs inside one, so there is nothing to ask.
  if (!IsWindow(wnd)) {
    zReport(kRoutineSubclass, kInvalidWindow);
    return false;
  }
  DWORD process = 0;
  // 0 (no thread) only for a window that vanished since IsWindow; the
  // process test then refuses it too.
  GetWindowThreadProcessId(wnd, &process);
  if (process != GetCurrentProcessId()) {
    zReport(kRoutineSubclass, kOtherProcess);
    return false;
  }
  if (!owner) owner = self_;
  // The owner has one handler; no other ordinal names a callback.
  if (!owner || ordinal != 1) {
    zReport(kRoutineSubclass, kCallbackNotFound);
    return false;
  }
  started_ = true;

  if (SubclassedWindow* old = Registered(wnd)) {
    if (old->installed) {
      zReport(kRoutineSubclass, kAlreadySubclassed);
      return false;
    }
    // A window that was destroyed while subclassed: its handle now names a
    // new window, and the stale record is dropped.
    Forget(old);
  }
  SubclassedWindow* w = FindInstalled(wnd);
  if (w && w->engine) {
    // Another engine's: one shared procedure cannot tell two stacked records
    // of the same window apart.
    zReport(kRoutineSubclass, kAlreadySubclassed);
    return false;
  }
  if (w) {
    // Our procedure is still in the window's chain, waiting to be removed on
    // the next message (or unable to leave it): the record starts over
    // instead of a second one being stacked on top.
    w->rec.removeRequested = false;
    w->rec.removed = false;
    w->rec.before = MsgTable();
    w->rec.after = MsgTable();
  } else {
    w = NewRecord();
    if (!w) {
      zReport(kRoutineSubclass, kAllocFailed + DecimalText(ERROR_NOT_ENOUGH_MEMORY));
      return false;
    }
    w->wnd = wnd;
    SetLastError(0);
    const LONG_PTR previous =
        SetWindowLongPtrW(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SubclassProc));
    if (!previous) {
      const DWORD error = GetLastError();
      ReleaseIfUnused(w);
      zReport(kRoutineSubclass, kSetWindowLongFailed + DecimalText(error));
      return false;
    }
    // No message reaches the window between the replacement and this: both
    // run on the window's own thread.
    w->previous = reinterpret_cast<WNDPROC>(previous);
    w->installed = true;
    w->nextInstalled = g_installed;
    g_installed = w;
  }
  w->rec.callback = CallOwner;
  w->rec.owner = owner;
  w->rec.userData = userValue;
  Register(w);
  return true;
}

SubclassedWindow* Subclasser::zMap_hWnd(HWND wnd) {
  if (!started_) {
    zReport(kRoutineMapWindow, kNotStarted);
    return nullptr;
  }
  SubclassedWindow* w = Registered(wnd);
  if (!w) zReport(kRoutineMapWindow, kNotSubclassed);
  return w;
}

void Subclasser::sc_WatchMessage(HWND wnd, uint32_t message, uint32_t when) {
  if (SubclassedWindow* w = zMap_hWnd(wnd))
    WatchMessage(w->rec.before, w->rec.after, message, when, reporter_);
}

void Subclasser::sc_UnwatchMessage(HWND wnd, uint32_t message, uint32_t when) {
  if (SubclassedWindow* w = zMap_hWnd(wnd))
    UnwatchMessage(w->rec.before, w->rec.after, message, when, reporter_);
}

void Subclasser::sc_UnSubclass(HWND wnd) {
  if (!started_) {
    zReport(kRoutineUnSubclass, kNotSubclassed);
    return;
  }
  SubclassedWindow* w = zMap_hWnd(wnd);
  if (!w) return;
  RequestRemoval(w->rec);
  Forget(w);  // frees it at once when the window is already gone
}

void Subclasser::sc_UnSubclassAll() {
  if (!started_) return;
  while (registry_) {  // newest first
    RequestRemoval(registry_->rec);
    Forget(registry_);
  }
  started_ = false;
}

LRESULT Subclasser::sc_CallPrevious(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  SubclassedWindow* w = zMap_hWnd(wnd);
  // A destroyed window's procedure is not called with its stale handle.
  if (!w || !w->installed) return 0;
  return CallWindowProcW(w->previous, wnd, msg, wParam, lParam);
}

intptr_t Subclasser::sc_UserData(HWND wnd) {
  SubclassedWindow* w = zMap_hWnd(wnd);
  return w ? w->rec.userData : 0;
}

void Subclasser::sc_UserData(HWND wnd, intptr_t value) {
  if (SubclassedWindow* w = zMap_hWnd(wnd)) w->rec.userData = value;
}

}  // namespace stub
