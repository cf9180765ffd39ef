#include "common/calendar.h"

#include <gtest/gtest.h>

#include <tuple>

#include "common/stop.h"

namespace wavconv::common {
namespace {

TEST(Calendar, RoundsHalvesAwayFromZeroAndSplitsTheDate) {
  struct Case {
    double time;
    std::int64_t year;
    int month, day, hour, minute, second, day_of_year;
  } cases[] = {
      // clang-format off
      {0.0, 1970, 1, 1, 0, 0, 0, 1},          {0.4, 1970, 1, 1, 0, 0, 0, 1},
      {0.5, 1970, 1, 1, 0, 0, 1, 1},          {59.5, 1970, 1, 1, 0, 1, 0, 1},
      {86399.5, 1970, 1, 2, 0, 0, 0, 2},      {-0.4, 1970, 1, 1, 0, 0, 0, 1},
      {951782400.0, 2000, 2, 29, 0, 0, 0, 60}, {951868800.0, 2000, 3, 1, 0, 0, 0, 61},
      {981947229.2, 2001, 2, 12, 3, 7, 9, 43}, {2147483647.0, 2038, 1, 19, 3, 14, 7, 19},
      {-1.0, 1969, 12, 31, 23, 59, 59, 365},  {-0.5, 1969, 12, 31, 23, 59, 59, 365},
      {-86400.0 * 365 * 70 - 17 * 86400, 1900, 1, 1, 0, 0, 0, 1},
      {4102444800.0, 2100, 1, 1, 0, 0, 0, 1},  {4107542400.0, 2100, 3, 1, 0, 0, 0, 60},
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.time);
    Calendar cal = to_calendar(nearest_integer(c.time, "time"));
    EXPECT_EQ(
        std::tie(cal.year, cal.month, cal.day, cal.hour, cal.minute, cal.second, cal.day_of_year,
                 cal.millisecond),
        std::make_tuple(c.year, c.month, c.day, c.hour, c.minute, c.second, c.day_of_year, 0));
  }
}

TEST(Calendar, ValueBeyondSixtyFourBitsIsFatal) {
  EXPECT_THROW(nearest_integer(1e19, "time"), Stop);
  EXPECT_THROW(nearest_integer(-1e19, "time"), Stop);
  EXPECT_THROW(nearest_integer(9223372036854775808.0, "time"), Stop);
  EXPECT_EQ(nearest_integer(-9223372036854775808.0, "time"), INT64_MIN);  // still in range
  EXPECT_EQ(nearest_integer(-2.5, "time"), -3);
}

}  // namespace
}  // namespace wavconv::common
