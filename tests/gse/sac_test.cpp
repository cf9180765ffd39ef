// SAC files read back by a reader written from the format's description: every header field the
// writer sets, checked one by one; counts and floats exactly or refused.
#include <gtest/gtest.h>

#include <cmath>

#include "gse/writer.h"
#include "sac_reader.h"
#include "test_support.h"

namespace wavconv::gse {
namespace {

using testing::SacFile;

std::string bytes_of(const common::Trace& trace) {
  std::unique_ptr<Writer> writer = find_output_format("sac")->make({});
  testing::StringLineSink sink;
  EXPECT_FALSE(writer->refusal(trace));
  EXPECT_TRUE(writer->start_file(sink, "out.sac") && writer->write_block(trace, sink).written &&
              writer->end_file(sink));
  return sink.text;
}

TEST(Sac, HeaderFieldsOneByOne) {
  const std::vector<std::int32_t> samples = {-16'777'216, 3, 16'777'216, 1};
  common::Trace trace = testing::example_trace(samples);
  trace.net = "IU";
  trace.loc = "10";
  trace.calib = 0.0949f;
  trace.start_us = 981947229'123'500;  // .1235 s: the reference time is the nearest millisecond
  trace.placement = {61.1, -149.7, 0.12, 0.0305, 90.0, 90.0};
  SacFile sac = testing::read_sac(bytes_of(trace));
  ASSERT_TRUE(sac.ok);
  EXPECT_EQ(sac.data, std::vector<float>({-16'777'216.0f, 3.0f, 16'777'216.0f, 1.0f}));
  EXPECT_EQ(sac.reals["delta"], 0.05f);
  EXPECT_EQ(sac.reals["b"], 0.0f);
  EXPECT_EQ(sac.reals["e"], 0.15f);  // (npts - 1) / samprate, then made a float
  EXPECT_EQ(sac.reals["depmin"], -16'777'216.0f);
  EXPECT_EQ(sac.reals["depmax"], 16'777'216.0f);
  EXPECT_EQ(sac.reals["depmen"], 1.0f);
  EXPECT_EQ(sac.reals["scale"], 0.0949f);
  EXPECT_EQ(sac.reals["stla"], 61.1f);
  EXPECT_EQ(sac.reals["stlo"], -149.7f);
  EXPECT_EQ(sac.reals["stel"], 120.0f);  // metres
  EXPECT_EQ(sac.reals["stdp"], 30.5f);
  EXPECT_EQ(sac.reals["cmpaz"], 90.0f);
  EXPECT_EQ(sac.reals["cmpinc"], 90.0f);
  EXPECT_EQ(sac.reals["evla"], -12345.0f);  // what is not known is SAC's undefined value
  EXPECT_EQ(sac.reals["o"], -12345.0f);
  const std::pair<const char*, std::int32_t> ints[] = {
      {"nzyear", 2001}, {"nzjday", 43}, {"nzhour", 3},    {"nzmin", 7},  {"nzsec", 9},
      {"nzmsec", 124},  {"nvhdr", 6},   {"npts", 4},      {"iftype", 1}, {"iztype", 9},
      {"idep", 5},      {"leven", 1},   {"norid", -12345}};
  for (const auto& [name, value] : ints) EXPECT_EQ(sac.ints[name], value) << name;
  const std::pair<const char*, const char*> texts[] = {{"kstnm", "ABC"},    {"kcmpnm", "BHZ"},
                                                       {"knetwk", "IU"},    {"khole", "10"},
                                                       {"kevnm", "-12345"}, {"kinst", "-12345"}};
  for (const auto& [name, value] : texts) EXPECT_EQ(sac.texts[name], value) << name;
}

TEST(Sac, UnknownPlacementNetworkAndLocationStayUndefined) {
  const std::vector<std::int32_t> one = {5};
  common::Trace trace = testing::example_trace(one);
  trace.start_us = -1;  // 1969-12-31 23:59:59.999999: rounds up to 1970-01-01 00:00:00.000
  SacFile sac = testing::read_sac(bytes_of(trace));
  ASSERT_TRUE(sac.ok);
  for (const char* name : {"stla", "stlo", "stel", "stdp", "cmpaz", "cmpinc"}) {
    EXPECT_EQ(sac.reals[name], -12345.0f) << name;
  }
  EXPECT_EQ(sac.texts["knetwk"], "-12345");
  EXPECT_EQ(sac.texts["khole"], "-12345");
  EXPECT_EQ(sac.ints["nzyear"], 1970);
  EXPECT_EQ(sac.ints["nzjday"], 1);
  EXPECT_EQ(sac.ints["nzmsec"], 0);
  EXPECT_EQ(sac.reals["e"], 0.0f);
}

TEST(Sac, FloatsKeptExactlyAndWhatAFloatCannotHoldRefused) {
  std::unique_ptr<Writer> writer = find_output_format("sac")->make({});
  EXPECT_TRUE(writer->one_trace_per_file());
  EXPECT_TRUE(writer->takes_reals());
  const std::vector<double> reals = {0.1f, -2.5e-20f, 3.0e38f};
  common::Trace trace = testing::example_trace();
  trace.reals = reals;
  trace.real_width = 4;
  SacFile sac = testing::read_sac(bytes_of(trace));
  ASSERT_TRUE(sac.ok);
  EXPECT_EQ(sac.data, std::vector<float>({0.1f, -2.5e-20f, 3.0e38f}));

  const std::vector<double> inexact = {0.5, 0.1};  // 0.1 as 8 bytes: no float holds it
  trace.reals = inexact;
  trace.real_width = 8;
  EXPECT_EQ(writer->refusal(trace).value_or(""),
            "sample 2 is 0.100000: a 32-bit float does not hold it exactly");
  const std::vector<std::int32_t> beyond = {0, -16'777'217};
  EXPECT_EQ(writer->refusal(testing::example_trace(beyond)).value_or(""),
            "sample 2 is -16777217: beyond +-16777216, a 32-bit float does not hold every such "
            "count exactly");
  EXPECT_EQ(writer->sample_limit().highest, 16'777'216);
}

}  // namespace
}  // namespace wavconv::gse
