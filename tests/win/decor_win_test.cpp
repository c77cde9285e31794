// The decoration on real windows: the subclassing engine's procedure swap and undoing (its
// dispatch rule is proven natively), and the shadow's pieces showing and hiding with a form.
#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <memory>
#include <vector>

#include "decor/report.h"
#include "decor/shadow_win.h"
#include "decor/subclass_win.h"

namespace stub {
namespace {

struct QuietReporter final : Reporter {  // the system's would open a message box
  void Report(std::u16string_view, std::u16string_view) override {}
};

// A hidden popup of a class of its own (one per procedure); destroying it again once gone fails harmlessly.
using TestWindow = std::unique_ptr<HWND__, BOOL(WINAPI*)(HWND)>;
TestWindow NewWindow(WNDPROC proc = DefWindowProcW) {
  wchar_t cls[40];
  swprintf(cls, 40, L"DecorTest%p", reinterpret_cast<void*>(proc));
  const WNDCLASSEXW wc = {sizeof wc, 0, proc, 0, 0, GetModuleHandleW(nullptr), nullptr, nullptr, nullptr, nullptr, cls, nullptr};
  RegisterClassExW(&wc);  // fails harmlessly once the class exists
  return TestWindow(CreateWindowExW(0, cls, L"", WS_POPUP, 100, 100, 300, 200, nullptr, nullptr, wc.hInstance, nullptr),
                    DestroyWindow);
}

LONG_PTR ProcOf(HWND wnd) { return GetWindowLongPtrW(wnd, GWLP_WNDPROC); }

constexpr UINT kOuter = WM_APP + 1, kNested = WM_APP + 2, kPlain = WM_APP + 3;  // kOuter sends kNested
using Events = std::vector<std::pair<char, UINT>>;  // 'b' before call, 'p' own procedure, 'a' after call
Events g_events;

LRESULT CALLBACK OwnProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg < WM_APP) return DefWindowProcW(wnd, msg, wp, lp);
  g_events.push_back({'p', msg});
  if (msg == kOuter) SendMessageW(wnd, kNested, 0, 0);
  return 100 + (msg - WM_APP);
}

// Handles kPlain before the window: counts in the user value, answers the window's own answer + 1000.
struct Owner final : SubclassOwner {
  void OnFormMessage(bool before, bool& handled, intptr_t& result, HWND wnd, UINT msg, WPARAM, LPARAM,
                     intptr_t& userData) override {
    g_events.push_back({before ? 'b' : 'a', msg});
    if (!before || msg != kPlain) return;
    ++userData;
    result = engine->sc_CallPrevious(wnd, msg, 0, 0) + 1000;
    handled = true;
  }
  Subclasser* engine = nullptr;
};

TEST(DecorSubclassWin, OwnerSeesWatchedMessagesUntilTheEngineEndsThenTheProcedureComesBack) {
  QuietReporter reports;
  Owner owner;
  TestWindow window = NewWindow(OwnProc), doomed = NewWindow(OwnProc);
  const LONG_PTR own = ProcOf(window.get());
  const auto Send = [&](UINT msg) { return SendMessageW(window.get(), msg, 0, 0); };
  {
    Subclasser engine(&owner, reports), other(&owner, reports);
    owner.engine = &engine;
    ASSERT_TRUE(engine.sc_Subclass(window.get(), 5));
    engine.sc_UnSubclass(window.get());  // outside a message the removal waits for the next one...
    ASSERT_TRUE(engine.sc_Subclass(window.get(), 5));  // ...and subclassing again takes the record up
    EXPECT_FALSE(engine.sc_Subclass(window.get()));  // one engine per window, this one included
    EXPECT_FALSE(other.sc_Subclass(window.get()));
    engine.sc_WatchMessage(window.get(), kNested, WHEN_BEFORE);
    engine.sc_WatchMessage(window.get(), kPlain, WHEN_BEFORE | WHEN_AFTER);
    EXPECT_EQ(Send(kOuter), 101);  // kNested, sent by the window's own procedure, is seen too
    EXPECT_EQ(Send(kPlain), 1103);
    EXPECT_EQ(g_events, (Events{{'p', kOuter}, {'b', kNested}, {'p', kNested}, {'b', kPlain}, {'p', kPlain}}));
    EXPECT_EQ(engine.sc_UserData(window.get()), 6);
    ASSERT_TRUE(engine.sc_Subclass(doomed.get(), 8));
    DestroyWindow(doomed.get());
    EXPECT_EQ(engine.sc_UserData(doomed.get()), 8);  // listed until the engine forgets it
    EXPECT_EQ(engine.sc_CallPrevious(doomed.get(), kPlain, 0, 0), 0);  // no call with a stale handle
    EXPECT_EQ(SubclassRecordCount(), 2);
  }
  g_events.clear();
  EXPECT_EQ(Send(kPlain), 103);  // finishes the removal without calling the owner
  EXPECT_EQ(g_events, (Events{{'p', kPlain}}));
  EXPECT_EQ(ProcOf(window.get()), own);
  EXPECT_EQ(SubclassRecordCount(), 0);
}

// The shadow's piece windows (one shadow lives at a time).
std::vector<HWND> Pieces() {
  std::vector<HWND> found;
  for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, L"KorvelShadowPiece", nullptr));) found.push_back(w);
  return found;
}

TEST(DecorShadowWin, PiecesShowWithTheFormAndGoWithTheShadow) {
  QuietReporter reports;
  TestWindow form = NewWindow(), second = NewWindow();
  const LONG_PTR own = ProcOf(form.get());
  std::vector<HWND> pieces;
  {
    aShadow shadow(reports);
    ASSERT_TRUE(shadow.Shadow(form.get()));
    EXPECT_FALSE(shadow.Shadow(second.get()));
    pieces = Pieces();
    ASSERT_EQ(pieces.size(), 4u);
    for (int how : {SW_SHOWNA, SW_HIDE, SW_SHOWNA}) {  // the pieces show and hide with the form
      ShowWindow(form.get(), how);
      for (HWND w : pieces) EXPECT_EQ(IsWindowVisible(w) != 0, how == SW_SHOWNA);
    }
    SendMessageW(form.get(), WM_WINDOWPOSCHANGED, 0, 0);  // no position record: ignored
    shadow.Depth(0);  // no picture left beside the form, and no failure
    RECT r;
    for (HWND w : pieces) EXPECT_TRUE(GetWindowRect(w, &r) && IsRectEmpty(&r));
  }
  for (HWND w : pieces) EXPECT_FALSE(IsWindow(w));
  SetWindowPos(form.get(), nullptr, 210, 150, 0, 0, SWP_NOSIZE | SWP_NOZORDER);  // ends the subclassing
  EXPECT_EQ(ProcOf(form.get()), own);
  EXPECT_EQ(SubclassRecordCount(), 0);
}

}  // namespace
}  // namespace stub
