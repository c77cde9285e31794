#include "decor/dispatch.h"
#include <functional>
#include <gtest/gtest.h>
#include <vector>
#include "decor/msg_table.h"

namespace stub { namespace {

constexpr uintptr_t kWnd = 0x1234;
using Texts = std::vector<std::u16string>;
struct Reports : Reporter, Texts {  // "routine: message"
  void Report(std::u16string_view r, std::u16string_view m) override { push_back(std::u16string(r) + u": " += m); }
};
using Events = std::vector<std::pair<char, uint32_t>>;  // 'b' before, 'p' previous, 'a' after, 'r' restore

// A subclassed window with a recording owner and previous procedure; the hooks may re-enter Dispatch.
struct Window : DispatchHooks {
  SubclassRecord rec;
  Events events;
  std::function<void(bool before, bool& handled, intptr_t& result)> onCallback;
  std::function<void(uint32_t)> onPrevious;
  explicit Window(uint32_t watch = ALL_MESSAGES, uint32_t when = WHEN_BEFORE | WHEN_AFTER) {
    rec.owner = this;
    rec.callback = [](void* owner, bool before, bool& handled, intptr_t& result, uintptr_t hwnd, uint32_t msg,
                      uintptr_t, intptr_t, intptr_t& userData) {
      auto* w = static_cast<Window*>(owner);
      EXPECT_TRUE(hwnd == kWnd && &userData == &w->rec.userData);
      w->events.push_back({before ? 'b' : 'a', msg});
      if (w->onCallback) w->onCallback(before, handled, result);
    };
    Watch(watch, when);
  }
  intptr_t CallPrevious(uintptr_t, uint32_t msg, uintptr_t, intptr_t) override {
    events.push_back({'p', msg});
    if (onPrevious) onPrevious(msg);
    return 100 + msg;
  }
  void RestorePrevious(uintptr_t hwnd) override { EXPECT_EQ(hwnd, kWnd); events.push_back({'r', 0}); }
  intptr_t Send(uint32_t msg) { return Dispatch(rec, *this, kWnd, msg, 0, 0); }
  void Watch(uint32_t msg, uint32_t when) { Reports r; WatchMessage(rec.before, rec.after, msg, when, r); }
};

TEST(DecorDispatch, TablesChooseTheCallsAroundThePreviousProcedureAndCallbacksDecide) {
  Window w(1, WHEN_BEFORE);
  w.Watch(2, WHEN_AFTER), w.Watch(3, WHEN_BEFORE | WHEN_AFTER);
  for (int msg : {1, 2, 3, 4}) EXPECT_EQ(w.Send(msg), 100 + msg);
  EXPECT_EQ(w.events, (Events{{'b', 1}, {'p', 1}, {'p', 2}, {'a', 2}, {'b', 3}, {'p', 3}, {'a', 3}, {'p', 4}}));
  Window none;
  none.rec.callback = nullptr;
  EXPECT_TRUE(none.Send(7) == 107 && none.events == (Events{{'p', 7}}));
  Window h(5);  // callbacks handle or change the result and share the user data
  h.onCallback = [&](bool before, bool& handled, intptr_t& result) {
    EXPECT_TRUE(!handled && result == (before ? 0 : 105));
    ++h.rec.userData;
    if (before && h.rec.userData == 1) handled = true, result = -42;  // skips the rest
    if (!before) handled = true, result = 9;  // handled after the call changes nothing
  };
  EXPECT_EQ(h.Send(5), -42);
  EXPECT_EQ(h.Send(5), 9);
  EXPECT_TRUE(h.events == (Events{{'b', 5}, {'b', 5}, {'p', 5}, {'a', 5}}) && h.rec.userData == 3);
}

// Nested messages run inside; removal waits for the outermost message, never under a running callback.
TEST(DecorDispatch, NestedMessagesAndRemoval) {
  Window w;
  std::vector<int32_t> depths;
  w.onPrevious = [&](uint32_t msg) { depths.push_back(w.rec.depth); EXPECT_TRUE(msg != 1 || w.Send(2) == 102); };
  EXPECT_TRUE(w.Send(1) == 101 && w.events == (Events{{'b', 1}, {'p', 1}, {'b', 2}, {'p', 2}, {'a', 2}, {'a', 1}}));
  EXPECT_TRUE(depths == (std::vector<int32_t>{1, 2}) && w.rec.depth == 0);
  w.events.clear();
  w.onPrevious = [&](uint32_t msg) {
    if (msg == 1) w.Send(2);
    if (msg == 2) RequestRemoval(w.rec), w.Send(3);  // deeper still; no callbacks any more
    EXPECT_FALSE(w.rec.removed);  // an outer previous procedure is still running
  };
  EXPECT_EQ(w.Send(1), 101);
  EXPECT_EQ(w.events, (Events{{'b', 1}, {'p', 1}, {'b', 2}, {'p', 2}, {'p', 3}, {'r', 0}}));  // one restore
  EXPECT_TRUE(w.rec.removed && w.rec.activeCalls == 0);
  w.events.clear(), w.onPrevious = nullptr;
  w.Watch(9, WHEN_BEFORE | WHEN_AFTER);  // later messages only pass through, even if watched again
  EXPECT_TRUE(w.Send(9) == 109 && w.events == (Events{{'p', 9}}));
  Window inBefore(6);  // requested in a before call: no after call
  inBefore.onCallback = [&](bool, bool&, intptr_t&) { RequestRemoval(inBefore.rec); };
  EXPECT_TRUE(inBefore.Send(6) == 106 && inBefore.events == (Events{{'b', 6}, {'p', 6}, {'r', 0}}));
  Window s(1, WHEN_BEFORE);
  s.onCallback = [&](bool, bool&, intptr_t&) { RequestRemoval(s.rec); EXPECT_TRUE(s.Send(2) == 102 && !s.rec.removed); };
  EXPECT_EQ(s.Send(1), 101);  // the message sent from the callback did not remove the record under it
  EXPECT_EQ(s.events, (Events{{'b', 1}, {'p', 2}, {'p', 1}, {'r', 0}}));
  Window handled(1, WHEN_BEFORE);  // a handled message does not remove either
  handled.onCallback = [&](bool, bool& h, intptr_t&) { RequestRemoval(handled.rec), h = true; };
  EXPECT_TRUE(handled.Send(1) == 0 && !handled.rec.removed);
  EXPECT_EQ((handled.Send(2), handled.events), (Events{{'b', 1}, {'p', 2}, {'r', 0}}));
}

std::vector<uint32_t> Entries(const MsgTable& t) { return {t.entries, t.entries + t.count}; }

TEST(MsgTable, OverflowFreedSlotsAllMessagesAndWhenBits) {
  Reports rep;
  MsgTable t;
  for (int i = 0; i < MSG_ENTRIES; ++i) zAddMsg(t, 0x100 + i, rep);
  zDelMsg(t, 0x105, rep);  // a freed slot does not make room either
  const std::vector<uint32_t> full = Entries(t);
  zAddMsg(t, 0x500, rep), zAddMsg(t, 0x11F, rep);  // the second one already present
  EXPECT_EQ(Entries(t), full);
  EXPECT_TRUE((zAddMsg(t, ALL_MESSAGES, rep), t.Selects(0x500)));  // every message is still accepted
  rep.clear(), t = MsgTable{};
  for (uint32_t m : {0x100, 0x101, 0x102}) zAddMsg(t, m, rep);
  zDelMsg(t, 0x102, rep), zDelMsg(t, 0x101, rep);  // the last one first: the count never drops
  EXPECT_FALSE(t.Selects(0x101) || t.Selects(0));  // a freed slot selects no message
  for (uint32_t m : {0x47, 0x47, 0x5, 0x7E}) zAddMsg(t, m, rep);  // free slots first, no second copy
  EXPECT_EQ(Entries(t), (std::vector<uint32_t>{0x100, 0x47, 0x5, 0x7E}));
  zAddMsg(t, ALL_MESSAGES, rep);
  EXPECT_TRUE(t.Selects(0) && t.Selects(0xFFFFFFFEu));
  rep.clear(), zAddMsg(t, 0x31A, rep);  // a single message turns it into a table holding only that message
  EXPECT_EQ(Entries(t), std::vector<uint32_t>{0x31A});
  EXPECT_FALSE((zDelMsg(t, ALL_MESSAGES, rep), t.Selects(0x31A)));
  MsgTable before, after;  // the when bits pick the tables
  WatchMessage(before, after, 0x47, WHEN_BEFORE, rep), WatchMessage(before, after, 0x7E, WHEN_BEFORE | WHEN_AFTER, rep);
  EXPECT_TRUE(before.Selects(0x47) && !after.Selects(0x47));
  EXPECT_TRUE((UnwatchMessage(before, after, 0x7E, WHEN_AFTER, rep), before.Selects(0x7E) && !after.Selects(0x7E)));
  UnwatchMessage(before, after, 0x47, WHEN_BEFORE | WHEN_AFTER, rep);  // not in after
  EXPECT_TRUE(rep == Texts{u"zDelMsg: Message &H47 not found in table"} && !before.Selects(0x47));  // hex number
}

}}  // namespace stub
