#include "decor/msg_table.h"
#include <gtest/gtest.h>
#include <vector>

namespace stub { namespace {

using Texts = std::vector<std::u16string>;
struct Reports : Reporter, Texts {  // "routine: message"
  void Report(std::u16string_view routine, std::u16string_view message) override {
    push_back(std::u16string(routine) + u": " + std::u16string(message));
  }
};
std::vector<uint32_t> Entries(const MsgTable& t) { return {t.entries, t.entries + t.count}; }

TEST(MsgTable, FullTableReportsOverflowAndStaysUnchanged) {
  Reports rep;
  MsgTable t;
  for (int i = 0; i < MSG_ENTRIES; ++i) zAddMsg(t, 0x100 + i, rep);
  zDelMsg(t, 0x105, rep);  // a freed slot does not make room either
  const std::vector<uint32_t> before = Entries(t);
  zAddMsg(t, 0x500, rep);
  zAddMsg(t, 0x11F, rep);  // already present
  EXPECT_EQ(rep, Texts(2, u"zAddMsg: Message table overflow. Either increase the value of Const MSG_ENTRIES or "
                            u"use ALL_MESSAGES instead of specific message values"));
  EXPECT_EQ(Entries(t), before);
  zAddMsg(t, ALL_MESSAGES, rep);  // every message is still accepted
  EXPECT_TRUE(t.Selects(0x500));
}

TEST(MsgTable, FreedSlotsAreReusedAndAllMessagesIsItsOwnState) {
  Reports rep;
  MsgTable t;
  for (uint32_t m : {0x100, 0x101, 0x102}) zAddMsg(t, m, rep);
  zDelMsg(t, 0x102, rep);  // the last one: the count never drops
  zDelMsg(t, 0x101, rep);
  EXPECT_FALSE(t.Selects(0x101) || t.Selects(0));  // a freed slot selects no message
  for (uint32_t m : {0x47, 0x47, 0x5, 0x7E}) zAddMsg(t, m, rep);  // free slots first, no second copy
  EXPECT_EQ(Entries(t), (std::vector<uint32_t>{0x100, 0x47, 0x5, 0x7E}));
  zAddMsg(t, ALL_MESSAGES, rep);
  EXPECT_TRUE(t.Selects(0) && t.Selects(0xFFFFFFFEu));
  zDelMsg(t, 0xFFFF0000, rep);  // a single message is never held by an every-message table
  EXPECT_EQ(rep, Texts{u"zDelMsg: Message &HFFFF0000 not found in table"});
  rep.clear();
  zAddMsg(t, 0x31A, rep);  // a single message turns it into a table holding only that message
  EXPECT_EQ(Entries(t), std::vector<uint32_t>{0x31A});
  zDelMsg(t, ALL_MESSAGES, rep);
  EXPECT_FALSE(t.Selects(0x31A));
  zAddMsg(t, 0xFFFFFFFFu, rep);  // the 32-bit form of ALL_MESSAGES
  EXPECT_TRUE(t.Selects(0x47));
  EXPECT_TRUE(rep.empty());
}

TEST(MsgTable, WhenBitsPickTheTables) {
  Reports rep;
  MsgTable before, after;
  WatchMessage(before, after, 0x47, WHEN_BEFORE, rep);
  WatchMessage(before, after, 0x7E, WHEN_BEFORE | WHEN_AFTER, rep);
  EXPECT_TRUE(before.Selects(0x47) && !after.Selects(0x47));
  UnwatchMessage(before, after, 0x7E, WHEN_AFTER, rep);
  EXPECT_TRUE(before.Selects(0x7E) && !after.Selects(0x7E));
  UnwatchMessage(before, after, 0x47, WHEN_BEFORE | WHEN_AFTER, rep);  // not in after
  EXPECT_EQ(rep, Texts{u"zDelMsg: Message &H47 not found in table"});  // the number in hex
  EXPECT_FALSE(before.Selects(0x47));
  EXPECT_EQ(ReportLogText(u"zDelMsg", u"Message &H47 not found"), u"aShadow.zDelMsg: Message &H47 not found");
}

}}  // namespace stub
