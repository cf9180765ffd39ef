#include "gse/window.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/stop.h"
#include "gse/naming.h"

namespace wavconv::gse {
namespace {

TEST(Window, JumpAndLengthAtTheSampleRate) {
  struct Case {
    int jump, length;
    float samprate;
    std::int64_t nsamp, first, last, count;
  } cases[] = {
      // clang-format off
      {0, 99999, 20, 5000, 1, 5000, 5000},      // the whole segment
      {10, 99999, 20, 5000, 201, 5000, 4800},   // N(200) + 1
      {1, 99999, 2.5f, 5000, 4, 5000, 4997},    // 2.5 rounds up
      {0, 10, 20, 100000, 1, 201, 201},          // both ends included
      {60, 600, 20, 180000, 1201, 13201, 12001},
      {60, 30, 40, 2000, 1, 1201, 1201},         // a jump past the end restarts
      {0, 100, 20, 1500, 1, 1500, 1500},         // cut at the end
      {0, 99999, 20, 0, 1, 0, 0},                // no samples
      {0, -5, 20, 1000, 1, -99, 0},              // a negative length keeps nothing
      {-5, 10, 20, 1000, 1, 201, 201},           // a negative jump starts at sample 1
      {5, 10, -20, 1000, 1, -199, 0},            // so does a negative samprate
      {100, 99999, 1, 101, 1, 101, 101},         // a jump onto the last sample restarts
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.jump << " " << c.length << " " << c.nsamp);
    Window w = *choose_window(c.jump, c.length, c.samprate, c.nsamp);
    EXPECT_EQ(w.first, c.first);
    EXPECT_EQ(w.last, c.last);
    EXPECT_EQ(w.count(), c.count);
  }
}

TEST(Window, WideProductsDoNotWrap) {
  Window w = *choose_window(0, 99998, 3.0e13f, 1000);  // beyond 32 bits, within 64
  EXPECT_EQ(w.last, 1000);
  const char* overflow = "";
  EXPECT_FALSE(choose_window(0, 99998, 1.0e15f, 1000, &overflow));  // beyond 64 bits
  EXPECT_STREQ(overflow, "length x samprate");
  EXPECT_FALSE(choose_window(99999, 10, 3.0e38f, 1000, &overflow));
  EXPECT_STREQ(overflow, "jump x samprate");
}

TEST(OutputName, DayTextAndDefaultName) {
  EXPECT_EQ(day_of_year_text(43), "043");
  EXPECT_EQ(day_of_year_text(5), "005");
  EXPECT_EQ(day_of_year_text(365), "365");
  struct Case {
    const char* dfile;
    const char* expected;
  } cases[] = {
      // clang-format off
      {"abc.w", "abc_043.gse"},
      {"stat01.w", "stat01_043.gse"},
      {"abc.waveforms", "abc_043.gsems"},
      {"1998045.XYZ.BHZ.w", "1998045_043.gse.w"},
      {"my file.w", "my_043.gse"},
      {".w", "_043.gse"},
      {"", "_043.gse"},
      {"abcdefghijklmnopqrstuvwx.w", "abcdefghijklmnopqrstuvwx_043.gse"},
      {"abcdefghijklmnopqrstuvwxyzABC.w", "abcdefghijklmnopqrstuvwxyzABC_04"},
      {"abcdefghijklmnopqrstuvwxyzABCDEF", "abcdefghijklmnopqrstuvwxyzABCDEF"},
      // Only the last path component names the output: it never leaves the output directory.
      {"d.1234567/../../victim/precious", "precious_043.gse"},
      {"/abs/dir/abc.w", "abc_043.gse"},
      {"sub/", "_043.gse"},
      {"x/..", "_043.gse"},
      {"abc.w  /../../x", "abc_043.gse.."},
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dfile);
    EXPECT_EQ(default_output_name(c.dfile, "043", "gse"), c.expected);
  }
}

TEST(OutputName, RecordNameFromStationChannelAndStart) {
  common::Calendar start = common::to_calendar(981947229);
  EXPECT_EQ(record_output_name("ABC   ", "BHZ     ", start, "gse"), "ABC_BHZ_2001043_030709.gse");
  EXPECT_EQ(record_output_name("A/B*  ", "B.Z-1 x ", start, "mseed"),
            "A_B__B.Z-1_2001043_030709.mseed");
  EXPECT_EQ(record_output_name(".BC", ".HZ", start, "gse"),
            "_BC__HZ_2001043_030709.gse");  // no hidden
  EXPECT_EQ(record_output_name("X", "Y", common::to_calendar(-62167219200 - 86400), "gse"),
            "X_Y_-0001365_000000.gse");  // the year before year 0, four digits
}

TEST(OutputName, BlockDayFromJdateOrTheStartDate) {
  EXPECT_EQ(block_day_text(2001043, 2001, true, 99), "043");
  EXPECT_EQ(block_day_text(2001043, 2001, false, 44), "044");  // a jump moved the start
  EXPECT_EQ(block_day_text(-1, 2001, true, 43), "043");        // the null jdate
  EXPECT_EQ(block_day_text(2000360, 2001, true, 43), "043");   // another year
}

}  // namespace
}  // namespace wavconv::gse
