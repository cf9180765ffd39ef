#include "common/console.h"

#include <gtest/gtest.h>

#include <sstream>

namespace wavconv::common {
namespace {

struct ConsoleRun {
  std::ostringstream out, err;
  Console console{out, err};
  int finish(void (*end)()) {
    try {
      end();
    } catch (const Stop& s) {
      return console.finish(s);
    }
    return -1;
  }
};

TEST(ConsoleCarriageControl, LineEndsComeWithTheNextRecord) {
  ConsoleRun run;
  run.console.write("");  // an empty record counts as a blank control character
  run.console.write(" a");
  run.console.write("0b");
  run.console.write("+c");
  run.console.write("1d");
  EXPECT_EQ(run.out.str(), "\r\na\r\n\r\nb\rc\r\n\f\r \rd");
}

TEST(ConsoleStop, MessageWithoutEarlierOutputEndsWithOneLineEnd) {
  ConsoleRun run;
  EXPECT_EQ(run.finish([] { stop(" ", kSuccess); }), 0);
  EXPECT_EQ(run.out.str(), " \r\n");
  EXPECT_EQ(run.err.str(), "");
}

TEST(ConsoleStop, AfterConsoleOutputEndsWithTwoLineEnds) {
  ConsoleRun run;
  run.console.list_write("Error opening CSS-header of input file");
  EXPECT_EQ(run.finish([] { stop_without_message(kFailure); }), 1);
  EXPECT_EQ(run.out.str(),
            "Error opening CSS-header of input file\r\nStop - Program terminated.\r\n\r\n");
}

TEST(ConsoleStop, FatalReportGoesToStandardError) {
  ConsoleRun run;
  run.console.write(" x");
  EXPECT_EQ(run.finish([] {
              fatal(Statement::kOpen, "data/a\nb.w", FatalError::kOpenFailed, "cannot open");
            }),
            1);
  EXPECT_EQ(run.err.str(), "\r\nrun-time error F6416: OPEN(data/a?b.w)\r\n- cannot open\r\n");
  EXPECT_EQ(run.out.str(), "x\r\n");

  ConsoleRun math;
  EXPECT_EQ(math.finish([] { fatal_math(FatalError::kDivideByZero, "samprate is 0"); }), 1);
  EXPECT_EQ(math.err.str(), "\r\nrun-time error M1201: MATH\r\n- samprate is 0\r\n");
  EXPECT_EQ(math.out.str(), "");
}

}  // namespace
}  // namespace wavconv::common
