#include "decor/dispatch.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace stub {
namespace {

constexpr uintptr_t kWnd = 0x1234;

struct Event {
  char what;  // 'b' before call, 'p' previous procedure, 'a' after call, 'r' restore
  uint32_t msg;
  bool operator==(const Event& o) const { return what == o.what && msg == o.msg; }
};

// A subclassed window with a recording owner and previous procedure. The
// behaviours let a test hook into each step, including re-entering Dispatch.
struct Window : DispatchHooks {
  SubclassRecord rec;
  std::vector<Event> events;
  std::function<void(bool before, uint32_t, bool&, intptr_t&)> onCallback;
  std::function<intptr_t(uint32_t)> onPrevious;

  Window() {
    rec.owner = this;
    rec.callback = [](void* owner, bool before, bool& handled, intptr_t& result, uintptr_t hwnd,
                      uint32_t msg, uintptr_t, intptr_t, intptr_t& userData) {
      auto* w = static_cast<Window*>(owner);
      EXPECT_EQ(hwnd, kWnd);
      EXPECT_EQ(&userData, &w->rec.userData);
      w->events.push_back({before ? 'b' : 'a', msg});
      if (w->onCallback) w->onCallback(before, msg, handled, result);
    };
  }
  intptr_t CallPrevious(uintptr_t, uint32_t msg, uintptr_t, intptr_t) override {
    events.push_back({'p', msg});
    return onPrevious ? onPrevious(msg) : 100 + msg;
  }
  void RestorePrevious(uintptr_t hwnd) override {
    EXPECT_EQ(hwnd, kWnd);
    events.push_back({'r', 0});
  }
  intptr_t Send(uint32_t msg) { return Dispatch(rec, *this, kWnd, msg, 0, 0); }
  void Watch(uint32_t msg, uint32_t when) {
    struct : Reporter {
      void Report(std::u16string_view, std::u16string_view) override { ADD_FAILURE(); }
    } noReports;
    WatchMessage(rec.before, rec.after, msg, when, noReports);
  }
};

TEST(DecorDispatch, TablesChooseTheCallsAroundThePreviousProcedure) {
  Window w;
  w.Watch(1, WHEN_BEFORE);
  w.Watch(2, WHEN_AFTER);
  w.Watch(3, WHEN_BEFORE | WHEN_AFTER);
  EXPECT_EQ(w.Send(1), 101);
  EXPECT_EQ(w.Send(2), 102);
  EXPECT_EQ(w.Send(3), 103);
  EXPECT_EQ(w.Send(4), 104);
  const std::vector<Event> expected = {{'b', 1}, {'p', 1}, {'p', 2}, {'a', 2},
                                       {'b', 3}, {'p', 3}, {'a', 3}, {'p', 4}};
  EXPECT_EQ(w.events, expected);
  EXPECT_EQ(w.rec.depth, 0);

  Window all;
  all.Watch(ALL_MESSAGES, WHEN_AFTER);
  all.Send(0);
  all.Send(0xC001);
  EXPECT_EQ(all.events, (std::vector<Event>{{'p', 0}, {'a', 0}, {'p', 0xC001}, {'a', 0xC001}}));
}

TEST(DecorDispatch, WithoutCallbackOnlyThePreviousProcedureRuns) {
  Window w;
  w.Watch(ALL_MESSAGES, WHEN_BEFORE | WHEN_AFTER);
  w.rec.callback = nullptr;
  EXPECT_EQ(w.Send(7), 107);
  EXPECT_EQ(w.events, (std::vector<Event>{{'p', 7}}));
}

TEST(DecorDispatch, HandledBeforeSkipsTheRestAndReturnsResult) {
  Window w;
  w.Watch(5, WHEN_BEFORE | WHEN_AFTER);
  w.onCallback = [](bool before, uint32_t, bool& handled, intptr_t& result) {
    EXPECT_FALSE(handled);
    EXPECT_EQ(result, 0);
    if (before) handled = true, result = -42;
  };
  EXPECT_EQ(w.Send(5), -42);
  EXPECT_EQ(w.events, (std::vector<Event>{{'b', 5}}));
}

TEST(DecorDispatch, AfterCallSeesAndMayChangeResult) {
  Window w;
  w.Watch(5, WHEN_AFTER);
  w.onCallback = [](bool, uint32_t, bool&, intptr_t& result) {
    EXPECT_EQ(result, 105);
    result = 9;
  };
  EXPECT_EQ(w.Send(5), 9);
  // Handled set in an after call changes nothing.
  w.onCallback = [](bool, uint32_t, bool& handled, intptr_t&) { handled = true; };
  EXPECT_EQ(w.Send(5), 105);
}

TEST(DecorDispatch, UserDataIsSharedByReference) {
  Window w;
  w.Watch(1, WHEN_BEFORE);
  w.rec.callback = [](void*, bool, bool&, intptr_t&, uintptr_t, uint32_t, uintptr_t, intptr_t,
                      intptr_t& userData) { ++userData; };
  w.rec.userData = 40;
  w.Send(1);
  w.Send(1);
  EXPECT_EQ(w.rec.userData, 42);
}

TEST(DecorDispatch, NestedMessagesRunInsideThePreviousProcedure) {
  Window w;
  w.Watch(ALL_MESSAGES, WHEN_BEFORE | WHEN_AFTER);
  std::vector<int32_t> depths;
  w.onPrevious = [&](uint32_t msg) -> intptr_t {
    depths.push_back(w.rec.depth);
    if (msg == 1) {
      EXPECT_EQ(w.Send(2), 102);
    }
    return 100 + msg;
  };
  EXPECT_EQ(w.Send(1), 101);
  const std::vector<Event> expected = {{'b', 1}, {'p', 1}, {'b', 2}, {'p', 2}, {'a', 2}, {'a', 1}};
  EXPECT_EQ(w.events, expected);
  EXPECT_EQ(depths, (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(w.rec.depth, 0);
  EXPECT_EQ(w.rec.activeCalls, 0);
}

TEST(DecorDispatch, RemovalDuringNestedCallWaitsForTheOutermost) {
  Window w;
  w.Watch(ALL_MESSAGES, WHEN_BEFORE | WHEN_AFTER);
  w.onPrevious = [&](uint32_t msg) -> intptr_t {
    if (msg == 1) {
      w.Send(2);
      EXPECT_FALSE(w.rec.removed);  // the outermost previous procedure is still running
    }
    if (msg == 2) {
      RequestRemoval(w.rec);
      w.Send(3);  // deeper still; no callbacks any more
      EXPECT_FALSE(w.rec.removed);
    }
    return 100 + msg;
  };
  EXPECT_EQ(w.Send(1), 101);
  const std::vector<Event> expected = {{'b', 1}, {'p', 1}, {'b', 2}, {'p', 2}, {'p', 3}, {'r', 0}};
  EXPECT_EQ(w.events, expected);  // one restore, and no after call for any of them
  EXPECT_TRUE(w.rec.removed);
  EXPECT_EQ(w.rec.depth, 0);
  EXPECT_EQ(w.rec.activeCalls, 0);

  // Later messages only pass through; nothing reaches the owner.
  w.events.clear();
  w.Watch(9, WHEN_BEFORE | WHEN_AFTER);  // even if someone watches again
  w.onPrevious = nullptr;
  EXPECT_EQ(w.Send(9), 109);
  EXPECT_EQ(w.events, (std::vector<Event>{{'p', 9}}));
}

TEST(DecorDispatch, RemovalHappensOnTheNextMessageThatPassesThrough) {
  Window w;
  w.Watch(ALL_MESSAGES, WHEN_BEFORE | WHEN_AFTER);
  RequestRemoval(w.rec);
  EXPECT_EQ(w.rec.before.count, 0);
  EXPECT_EQ(w.rec.after.count, 0);
  EXPECT_FALSE(w.rec.removed);  // still installed until a message comes
  EXPECT_EQ(w.Send(4), 104);
  EXPECT_EQ(w.events, (std::vector<Event>{{'p', 4}, {'r', 0}}));
  EXPECT_TRUE(w.rec.removed);
}

TEST(DecorDispatch, RemovalRequestedInBeforeCallSkipsTheAfterCall) {
  Window w;
  w.Watch(6, WHEN_BEFORE | WHEN_AFTER);
  w.onCallback = [&](bool, uint32_t, bool&, intptr_t&) { RequestRemoval(w.rec); };
  EXPECT_EQ(w.Send(6), 106);
  EXPECT_EQ(w.events, (std::vector<Event>{{'b', 6}, {'p', 6}, {'r', 0}}));
}

// A message sent to the window from inside a callback re-enters with no
// previous-procedure call in progress; it must not remove the record while the
// callback that sent it is still running, and the restore happens once.
TEST(DecorDispatch, MessageSentFromCallbackDoesNotRemoveUnderIt) {
  Window w;
  w.Watch(1, WHEN_BEFORE);
  w.onCallback = [&](bool, uint32_t, bool&, intptr_t&) {
    RequestRemoval(w.rec);
    EXPECT_EQ(w.Send(2), 102);
    EXPECT_FALSE(w.rec.removed);
  };
  EXPECT_EQ(w.Send(1), 101);
  EXPECT_EQ(w.events, (std::vector<Event>{{'b', 1}, {'p', 2}, {'p', 1}, {'r', 0}}));
  EXPECT_TRUE(w.rec.removed);
}

TEST(DecorDispatch, HandledMessageDoesNotRemove) {
  Window w;
  w.Watch(1, WHEN_BEFORE);
  w.onCallback = [&](bool, uint32_t, bool& handled, intptr_t&) {
    RequestRemoval(w.rec);
    handled = true;
  };
  EXPECT_EQ(w.Send(1), 0);
  EXPECT_FALSE(w.rec.removed);
  w.Send(2);
  EXPECT_TRUE(w.rec.removed);
  EXPECT_EQ(w.events, (std::vector<Event>{{'b', 1}, {'p', 2}, {'r', 0}}));
}

}  // namespace
}  // namespace stub
