#include "decor/msg_table.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace stub {
namespace {

struct RecordingReporter : Reporter {
  std::vector<std::pair<std::u16string, std::u16string>> reports;
  void Report(std::u16string_view routine, std::u16string_view message) override {
    reports.emplace_back(routine, message);
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
  ASSERT_EQ(t.count, 32);
  zDelMsg(t, 0x105, rep);  // a freed slot does not make room either
  const MsgTable copy = t;
  for (uint32_t msg : {0x500u, 0x100u, 0x11Fu}) {  // new, already present, present
    zAddMsg(t, msg, rep);
    ASSERT_EQ(rep.reports.size(), 1u) << msg;
    EXPECT_EQ(rep.reports[0].first, u"zAddMsg");
    EXPECT_EQ(rep.reports[0].second,
              u"Message table overflow. Either increase the value of Const MSG_ENTRIES or use "
              u"ALL_MESSAGES instead of specific message values");
    rep.reports.clear();
  }
  EXPECT_EQ(t.count, copy.count);
  for (int i = 0; i < MSG_ENTRIES; ++i) EXPECT_EQ(t.entries[i], copy.entries[i]) << i;
  EXPECT_FALSE(t.Selects(0x500));
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
  EXPECT_EQ(t.entries[1], 0u);
  EXPECT_FALSE(t.Selects(0x101));
  EXPECT_FALSE(t.Selects(0));  // a freed slot selects no message
  EXPECT_TRUE(t.Selects(0x100));
  zAddMsg(t, 0x47, rep);  // first free slot
  EXPECT_EQ(t.entries[1], 0x47u);
  zAddMsg(t, 0x47, rep);  // already held: no second copy
  zAddMsg(t, 0x5, rep);
  EXPECT_EQ(t.entries[2], 0x5u);
  EXPECT_EQ(t.count, 3);
  zAddMsg(t, 0x7E, rep);  // no free slot: appended
  EXPECT_EQ(t.count, 4);
  EXPECT_EQ(t.entries[3], 0x7Eu);
  EXPECT_TRUE(rep.reports.empty());
}

TEST(MsgTable, AllMessages) {
  RecordingReporter rep;
  MsgTable t = Filled(2, rep);
  zAddMsg(t, ALL_MESSAGES, rep);
  EXPECT_EQ(t.count, -1);
  for (uint32_t msg : {0u, 1u, 0x47u, 0xC123u, 0xFFFFFFFEu}) EXPECT_TRUE(t.Selects(msg));
  // A single message turns it into a table holding only that message.
  zAddMsg(t, 0x31A, rep);
  EXPECT_EQ(t.count, 1);
  EXPECT_EQ(t.entries[0], 0x31Au);
  EXPECT_TRUE(t.Selects(0x31A));
  EXPECT_FALSE(t.Selects(0x101));  // the old second entry is not in use any more
  zDelMsg(t, ALL_MESSAGES, rep);
  EXPECT_EQ(t.count, 0);
  EXPECT_FALSE(t.Selects(0x31A));
  zAddMsg(t, 0xFFFFFFFFu, rep);  // the 32-bit form of ALL_MESSAGES
  EXPECT_EQ(t.count, -1);
  EXPECT_TRUE(rep.reports.empty());
}

TEST(MsgTable, DeletingWhatIsNotHeldReportsTheHexNumber) {
  struct {
    int filled;
    bool all;
    uint32_t msg;
    const char16_t* text;
  } cases[] = {
      {0, false, 0x47, u"Message &H47 not found in table"},
      {3, false, 0x31A, u"Message &H31A not found in table"},
      {3, true, 0x47, u"Message &H47 not found in table"},  // every-message table
      {1, false, 0xFFFF0000, u"Message &HFFFF0000 not found in table"},
      {1, false, 0xABCDEF, u"Message &HABCDEF not found in table"},
      {2, false, 0, u"Message &H0 not found in table"},
  };
  for (const auto& c : cases) {
    RecordingReporter rep;
    MsgTable t = Filled(c.filled, rep);
    if (c.all) zAddMsg(t, ALL_MESSAGES, rep);
    const int32_t count = t.count;
    zDelMsg(t, c.msg, rep);
    ASSERT_EQ(rep.reports.size(), 1u) << c.msg;
    EXPECT_EQ(rep.reports[0].first, u"zDelMsg");
    EXPECT_EQ(rep.reports[0].second, c.text);
    EXPECT_EQ(t.count, count);
  }
}

TEST(MsgTable, WhenBitsPickTheTables) {
  RecordingReporter rep;
  MsgTable before, after;
  WatchMessage(before, after, 0x47, WHEN_BEFORE, rep);
  WatchMessage(before, after, 0x05, WHEN_AFTER, rep);
  WatchMessage(before, after, 0x7E, WHEN_BEFORE | WHEN_AFTER, rep);
  EXPECT_TRUE(before.Selects(0x47) && !after.Selects(0x47));
  EXPECT_TRUE(!before.Selects(0x05) && after.Selects(0x05));
  EXPECT_TRUE(before.Selects(0x7E) && after.Selects(0x7E));
  UnwatchMessage(before, after, 0x7E, WHEN_AFTER, rep);
  EXPECT_TRUE(before.Selects(0x7E) && !after.Selects(0x7E));
  UnwatchMessage(before, after, 0x47, WHEN_BEFORE | WHEN_AFTER, rep);  // not in after
  ASSERT_EQ(rep.reports.size(), 1u);
  EXPECT_EQ(rep.reports[0].second, u"Message &H47 not found in table");
  EXPECT_FALSE(before.Selects(0x47));
}

TEST(MsgTable, CorruptCountStaysInsideTheTable) {
  RecordingReporter rep;
  MsgTable t;
  t.entries[MSG_ENTRIES - 1] = 9;
  t.count = 1000;
  EXPECT_TRUE(t.Selects(9));
  zDelMsg(t, 9, rep);
  EXPECT_EQ(t.entries[MSG_ENTRIES - 1], 0u);
  zAddMsg(t, 10, rep);  // still full
  EXPECT_EQ(rep.reports.size(), 1u);
  t.count = -7;  // any negative count selects everything
  EXPECT_TRUE(t.Selects(123));
}

TEST(MsgReport, LogAndMessageBoxTexts) {
  EXPECT_EQ(ReportLogText(u"zDelMsg", u"Message &H47 not found in table"),
            u"aShadow.zDelMsg: Message &H47 not found in table");
  EXPECT_EQ(ReportBoxText(u"Window handle isn't subclassed"), u"Window handle isn't subclassed.");
  EXPECT_EQ(ReportBoxTitle(u"sc_Subclass"), u"Error in aShadow.sc_Subclass");
  EXPECT_EQ(ReportLogText(kRoutineShadow, kSingleForm),
            u"aShadow.Shadow: Only a single form per cShadow instance is allowed");
}

}  // namespace
}  // namespace stub
