#include "gse/block.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace wavconv::gse {
namespace {

// The example as the default run shows it: whole seconds.
common::Trace example_trace() {
  common::Trace trace = testing::example_trace();
  trace.to_the_millisecond = false;
  return trace;
}

TEST(HeaderLines, WorkedExampleColumnByColumn) {
  common::Trace trace = example_trace();
  EXPECT_EQ(wid1_line(trace, 1201),
            "WID1  2001043  3  7  9   0     1201 ABC    BHZ      BZ  20.0000000 STS-2  INT8 0");
  trace.to_the_millisecond = true;  // as record mode shows it
  EXPECT_EQ(wid1_line(trace, 1201).substr(0, 27), "WID1  2001043  3  7  9 250 ");
  EXPECT_EQ(calibration_line(trace),
            " 1.0000001 1.0000     .0000     .0000     .0000     .0000   -1.00   -1.00   -1.0");
  EXPECT_EQ(checksum_line(123456), "CHK1              123456" + std::string(56, ' '));
}

TEST(HeaderLines, NulInTextFieldsWrittenAsBlanks) {
  common::Trace trace = example_trace();
  trace.sta = std::string("A\0C\0\0\0", 6);
  trace.chan = std::string("B\0Z\0\0\0\0\0", 8);
  trace.instype = std::string("\0TS-2\0", 6);
  EXPECT_EQ(wid1_line(trace, 1201),
            "WID1  2001043  3  7  9   0     1201 A C    B Z      BZ  20.0000000  TS-2  INT8 0");
}

TEST(Block, StartToTheMillisecondHalvesAwayFromZero) {
  struct Case {
    double time;
    int second, millisecond;
  } cases[] = {{981947229.0125, 9, 13},
               {981947229.9996, 10, 0},
               {-0.0005, 59, 999},
               {-0.0004, 0, 0},
               {-1.5, 58, 500}};
  for (const Case& c : cases) {
    common::Calendar start = *block_start(c.time, 20.0f, Window{1, 10}, true);
    EXPECT_EQ(start.second * 1000 + start.millisecond, c.second * 1000 + c.millisecond) << c.time;
  }
  // Sample 21 at 20 per second is one second in.
  EXPECT_EQ(block_start(981947229.0, 20.0f, Window{21, 30}, true)->second, 10);
  EXPECT_FALSE(block_start(1e16, 20.0f, Window{1, 1}, true).has_value());  // beyond 64 bits
}

TEST(Block, FirstFailedWriteStopsTheBlock) {
  std::vector<std::int32_t> samples(30, 5);
  testing::StringLineSink sink;
  sink.fail_after = 3;  // WID1, line 2, DAT1
  common::Trace trace = example_trace();
  trace.samples = samples;
  EXPECT_FALSE(find_output_format("gse1")->make({})->write_block(trace, sink).written);
  EXPECT_EQ(sink.text.size(), 3u * 82);
}

}  // namespace
}  // namespace wavconv::gse
