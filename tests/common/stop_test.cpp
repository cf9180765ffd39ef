#include "common/stop.h"

#include <gtest/gtest.h>

namespace wavconv::common {
namespace {

TEST(FatalReport, LineEndsInANameAreShownAsQuestionMarks) {
  try {
    fatal(Statement::kOpen, "data/a\nb\r.w", FatalError::kOpenFailed, "cannot\nopen");
    FAIL() << "no stop";
  } catch (const Stop& stop) {
    EXPECT_EQ(stop.kind, Stop::Kind::kFatal);
    EXPECT_EQ(stop.status, kFailure);
    EXPECT_EQ(stop.text, "\r\nrun-time error F6416: OPEN(data/a?b?.w)\r\n- cannot?open\r\n");
  }
}

}  // namespace
}  // namespace wavconv::common
