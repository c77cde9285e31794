// The window decoration on real windows: the subclassing engine's procedure
// swap and its undoing, refusals and reports (the call order itself is proven
// natively), and the drop shadow's four windows as the form is shown, moved,
// resized and hidden, when settings redraw, and what is left after teardown.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "decor/report.h"
#include "decor/shadow_face_win.h"
#include "decor/shadow_rules.h"
#include "decor/shadow_win.h"
#include "decor/subclass_win.h"

namespace stub {
namespace {

using ReportEntry = std::pair<std::u16string, std::u16string>;  // routine, message

struct RecordingReporter final : Reporter {
  void Report(std::u16string_view routine, std::u16string_view message) override {
    entries.emplace_back(routine, message);
  }
  std::vector<ReportEntry> entries;
};

// A hidden popup of a class of its own whose procedure is `proc`; destroyed
// with the object.
class TestWindow {
 public:
  explicit TestWindow(WNDPROC proc = DefWindowProcW) {
    wchar_t cls[40];  // one class per procedure
    swprintf(cls, 40, L"DecorTest%p", reinterpret_cast<void*>(proc));
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = cls;
    RegisterClassExW(&wc);  // fails harmlessly once the class exists
    wnd_ = CreateWindowExW(0, cls, L"decor test", WS_POPUP, 100, 100, 300, 200, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
  }
  ~TestWindow() { DestroyWindow(wnd_); }  // fails harmlessly when already gone
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;
  HWND get() const { return wnd_; }

 private:
  HWND wnd_;
};

constexpr UINT kOuter = WM_APP + 1;   // the window procedure sends kNested while handling it
constexpr UINT kNested = WM_APP + 2;
constexpr UINT kPlain = WM_APP + 3;

// What happened, in order: 'b' before call, 'p' the window's own procedure,
// 'a' after call.
using Events = std::vector<std::pair<char, UINT>>;
Events g_events;
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

// The order of the calls is the native suite's; here: the real procedure
// swap, a message sent from the window's own procedure, Handled, the user
// value and a call of the previous procedure from the owner.
TEST_F(DecorSubclassWin, OwnerSeesTheWatchedMessagesAroundTheWindowProcedure) {
  Subclasser engine(&owner, reports);
  ASSERT_TRUE(engine.sc_Subclass(window.get(), 5));
  EXPECT_NE(Proc(), own);
  engine.sc_WatchMessage(window.get(), kNested, WHEN_BEFORE);
  engine.sc_WatchMessage(window.get(), kPlain, WHEN_BEFORE | WHEN_AFTER);
  Subclasser* e = &engine;
  owner.on = [e](bool before, UINT msg, bool& handled, intptr_t& result, HWND wnd, intptr_t& userData) {
    if (before && msg == kPlain) {
      EXPECT_EQ(userData++, 5);
      result = e->sc_CallPrevious(wnd, msg, 0, 0) + 1000;
      handled = true;
    }
  };
  EXPECT_EQ(Send(kOuter), 101);
  EXPECT_EQ(Send(kPlain), 1103);
  EXPECT_EQ(g_events, (Events{{'p', kOuter}, {'b', kNested}, {'p', kNested},
                                          {'b', kPlain}, {'p', kPlain}}));
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
      {"destroyed window", gone, 1, &owner, kInvalidWindow},
      {"another process's window", desktop, 1, &owner, kOtherProcess},
      {"no such ordinal", window.get(), 2, &owner, kCallbackNotFound},
      {"no owner at all", window.get(), 1, nullptr, kCallbackNotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingReporter r;
    Subclasser engine(nullptr, r);  // no owner of its own
    EXPECT_FALSE(engine.sc_Subclass(c.wnd, 0, c.ordinal, c.owner));
    EXPECT_EQ(SubclassRecordCount(), 0);
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
  RecordingReporter otherReports;
  Subclasser other(&owner, otherReports);
  EXPECT_FALSE(engine.sc_Subclass(window.get()));
  EXPECT_FALSE(other.sc_Subclass(window.get()));  // one engine per window
  const std::vector<ReportEntry> already{{kRoutineSubclass, kAlreadySubclassed}};
  EXPECT_EQ(reports.entries, already);
  EXPECT_EQ(otherReports.entries, already);
  EXPECT_EQ(SubclassRecordCount(), 1);
  EXPECT_EQ(Proc(), installed);
  EXPECT_EQ(Send(kPlain), 103);
  EXPECT_EQ(g_events, (Events{{'b', kPlain}, {'p', kPlain}}));
}

TEST_F(DecorSubclassWin, RemovalWaitsForTheOutermostCallOrTheNextMessage) {
  Subclasser engine(&owner, reports);
  ASSERT_TRUE(engine.sc_Subclass(window.get()));
  const LONG_PTR installed = Proc();
  engine.sc_WatchMessage(window.get(), ALL_MESSAGES, WHEN_BEFORE);
  Subclasser* e = &engine;
  owner.on = [e](bool, UINT msg, bool&, intptr_t&, HWND wnd, intptr_t&) {
    if (msg == kNested) e->sc_UnSubclass(wnd);
  };
  EXPECT_EQ(Send(kOuter), 101);
  EXPECT_EQ(g_procDuringNested, installed);  // still installed while the outer message ran
  EXPECT_EQ(g_events, (Events{{'b', kOuter}, {'p', kOuter}, {'b', kNested}, {'p', kNested}}));
  EXPECT_EQ(Proc(), own);
  EXPECT_EQ(SubclassRecordCount(), 0);

  // Outside a message the removal waits for the next one.
  ASSERT_TRUE(engine.sc_Subclass(window.get()));  // forgotten: can be subclassed again
  engine.sc_UnSubclass(window.get());
  EXPECT_NE(Proc(), own);
  // Subclassing again before the removal happened takes the waiting record up.
  ASSERT_TRUE(engine.sc_Subclass(window.get(), 4));
  engine.sc_WatchMessage(window.get(), kPlain, WHEN_BEFORE);
  EXPECT_EQ(SubclassRecordCount(), 1);
  g_events.clear();
  owner.on = [](bool, UINT, bool&, intptr_t&, HWND, intptr_t& userData) { EXPECT_EQ(userData, 4); };
  EXPECT_EQ(Send(kPlain), 103);
  EXPECT_EQ(g_events, (Events{{'b', kPlain}, {'p', kPlain}}));
  engine.sc_UnSubclass(window.get());
  EXPECT_EQ(Send(kPlain), 103);
  EXPECT_EQ(Proc(), own);
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
    for (HWND w : {window.get(), second.get()}) {
      ASSERT_TRUE(engine.sc_Subclass(w));
      engine.sc_WatchMessage(w, ALL_MESSAGES, WHEN_BEFORE);
    }
  }  // the destructor ends every subclassing: the owner is never called again
  EXPECT_EQ(SendMessageW(second.get(), kPlain, 0, 0), 103);
  EXPECT_EQ(Send(kPlain), 103);  // each window's next message finishes its removal
  EXPECT_EQ(g_events, (Events{{'p', kPlain}, {'p', kPlain}}));
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
  EXPECT_EQ(g_events, (Events{{'b', WM_NCDESTROY}, {'a', WM_NCDESTROY}}));
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

using Box = std::tuple<long, long, long, long>;  // left, top, right, bottom

BOOL CALLBACK CollectOwned(HWND wnd, LPARAM param) {
  auto* found = reinterpret_cast<std::pair<HWND, std::vector<HWND>>*>(param);
  if (GetWindow(wnd, GW_OWNER) == found->first) found->second.push_back(wnd);
  return TRUE;
}

std::vector<HWND> Owned(HWND owner) {
  std::pair<HWND, std::vector<HWND>> found{owner, {}};
  EnumWindows(CollectOwned, reinterpret_cast<LPARAM>(&found));
  return found.second;
}

Box BoxOf(HWND wnd) {
  RECT r = {};
  GetWindowRect(wnd, &r);
  return {r.left, r.top, r.right, r.bottom};
}

std::vector<Box> PieceBoxes(HWND form) {
  std::vector<Box> boxes;
  for (HWND w : Owned(form)) boxes.push_back(BoxOf(w));
  std::sort(boxes.begin(), boxes.end());
  return boxes;
}

std::vector<Box> Expected(int x, int y, int w, int h, int depth) {
  std::vector<Box> boxes;
  for (Piece p : {Piece::Right, Piece::Bottom, Piece::Left, Piece::Top}) {
    const Rect r = PieceRect(p, x, y, w, h, depth);
    boxes.emplace_back(r.left, r.top, r.left + r.width, r.top + r.height);
  }
  std::sort(boxes.begin(), boxes.end());
  return boxes;
}

int VisiblePieces(HWND form) {
  int n = 0;
  for (HWND w : Owned(form)) n += IsWindowVisible(w) ? 1 : 0;
  return n;
}

void Place(HWND form, int x, int y, int w, int h, UINT flags) {
  ASSERT_TRUE(SetWindowPos(form, nullptr, x, y, w, h, flags | SWP_NOZORDER | SWP_NOACTIVATE));
}

class DecorShadowWin : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(form.get(), nullptr); }
  void TearDown() override { EXPECT_TRUE(reports.entries.empty()); }

