// The subclassing engine on real windows: call order, Handled, the deferred
// removal, refusals and the reports.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "decor/subclass_win.h"
#include "decor_test_support.h"

namespace stub {
namespace {

using test::RecordingReporter;
using test::ReportEntry;
using test::TestWindow;

constexpr UINT kOuter = WM_APP + 1;   // the window procedure sends kNested while handling it
constexpr UINT kNested = WM_APP + 2;
constexpr UINT kPlain = WM_APP + 3;

// What happened, in order: 'b' before call, 'p' the window's own procedure,
// 'a' after call.
struct Event {
  char what;
  UINT msg;
  bool operator==(const Event& o) const { return what == o.what && msg == o.msg; }
};
std::vector<Event> g_events;
LONG_PTR g_procDuringNested = 0;  // the window's procedure while kNested was being handled

LRESULT CALLBACK OwnProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg < WM_APP) return DefWindowProcW(wnd, msg, wp, lp);
  g_events.push_back({'p', msg});
  if (msg == kOuter) {
    SendMessageW(wnd, kNested, 0, 0);
    g_procDuringNested = GetWindowLongPtrW(wnd, GWLP_WNDPROC);
  }
  return 100 + (msg - WM_APP);
}

class Owner final : public SubclassOwner {
 public:
  void OnFormMessage(bool before, bool& handled, intptr_t& result, HWND wnd, UINT msg, WPARAM,
                     LPARAM, intptr_t& userData) override {
    g_events.push_back({before ? 'b' : 'a', msg});
    if (on) on(before, msg, handled, result, wnd, userData);
  }
  std::function<void(bool, UINT, bool&, intptr_t&, HWND, intptr_t&)> on;
};

class DecorSubclassWin : public ::testing::Test {
 protected:
  void SetUp() override {
    g_events.clear();
    ASSERT_NE(window.get(), nullptr);
    own = GetWindowLongPtrW(window.get(), GWLP_WNDPROC);
  }
  LRESULT Send(UINT msg) { return SendMessageW(window.get(), msg, 0, 0); }
  LONG_PTR Proc() const { return GetWindowLongPtrW(window.get(), GWLP_WNDPROC); }

  RecordingReporter reports;
  Owner owner;
  TestWindow window{OwnProc};
  LONG_PTR own = 0;
};

TEST_F(DecorSubclassWin, OwnerSeesTheWatchedMessagesAroundTheWindowProcedure) {
  Subclasser engine(&owner, reports);
  ASSERT_TRUE(engine.sc_Subclass(window.get()));
  EXPECT_NE(Proc(), own);
  engine.sc_WatchMessage(window.get(), kNested, WHEN_BEFORE);
  engine.sc_WatchMessage(window.get(), kPlain, WHEN_BEFORE | WHEN_AFTER);
  owner.on = [](bool before, UINT msg, bool&, intptr_t& result, HWND, intptr_t&) {
    if (!before && msg == kPlain) {
      EXPECT_EQ(result, 103);  // what the window's procedure returned
      result = 7;
    }
  };
  EXPECT_EQ(Send(kOuter), 101);
  EXPECT_EQ(Send(kPlain), 7);
  const std::vector<Event> expected = {{'p', kOuter}, {'b', kNested}, {'p', kNested},
                                       {'b', kPlain}, {'p', kPlain},  {'a', kPlain}};
  EXPECT_EQ(g_events, expected);
  EXPECT_TRUE(reports.entries.empty());
}

TEST_F(DecorSubclassWin, HandledInTheBeforeCallSkipsTheWindowProcedure) {
  Subclasser engine(&owner, reports);
  ASSERT_TRUE(engine.sc_Subclass(window.get()));
  engine.sc_WatchMessage(window.get(), kPlain, WHEN_BEFORE | WHEN_AFTER);
  owner.on = [](bool, UINT, bool& handled, intptr_t& result, HWND, intptr_t&) {
    handled = true;
    result = 42;
  };
  EXPECT_EQ(Send(kPlain), 42);
  EXPECT_EQ(g_events, (std::vector<Event>{{'b', kPlain}}));
}

