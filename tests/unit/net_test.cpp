#include <gtest/gtest.h>
#include "base/text.h"
#include "net/clock.h"
#include "net/wire.h"

namespace stub { namespace {

std::string Show(const LocalTime& t) { return Utf16ToUtf8Lossy(TimeStamp(t)); }

TEST(TimeStamp, FourteenDigitsWithZeroPadding) {
  EXPECT_EQ(TimeStamp({2024, 1, 2, 3, 4, 5, 999}), u"20240102030405");
  EXPECT_EQ(TimeStamp({12345, -1, 100, 0, 0, 0, 0}).size(), 14u);  // out of range: same length
  EXPECT_DOUBLE_EQ(TimeOfDay({2024, 5, 6, 1, 2, 3, 250}), 3723.25);
}

TEST(WholeSecondsBetween, CountsCalendarSecondsAcrossBoundaries) {
  const struct { LocalTime start, now; int64_t seconds; } cases[] = {
      {{2024, 3, 1, 10, 0, 0, 999}, {2024, 3, 1, 10, 0, 1, 0}, 1},       // 1 ms, one boundary
      {{2024, 2, 28, 23, 59, 59, 0}, {2024, 2, 29, 0, 0, 1, 0}, 2},      // leap day
      {{2023, 2, 28, 23, 59, 59, 0}, {2023, 3, 1, 0, 0, 0, 0}, 1},       // no leap day
      {{1900, 2, 28, 23, 59, 59, 0}, {1900, 3, 1, 0, 0, 0, 0}, 1},       // century: no leap day
      {{2000, 2, 28, 23, 59, 59, 0}, {2000, 3, 1, 0, 0, 0, 0}, 86401},   // 400 years: leap day
      {{2024, 4, 30, 23, 59, 59, 0}, {2024, 5, 1, 0, 0, 4, 0}, 5},       // month
      {{2023, 12, 31, 23, 59, 57, 0}, {2024, 1, 1, 0, 0, 2, 0}, 5},      // year
      {{2024, 1, 1, 0, 0, 1, 0}, {2023, 12, 31, 23, 59, 59, 0}, -2},     // clock set back
  };
  for (const auto& c : cases)
    EXPECT_EQ(WholeSecondsBetween(c.start, c.now), c.seconds) << Show(c.start) << " -> " << Show(c.now);
}

TEST(FetchTimedOut, EndsWhenTheBoundaryCountReachesTheTimeout) {
  const LocalTime start{2024, 12, 31, 23, 59, 57, 900};
  const struct { LocalTime now; int32_t timeout; bool timedOut; } cases[] = {
      {{2025, 1, 1, 0, 0, 1, 999}, 5, false},     // four boundaries
      {{2025, 1, 1, 0, 0, 2, 0}, 5, true},        // the fifth, 4.1 s after the start
      {{2030, 1, 1, 0, 0, 0, 0}, 0, false},       // 0: no time-out at all
      {{2024, 12, 31, 23, 0, 0, 0}, 5, false},    // clock set back: keeps waiting
      {{2024, 12, 31, 23, 59, 57, 0}, -1, true},  // a negative time-out is reached at once
  };
  for (const auto& c : cases)
    EXPECT_EQ(FetchTimedOut(start, c.now, c.timeout), c.timedOut) << Show(c.now) << " " << c.timeout;
}

TEST(WireUrl, EscapesWhatAUrlCannotCarryAndDropsTheFragment) {
  const struct { std::u16string url; std::string wire; } cases[] = {
      {u"http://h/?Data=DownFinish=OK:1.5 DownCode=4, url=x", "http://h/?Data=DownFinish=OK:1.5%20DownCode=4,%20url=x"},
      {u"a\"b<c>d", "a%22b%3Cc%3Ed"},
      {u"%41=&:/?'{}|^`~", "%41=&:/?'{}|^`~"},  // kept as built
      {u"SavePath=C:\\Temp\\ url=x", "SavePath=C:%5CTemp%5C%20url=x"},
      {std::u16string(u"\x01\t\n\x1F\x7F\0", 6), "%01%09%0A%1F%7F%00"},
      {u"安é\U0001F600", "%E5%AE%89%C3%A9%F0%9F%98%80"},
      {std::u16string(1, char16_t(0xD800)) + u"x" + char16_t(0xDC00), "%EF%BF%BDx%EF%BF%BD"},  // lone surrogates
      {u"http://h/?Data=Err-#5-Main&TimeID=1", "http://h/?Data=Err-"},  // fragment
  };
  for (const auto& c : cases) EXPECT_EQ(WireUrl(c.url), c.wire) << c.wire;
}

}}  // namespace stub
