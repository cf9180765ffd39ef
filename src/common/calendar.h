#pragma once

#include <cstdint>
#include <optional>

namespace wavconv::common {

// Date and time of a whole second, proleptic Gregorian calendar, no leap seconds.
struct Calendar {
  std::int64_t year;
  int month;   // 1..12
  int day;     // 1..31
  int hour;    // 0..23
  int minute;  // 0..59
  int second;  // 0..59
  int millisecond = 0;
  int day_of_year;  // 1..366
};

// The nearest whole number, halves away from zero; nothing beyond the 64-bit range.
std::optional<std::int64_t> to_nearest_integer(double value);

// The same for the driver: a value beyond the 64-bit range ends the run with the
// floating-point fatal report, naming `what`.
std::int64_t nearest_integer(double value, const char* what);

// Seconds since 1970-01-01 00:00:00 as calendar fields.
Calendar to_calendar(std::int64_t seconds);

// Milliseconds since 1970-01-01 00:00:00 as calendar fields, the millisecond included.
Calendar to_calendar_milliseconds(std::int64_t milliseconds);

}  // namespace wavconv::common
