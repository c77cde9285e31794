#include "base/clock.h"

namespace stub {
namespace {

void AppendDigits(std::u16string& out, int value, int width, int max) {
  if (value < 0) value = 0;
  if (value > max) value = max;
  char16_t buf[4];
  for (int i = width - 1; i >= 0; --i) {
    buf[i] = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
  }
  out.append(buf, static_cast<size_t>(width));
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian). Months
// outside 1..12 roll into neighbouring years, so any input gives a number.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  const int64_t m0 = m - 1;
  const int64_t carry = m0 >= 0 ? m0 / 12 : -((11 - m0) / 12);
  y += carry;
  m = m0 - carry * 12 + 1;  // now 1..12
  if (m <= 2) --y;          // the year is counted from March
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

int64_t WholeSeconds(const LocalTime& t) {
  return DaysFromCivil(t.year, t.month, t.day) * 86400 + int64_t{t.hour} * 3600 +
         int64_t{t.minute} * 60 + t.second;
}

}  // namespace

std::u16string TimeStamp(const LocalTime& t) {
  std::u16string out;
  out.reserve(14);
  AppendDigits(out, t.year, 4, 9999);
  AppendDigits(out, t.month, 2, 99);
  AppendDigits(out, t.day, 2, 99);
  AppendDigits(out, t.hour, 2, 99);
  AppendDigits(out, t.minute, 2, 99);
  AppendDigits(out, t.second, 2, 99);
  return out;
}

double TimeOfDay(const LocalTime& t) {
  return t.hour * 3600.0 + t.minute * 60.0 + t.second + t.millisecond / 1000.0;
}

int64_t WholeSecondsBetween(const LocalTime& start, const LocalTime& now) {
  return WholeSeconds(now) - WholeSeconds(start);
}

bool FetchTimedOut(const LocalTime& start, const LocalTime& now, int32_t timeoutSeconds) {
  return timeoutSeconds != 0 && WholeSecondsBetween(start, now) >= timeoutSeconds;
}

}  // namespace stub
