#include "decor/msg_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace stub {
namespace {

struct RecordingReporter : Reporter {
  std::vector<std::u16string> reports;  // "routine: message"
  void Report(std::u16string_view routine, std::u16string_view message) override {
    reports.push_back(std::u16string(routine) + u": " + std::u16string(message));
  }
};

// A table holding 0x100, 0x101, ... (n messages).
MsgTable Filled(int n, RecordingReporter& rep) {
  MsgTable t;
  for (int i = 0; i < n; ++i) zAddMsg(t, 0x100 + i, rep);
  return t;
}

TEST(MsgTable, FullTableReportsOverflowFirstAndStaysUnchanged) {
  RecordingReporter rep;
  MsgTable t = Filled(MSG_ENTRIES, rep);
  ASSERT_TRUE(rep.reports.empty());
  zDelMsg(t, 0x105, rep);  // a freed slot does not make room either
  const MsgTable copy = t;
  for (uint32_t msg : {0x500u, 0x11Fu}) {  // new, already present
    zAddMsg(t, msg, rep);
    EXPECT_EQ(rep.reports, std::vector<std::u16string>{
                               u"zAddMsg: Message table overflow. Either increase the value of Const "
                               u"MSG_ENTRIES or use ALL_MESSAGES instead of specific message values"});
    rep.reports.clear();
  }
  EXPECT_EQ(t.count, copy.count);
  EXPECT_TRUE(std::equal(t.entries, t.entries + MSG_ENTRIES, copy.entries));
  zAddMsg(t, ALL_MESSAGES, rep);  // every message is still accepted
  EXPECT_TRUE(rep.reports.empty());
  EXPECT_TRUE(t.Selects(0x500));
}

TEST(MsgTable, FreedSlotIsReusedAndCountNeverDrops) {
  RecordingReporter rep;
  MsgTable t = Filled(3, rep);
  zDelMsg(t, 0x102, rep);  // the last one
  zDelMsg(t, 0x101, rep);
  EXPECT_EQ(t.count, 3);
  EXPECT_FALSE(t.Selects(0x101));
  EXPECT_FALSE(t.Selects(0));  // a freed slot selects no message
  zAddMsg(t, 0x47, rep);       // first free slot
  zAddMsg(t, 0x47, rep);       // already held: no second copy
  zAddMsg(t, 0x5, rep);
  zAddMsg(t, 0x7E, rep);  // no free slot: appended
  EXPECT_EQ(std::vector<uint32_t>(t.entries, t.entries + t.count),
            (std::vector<uint32_t>{0x100, 0x47, 0x5, 0x7E}));
  EXPECT_TRUE(rep.reports.empty());
}

TEST(MsgTable, AllMessages) {
  RecordingReporter rep;
  MsgTable t = Filled(2, rep);
  zAddMsg(t, ALL_MESSAGES, rep);
  for (uint32_t msg : {0u, 0xC123u, 0xFFFFFFFEu}) EXPECT_TRUE(t.Selects(msg));
  // A single message turns it into a table holding only that message.
  zAddMsg(t, 0x31A, rep);
  EXPECT_EQ(t.count, 1);
  EXPECT_TRUE(t.Selects(0x31A));
  EXPECT_FALSE(t.Selects(0x101));  // the old second entry is not in use any more
  zDelMsg(t, ALL_MESSAGES, rep);
  EXPECT_FALSE(t.Selects(0x31A));
  zAddMsg(t, 0xFFFFFFFFu, rep);  // the 32-bit form of ALL_MESSAGES
  EXPECT_TRUE(t.Selects(0x47));
  EXPECT_TRUE(rep.reports.empty());
  t.count = -7;  // any negative count selects everything
  EXPECT_TRUE(t.Selects(123));
}

TEST(MsgTable, DeletingWhatIsNotHeldReportsTheHexNumber) {
  const struct {
    int filled;
    bool all;
    uint32_t msg;
    const char16_t* text;
  } cases[] = {
      {3, false, 0x31A, u"zDelMsg: Message &H31A not found in table"},
      {3, true, 0x47, u"zDelMsg: Message &H47 not found in table"},  // every-message table
      {1, false, 0xFFFF0000, u"zDelMsg: Message &HFFFF0000 not found in table"},
      {2, false, 0, u"zDelMsg: Message &H0 not found in table"},
  };
  for (const auto& c : cases) {
    RecordingReporter rep;
    MsgTable t = Filled(c.filled, rep);
    if (c.all) zAddMsg(t, ALL_MESSAGES, rep);
    const int32_t count = t.count;
    zDelMsg(t, c.msg, rep);
    EXPECT_EQ(rep.reports, std::vector<std::u16string>{c.text});
    EXPECT_EQ(t.count, count);
  }
}

TEST(MsgTable, WhenBitsPickTheTables) {
  RecordingReporter rep;
  MsgTable before, after;
  WatchMessage(before, after, 0x47, WHEN_BEFORE, rep);
  WatchMessage(before, after, 0x7E, WHEN_BEFORE | WHEN_AFTER, rep);
  EXPECT_TRUE(before.Selects(0x47) && !after.Selects(0x47));
  UnwatchMessage(before, after, 0x7E, WHEN_AFTER, rep);
  EXPECT_TRUE(before.Selects(0x7E) && !after.Selects(0x7E));
  UnwatchMessage(before, after, 0x47, WHEN_BEFORE | WHEN_AFTER, rep);  // not in after
  EXPECT_EQ(rep.reports, std::vector<std::u16string>{u"zDelMsg: Message &H47 not found in table"});
  EXPECT_FALSE(before.Selects(0x47));
}

// The message box's text and title are checked on Windows with the box itself.
TEST(MsgReport, LogText) {
  EXPECT_EQ(ReportLogText(u"zDelMsg", u"Message &H47 not found in table"),
            u"aShadow.zDelMsg: Message &H47 not found in table");
}

}  // namespace
}  // namespace stub