TEST_F(DecorSubclassWin, UserDataAndCallPrevious) {
  Subclasser engine(&owner, reports);
  ASSERT_TRUE(engine.sc_Subclass(window.get(), 5));
  engine.sc_WatchMessage(window.get(), kPlain, WHEN_BEFORE);
  Subclasser* e = &engine;
  owner.on = [e](bool, UINT msg, bool& handled, intptr_t& result, HWND wnd, intptr_t& userData) {
    EXPECT_EQ(userData, 5);
    userData = 6;
    result = e->sc_CallPrevious(wnd, msg, 0, 0) + 1000;
    handled = true;
  };
  EXPECT_EQ(Send(kPlain), 1103);
  EXPECT_EQ(g_events, (std::vector<Event>{{'b', kPlain}, {'p', kPlain}}));
  EXPECT_EQ(engine.sc_UserData(window.get()), 6);
  engine.sc_UserData(window.get(), 9);
  EXPECT_EQ(engine.sc_UserData(window.get()), 9);
  EXPECT_TRUE(reports.entries.empty());
}

TEST_F(DecorSubclassWin, RefusedWindowsAreReportedAndNothingIsKept) {
  HWND gone = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(gone, nullptr);
  DestroyWindow(gone);
  HWND desktop = GetDesktopWindow();
  DWORD desktopProcess = 0;
  GetWindowThreadProcessId(desktop, &desktopProcess);
  ASSERT_NE(desktopProcess, GetCurrentProcessId()) << "the desktop must be another process's";

  struct Case {
    const char* name;
    HWND wnd;
    int ordinal;
    SubclassOwner* owner;
    const char16_t* message;
  } const cases[] = {
      {"no window", nullptr, 1, &owner, kInvalidWindow},
      {"made-up handle", reinterpret_cast<HWND>(0x7FF0F00C), 1, &owner, kInvalidWindow},
      {"destroyed window", gone, 1, &owner, kInvalidWindow},
      {"another process's window", desktop, 1, &owner, kOtherProcess},
      {"no such ordinal", window.get(), 2, &owner, kCallbackNotFound},
      {"no owner at all", window.get(), 1, nullptr, kCallbackNotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingReporter r;
    Subclasser engine(nullptr, r);  // no owner of its own
    const int records = SubclassRecordCount();
    EXPECT_FALSE(engine.sc_Subclass(c.wnd, 0, c.ordinal, c.owner));
    EXPECT_EQ(SubclassRecordCount(), records);
    EXPECT_EQ(Proc(), own);
    // Nothing was started: the registry does not exist.
    engine.sc_WatchMessage(c.wnd, kPlain, WHEN_BEFORE);
    EXPECT_EQ(r.entries, (std::vector<ReportEntry>{{kRoutineSubclass, c.message},
                                                   {kRoutineMapWindow, kNotStarted}}));
  }
}

TEST_F(DecorSubclassWin, SecondSubclassingIsRefusedAndTheFirstKeepsWorking) {
  Subclasser engine(&owner, reports);
  ASSERT_TRUE(engine.sc_Subclass(window.get()));
  engine.sc_WatchMessage(window.get(), kPlain, WHEN_BEFORE);
  const LONG_PTR installed = Proc();
  const int records = SubclassRecordCount();

  EXPECT_FALSE(engine.sc_Subclass(window.get()));
  Owner otherOwner;
  RecordingReporter otherReports;
  Subclasser other(&otherOwner, otherReports);
  EXPECT_FALSE(other.sc_Subclass(window.get()));  // one engine per window

  const ReportEntry already{kRoutineSubclass, kAlreadySubclassed};
  EXPECT_EQ(reports.entries, std::vector<ReportEntry>{already});
  EXPECT_EQ(otherReports.entries, std::vector<ReportEntry>{already});
  EXPECT_EQ(SubclassRecordCount(), records);
  EXPECT_EQ(Proc(), installed);
  EXPECT_EQ(Send(kPlain), 103);
  EXPECT_EQ(g_events, (std::vector<Event>{{'b', kPlain}, {'p', kPlain}}));
}

TEST_F(DecorSubclassWin, RemovalDuringANestedMessageWaitsForTheOutermostCall) {
  Subclasser engine(&owner, reports);
  ASSERT_TRUE(engine.sc_Subclass(window.get()));
  const LONG_PTR installed = Proc();
  engine.sc_WatchMessage(window.get(), kOuter, WHEN_BEFORE | WHEN_AFTER);
  engine.sc_WatchMessage(window.get(), kNested, WHEN_BEFORE | WHEN_AFTER);
  Subclasser* e = &engine;
  owner.on = [e](bool before, UINT msg, bool&, intptr_t&, HWND wnd, intptr_t&) {
    if (before && msg == kNested) e->sc_UnSubclass(wnd);
  };
  EXPECT_EQ(Send(kOuter), 101);
  // Still installed while the outer message ran; no callback after the request.
  EXPECT_EQ(g_procDuringNested, installed);
  EXPECT_EQ(g_events, (std::vector<Event>{
                          {'b', kOuter}, {'p', kOuter}, {'b', kNested}, {'p', kNested}}));
  EXPECT_EQ(Proc(), own);
  EXPECT_EQ(SubclassRecordCount(), 0);
  EXPECT_TRUE(reports.entries.empty());

  // Forgotten: the window can be subclassed again.
  EXPECT_TRUE(engine.sc_Subclass(window.get()));
}

TEST_F(DecorSubclassWin, RemovalOutsideAMessageHappensWithTheNextMessage) {
  Subclasser engine(&owner, reports);
  ASSERT_TRUE(engine.sc_Subclass(window.get()));
  engine.sc_WatchMessage(window.get(), ALL_MESSAGES, WHEN_BEFORE);
  const LONG_PTR installed = Proc();
  engine.sc_UnSubclass(window.get());
  EXPECT_EQ(Proc(), installed);
  EXPECT_EQ(Send(kPlain), 103);
  EXPECT_EQ(g_events, (std::vector<Event>{{'p', kPlain}}));  // no callback any more
  EXPECT_EQ(Proc(), own);
  EXPECT_EQ(SubclassRecordCount(), 0);

  // Subclassing again before the removal happened takes the waiting record up.
  ASSERT_TRUE(engine.sc_Subclass(window.get(), 3));
  engine.sc_UnSubclass(window.get());
  ASSERT_TRUE(engine.sc_Subclass(window.get(), 4));
  engine.sc_WatchMessage(window.get(), kPlain, WHEN_BEFORE);
  EXPECT_EQ(SubclassRecordCount(), 1);
  g_events.clear();
  owner.on = [](bool, UINT, bool&, intptr_t&, HWND, intptr_t& userData) {
    EXPECT_EQ(userData, 4);
  };
  EXPECT_EQ(Send(kPlain), 103);
  EXPECT_EQ(g_events, (std::vector<Event>{{'b', kPlain}, {'p', kPlain}}));
  EXPECT_TRUE(reports.entries.empty());
}

TEST_F(DecorSubclassWin, ReportsOfTheOperationsOnUnknownWindowsAndTables) {
  Subclasser engine(&owner, reports);
  engine.sc_UnSubclass(window.get());
  engine.sc_WatchMessage(window.get(), kPlain, WHEN_BEFORE);
  ASSERT_TRUE(engine.sc_Subclass(window.get()));
  TestWindow other;
  engine.sc_UnSubclass(other.get());
  EXPECT_EQ(engine.sc_CallPrevious(other.get(), kPlain, 0, 0), 0);
  engine.sc_UnwatchMessage(window.get(), 0x47, WHEN_AFTER);
  engine.sc_UnSubclassAll();
  engine.sc_UserData(window.get(), 1);  // the registry is gone again
  EXPECT_EQ(reports.entries, (std::vector<ReportEntry>{
                                 {kRoutineUnSubclass, kNotSubclassed},
                                 {kRoutineMapWindow, kNotStarted},
                                 {kRoutineMapWindow, kNotSubclassed},
                                 {kRoutineMapWindow, kNotSubclassed},
                                 {kRoutineDelMsg, u"Message &H47 not found in table"},
                                 {kRoutineMapWindow, kNotStarted},
                             }));
}

TEST_F(DecorSubclassWin, EveryWindowGetsItsProcedureBackAfterTheEngineEnds) {
  TestWindow second{OwnProc};
  {
    Subclasser engine(&owner, reports);
    ASSERT_TRUE(engine.sc_Subclass(window.get()));
    ASSERT_TRUE(engine.sc_Subclass(second.get()));
    engine.sc_WatchMessage(window.get(), ALL_MESSAGES, WHEN_BEFORE);
    engine.sc_WatchMessage(second.get(), ALL_MESSAGES, WHEN_BEFORE);
    EXPECT_EQ(SubclassRecordCount(), 2);
  }  // the destructor ends every subclassing: the owner is never called again
  EXPECT_EQ(SendMessageW(second.get(), kPlain, 0, 0), 103);
  EXPECT_EQ(Send(kPlain), 103);
  EXPECT_EQ(g_events, (std::vector<Event>{{'p', kPlain}, {'p', kPlain}}));
  EXPECT_EQ(GetWindowLongPtrW(second.get(), GWLP_WNDPROC), own);
  EXPECT_EQ(Proc(), own);
  EXPECT_EQ(SubclassRecordCount(), 0);
}

TEST_F(DecorSubclassWin, AWindowDestroyedWhileSubclassedIsForgottenCleanly) {
  Subclasser engine(&owner, reports);
  HWND wnd = window.get();
  ASSERT_TRUE(engine.sc_Subclass(wnd, 8));
  engine.sc_WatchMessage(wnd, WM_NCDESTROY, WHEN_BEFORE | WHEN_AFTER);
  DestroyWindow(wnd);
  EXPECT_EQ(g_events, (std::vector<Event>{{'b', WM_NCDESTROY}, {'a', WM_NCDESTROY}}));
  EXPECT_EQ(engine.sc_UserData(wnd), 8);  // still listed until the engine forgets it
  EXPECT_EQ(engine.sc_CallPrevious(wnd, kPlain, 0, 0), 0);  // no call with a stale handle
  engine.sc_UnSubclassAll();
  EXPECT_EQ(SubclassRecordCount(), 0);
  EXPECT_TRUE(reports.entries.empty());
}

// What users see: the real reporter's message box, answered by a helper
// thread so that the test does not wait for a person.
struct BoxSeen {
  DWORD testThread = GetCurrentThreadId();
  std::wstring text;
  bool found = false;
};

BOOL CALLBACK CloseAny(HWND wnd, LPARAM) {
  PostMessageW(wnd, WM_CLOSE, 0, 0);
  return TRUE;
}

DWORD WINAPI AnswerBox(void* param) {
  auto* seen = static_cast<BoxSeen*>(param);
  for (int i = 0; i < 200 && !seen->found; ++i) {
    if (HWND box = FindWindowW(L"#32770", L"Error in aShadow.sc_Subclass")) {
      wchar_t text[200] = {};
      GetDlgItemTextW(box, 0xFFFF, text, 200);  // the message box's text control
      seen->text = text;
      seen->found = true;
      PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
    Sleep(50);
  }
  // Whatever the test thread shows instead must not hold the run up.
  if (!seen->found) EnumThreadWindows(seen->testThread, CloseAny, 0);
  return 0;
}

TEST(DecorSubclassReports, TheUserSeesAMessageBoxWithTheRoutineAndTheMessage) {
  BoxSeen seen;
  HANDLE helper = CreateThread(nullptr, 0, AnswerBox, &seen, 0, nullptr);
  ASSERT_NE(helper, nullptr);
  Subclasser engine(nullptr);  // the real reporter: event log, then the box
  EXPECT_FALSE(engine.sc_Subclass(nullptr));
  WaitForSingleObject(helper, 15000);
  CloseHandle(helper);
  EXPECT_TRUE(seen.found);
  EXPECT_EQ(seen.text, L"Invalid window handle.");
}

}  // namespace
}  // namespace stub
