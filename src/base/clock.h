// Calendar and time-of-day arithmetic for the time stamps and the fetch wait.
// The platform fills LocalTime from its local clock; everything here is pure.
#pragma once

#include <cstdint>
#include <string>

namespace stub {

struct LocalTime {
  int year, month, day, hour, minute, second, millisecond;
};

// "YYYYMMDDHHMMSS" (14 digits). Fields outside their range are clamped to it,
// so the result always has 14 digits.
std::u16string TimeStamp(const LocalTime& t);

// Seconds since local midnight with fractions (the time-of-day clock).
double TimeOfDay(const LocalTime& t);

// Number of whole-second boundaries from `start` to `now`, both cut to whole
// seconds and read as calendar date-times; negative when the clock went back.
int64_t WholeSecondsBetween(const LocalTime& start, const LocalTime& now);

// The fetch wait's rule: true when timeoutSeconds != 0 and
// WholeSecondsBetween(start, now) >= timeoutSeconds.
bool FetchTimedOut(const LocalTime& start, const LocalTime& now, int32_t timeoutSeconds);

}  // namespace stub