  RecordingReporter reports;
  TestWindow form;
};

TEST_F(DecorShadowWin, PiecesFollowTheFormShownMovedResizedAndHidden) {
  aShadow shadow(reports);
  ASSERT_TRUE(shadow.Shadow(form.get()));
  const std::vector<HWND> pieces = Owned(form.get());
  ASSERT_EQ(pieces.size(), 4u);
  for (HWND w : pieces) {  // hidden click-through layered popups
    EXPECT_EQ(GetWindowLongW(w, GWL_EXSTYLE), WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_NOPARENTNOTIFY);
    EXPECT_EQ(GetWindowLongW(w, GWL_STYLE) & (WS_POPUP | WS_CHILD | WS_CAPTION | WS_VISIBLE), WS_POPUP);
  }
  const struct {
    int x, y, w, h;
    UINT flags;
    int visible;
  } steps[] = {
      {200, 150, 300, 200, SWP_SHOWWINDOW, 4},
      {260, 90, 0, 0, SWP_NOSIZE, 4},
      {40, 300, 250, 260, 0, 4},
      {0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_HIDEWINDOW, 0},
      {70, 80, 0, 0, SWP_NOSIZE, 0},  // moved while hidden
      {0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW, 4},
  };
  for (const auto& s : steps) {
    Place(form.get(), s.x, s.y, s.w, s.h, s.flags);
    EXPECT_EQ(VisiblePieces(form.get()), s.visible) << s.x;
    if (s.visible == 0) continue;
    RECT r;
    GetWindowRect(form.get(), &r);
    EXPECT_EQ(PieceBoxes(form.get()), Expected(r.left, r.top, r.right - r.left, r.bottom - r.top, shadow.Depth()));
  }
}

TEST_F(DecorShadowWin, SettingsRedrawAVisibleShadowOnlyWhenTheyChange) {
  aShadow shadow(reports);
  ASSERT_TRUE(shadow.Shadow(form.get()));
  Place(form.get(), 200, 150, 300, 200, SWP_SHOWWINDOW);
  ASSERT_EQ(PieceBoxes(form.get()), Expected(200, 150, 300, 200, 7));

  // A piece pushed aside shows whether a setting drew the pieces again: a
  // drawn piece is put back at its place.
  const HWND piece = Owned(form.get()).front();
  const auto pushAside = [&] {
    SetWindowPos(piece, nullptr, 1, 1, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  };
  pushAside();
  shadow.Depth(7);
  shadow.Transparency(140);
  shadow.Color(0);
  EXPECT_EQ(std::get<0>(BoxOf(piece)), 1) << "an unchanged setting draws nothing";
  shadow.Depth(12);
  EXPECT_EQ(PieceBoxes(form.get()), Expected(200, 150, 300, 200, 12));

  ShowWindow(form.get(), SW_HIDE);
  pushAside();
  shadow.Color(0x00336699);
  EXPECT_EQ(std::get<0>(BoxOf(piece)), 1) << "a hidden form's shadow is not drawn";
  shadow.Color(0x80000000u | COLOR_HIGHLIGHT);
  EXPECT_EQ(shadow.Color(), GetSysColor(COLOR_HIGHLIGHT));

  ShowWindow(form.get(), SW_SHOWNOACTIVATE);
  shadow.Depth(0);  // no picture beside the form, and no failure
  for (HWND w : Owned(form.get())) {
    const Box b = BoxOf(w);
    EXPECT_TRUE(std::get<0>(b) == std::get<2>(b) || std::get<1>(b) == std::get<3>(b));
  }
}

TEST_F(DecorShadowWin, OneFormPerShadowAndSizeMessagesShowItOnlyWhenRestored) {
  Place(form.get(), 200, 150, 300, 200, SWP_SHOWWINDOW);
  aShadow shadow(reports);
  TestWindow second;
  ASSERT_TRUE(shadow.Shadow(form.get()));  // attached to a form already shown
  EXPECT_FALSE(shadow.Shadow(second.get()));
  const ReportEntry single{kRoutineShadow, kSingleForm};
  EXPECT_EQ(reports.entries, (std::vector<ReportEntry>{single}));
  reports.entries.clear();
  EXPECT_EQ(Owned(second.get()).size(), 0u);

  EXPECT_EQ(VisiblePieces(form.get()), 0);
  SendMessageW(form.get(), WM_SIZE, SIZE_MINIMIZED, 0);
  SendMessageW(form.get(), WM_SIZE, SIZE_MAXIMIZED, 0);
  EXPECT_EQ(VisiblePieces(form.get()), 0);
  SendMessageW(form.get(), WM_SIZE, SIZE_RESTORED, 0);
  EXPECT_EQ(VisiblePieces(form.get()), 4);
  // A position report without its record is ignored; a display change that
  // changes nothing keeps the pieces.
  SendMessageW(form.get(), WM_WINDOWPOSCHANGED, 0, 0);
  SendMessageW(form.get(), WM_DISPLAYCHANGE, 32, MAKELPARAM(1024, 768));
  EXPECT_EQ(VisiblePieces(form.get()), 4);
}

TEST_F(DecorShadowWin, TeardownDestroysThePiecesAndGivesTheFormItsProcedureBack) {
  const LONG_PTR own = GetWindowLongPtrW(form.get(), GWLP_WNDPROC);
  std::vector<HWND> pieces;
  {
    aShadow shadow(reports);
    ASSERT_TRUE(shadow.Shadow(form.get()));
    Place(form.get(), 200, 150, 300, 200, SWP_SHOWWINDOW);
    pieces = Owned(form.get());
  }
  ASSERT_EQ(pieces.size(), 4u);
  for (HWND w : pieces) EXPECT_FALSE(IsWindow(w));
  Place(form.get(), 210, 150, 0, 0, SWP_NOSIZE);  // the next message removes the subclassing
  EXPECT_EQ(GetWindowLongPtrW(form.get(), GWLP_WNDPROC), own);
  EXPECT_EQ(SubclassRecordCount(), 0);
}

TEST(DecorShadowFace, TheDownloadWindowsShadowAndItsReleaseAtShutdown) {
  TestWindow form;
  ASSERT_TRUE(AttachShadow(form.get()));
  ASSERT_NE(FormShadow(), nullptr);
  EXPECT_EQ(FormShadow()->Transparency(), kFormTransparency);
  Place(form.get(), 200, 150, 300, 200, SWP_SHOWWINDOW);
  EXPECT_EQ(PieceBoxes(form.get()), Expected(200, 150, 300, 200, kFormDepth));
  // As at shutdown: the windows go first, the pieces with their form.
  DestroyWindow(form.get());
  ReleaseFormShadow();
  ReleaseFormShadow();  // twice does nothing
  EXPECT_EQ(SubclassRecordCount(), 0);
}

}  // namespace
}  // namespace stub
