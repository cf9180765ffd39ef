#include "common/calendar.h"

#include <cmath>
#include <string>

#include "common/stop.h"

namespace wavconv::common {

std::optional<std::int64_t> to_nearest_integer(double value) {
  double shifted = value >= 0 ? value + 0.5 : value - 0.5;
  // -2^63 and 2^63 are exactly representable; the 64-bit range is [-2^63, 2^63).
  if (!(shifted >= -9223372036854775808.0 && shifted < 9223372036854775808.0)) return std::nullopt;
  return static_cast<std::int64_t>(shifted);
}

std::int64_t nearest_integer(double value, const char* what) {
  std::optional<std::int64_t> result = to_nearest_integer(value);
  if (!result) {
    fatal_math(FatalError::kOverflow,
               std::string("floating-point overflow converting ") + what + " to an integer");
  }
  return *result;
}

Calendar to_calendar(std::int64_t seconds) {
  // Floor division, so that seconds before 1970 fall on the day before.
  std::int64_t days = seconds / 86400;
  std::int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  // Civil date from a day count (eras of 400 years, March-based years).
  std::int64_t z = days + 719468;
  std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  std::int64_t doe = z - era * 146097;
  std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  std::int64_t mp = (5 * doy + 2) / 153;
  Calendar c{};
  c.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  c.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  c.year = yoe + era * 400 + (c.month <= 2 ? 1 : 0);
  bool leap = (c.year % 4 == 0 && c.year % 100 != 0) || c.year % 400 == 0;
  static constexpr int kDaysBefore[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  c.day_of_year = kDaysBefore[c.month - 1] + c.day + (leap && c.month > 2 ? 1 : 0);
  c.hour = static_cast<int>(rest / 3600);
  c.minute = static_cast<int>(rest % 3600 / 60);
  c.second = static_cast<int>(rest % 60);
  return c;
}

Calendar to_calendar_milliseconds(std::int64_t milliseconds) {
  std::int64_t seconds = milliseconds / 1000 - (milliseconds % 1000 < 0 ? 1 : 0);
  Calendar c = to_calendar(seconds);
  c.millisecond = static_cast<int>(milliseconds - seconds * 1000);
  return c;
}

}  // namespace wavconv::common
