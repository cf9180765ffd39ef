// miniSEED records read back by libmseed's own parser: every encoding at record lengths from the
// smallest to the largest, float records bit for bit, start times to the microsecond on every
// record, one sample and a day at 100 samples a second; what miniSEED cannot hold is refused.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "gse/writer.h"
#include "mseed_reader.h"
#include "test_support.h"

namespace wavconv::gse {
namespace {

using testing::MseedRecord;

common::Trace mseed_trace(std::span<const std::int32_t> samples) {
  common::Trace trace = testing::example_trace(samples);
  trace.net = "IU";
  trace.loc = "00";
  trace.start_us = 981947229123456;  // 2001-02-12 03:07:09.123456
  return trace;
}

// The bytes of one file of `traces`.
std::string file_of(const WriterOptions& options, const std::vector<common::Trace>& traces) {
  std::unique_ptr<Writer> writer = find_output_format("mseed")->make(options);
  testing::StringLineSink sink;
  EXPECT_TRUE(writer->start_file(sink, "out.mseed"));
  for (const common::Trace& trace : traces) {
    EXPECT_FALSE(writer->refusal(trace));
    EXPECT_TRUE(writer->write_block(trace, sink).written);
  }
  EXPECT_TRUE(writer->end_file(sink));
  return sink.text;
}

std::vector<MseedRecord> records_of(const std::string& bytes) {
  bool ok = false;
  std::vector<MseedRecord> records = testing::read_mseed(bytes, &ok);
  EXPECT_TRUE(ok);
  return records;
}

// A random walk whose steps reach `largest` (a Steim frame holds differences of every width).
std::vector<std::int32_t> walk(std::size_t n, std::int32_t largest, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::int32_t> samples(n);
  std::int64_t value = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const int bits = static_cast<int>(random() % 31);
    std::int64_t step = static_cast<std::int64_t>(random() % (std::uint64_t{1} << bits));
    step = std::min<std::int64_t>(step, largest) * (random() % 2 ? 1 : -1);
    if (value + step > INT32_MAX || value + step < INT32_MIN) step = -step;
    value += step;
    samples[i] = static_cast<std::int32_t>(value);
  }
  return samples;
}

TEST(Mseed, EveryEncodingAndRecordLengthReadsBack) {
  const std::vector<std::int32_t> samples = walk(30'000, (1 << 29) - 1, 7);
  const struct {
    const char* encoding;
    int code;
  } encodings[] = {
      {"", DE_STEIM2}, {"steim2", DE_STEIM2}, {"steim1", DE_STEIM1}, {"int32", DE_INT32}};
  for (const auto& e : encodings) {
    for (int length : {256, 512, 4096, 65536}) {
      SCOPED_TRACE(std::string(e.encoding) + " " + std::to_string(length));
      WriterOptions options{e.encoding, length == 4096 ? 0 : length};
      common::Trace trace = mseed_trace(samples);
      std::string bytes = file_of(options, {trace});
      ASSERT_EQ(bytes.size() % static_cast<std::size_t>(length), 0u);
      std::vector<MseedRecord> records = records_of(bytes);
      ASSERT_GT(records.size(), length < 65536 ? 1u : 0u);  // records cross record boundaries
      std::vector<std::int32_t> back;
      for (std::size_t i = 0; i < records.size(); ++i) {
        const MseedRecord& r = records[i];
        EXPECT_EQ(r.length, length);
        EXPECT_EQ(r.encoding, e.code);
        EXPECT_EQ(r.sequence, static_cast<int>(i + 1));
        EXPECT_EQ(r.byte_order, 1);
        EXPECT_EQ(r.quality, 'D');
        EXPECT_EQ(r.net + "." + r.sta + "." + r.loc + "." + r.chan, "IU.ABC.00.BHZ");
        EXPECT_EQ(r.samprate, 20.0);
        // Each record starts at its first sample's time, to the microsecond.
        EXPECT_EQ(r.start_us, trace.start_us + static_cast<std::int64_t>(back.size()) * 50'000);
        EXPECT_TRUE(r.has_1001);
        back.insert(back.end(), r.ints.begin(), r.ints.end());
      }
      EXPECT_EQ(back, samples);
    }
  }
}

TEST(Mseed, StartTimesToTheMicrosecondAtRatesNoDecimalHolds) {
  // 3 samples a second: record starts fall on thirds of a second, each rounded to the nearest
  // microsecond from the first sample's.
  const std::vector<std::int32_t> samples = walk(5'000, 1000, 3);
  common::Trace trace = mseed_trace(samples);
  trace.samprate = 3;
  trace.start_us = -1'000'000'000'000 + 999'999;  // before 1970 too
  std::vector<MseedRecord> records = records_of(file_of({"", 256}, {trace}));
  std::int64_t before = 0;
  for (const MseedRecord& r : records) {
    const double exact = static_cast<double>(trace.start_us) + before * 1e6 / 3;
    EXPECT_LE(std::fabs(static_cast<double>(r.start_us) - exact), 0.5) << before;
    before += static_cast<std::int64_t>(r.ints.size());
  }
  EXPECT_EQ(before, 5'000);
}

TEST(Mseed, FloatRecordsBitForBit) {
  const std::vector<double> singles = {0.0,
                                       -0.0,
                                       1.5,
                                       -3.25e-7f,
                                       std::numeric_limits<float>::denorm_min(),
                                       std::numeric_limits<float>::max(),
                                       -std::numeric_limits<float>::max(),
                                       static_cast<float>(M_PI)};
  const std::vector<double> doubles = {
      M_PI, -1e-300, 1e300, std::nextafter(1.0, 2.0), std::numeric_limits<double>::denorm_min(),
      -0.0};
  for (int width : {4, 8}) {
    SCOPED_TRACE(width);
    std::vector<double> values;
    for (int i = 0; i < 2000; ++i) {
      const auto& from = width == 4 ? singles : doubles;
      values.push_back(from[static_cast<std::size_t>(i) % from.size()] * (i % 3 == 0 ? 1 : -1));
    }
    common::Trace trace = mseed_trace({});
    trace.reals = values;
    trace.real_width = width;
    std::vector<MseedRecord> records = records_of(file_of({"steim1", 512}, {trace}));
    std::vector<double> back;
    for (const MseedRecord& r : records) {
      EXPECT_EQ(r.encoding, width == 4 ? DE_FLOAT32 : DE_FLOAT64);
      if (width == 4) back.insert(back.end(), r.floats.begin(), r.floats.end());
      if (width == 8) back.insert(back.end(), r.doubles.begin(), r.doubles.end());
    }
    ASSERT_EQ(back.size(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
      ASSERT_EQ(std::memcmp(&back[i], &values[i], sizeof(double)), 0) << i << " " << values[i];
    }
  }
}

TEST(Mseed, OneSampleADayAtOneHundredAndTracesInOrder) {
  const std::vector<std::int32_t> one = {-2'000'000'000};  // the first sample is written whole
  std::vector<std::int32_t> day = walk(8'640'000, 5000, 11);
  common::Trace first = mseed_trace(one), second = mseed_trace(day);
  second.samprate = 100;
  second.sta = "LONG";
  std::vector<MseedRecord> records = records_of(file_of({}, {first, second}));
  ASSERT_GE(records.size(), 2u);
  EXPECT_EQ(records[0].ints, one);
  EXPECT_EQ(records[0].sta, "ABC");
  std::vector<std::int32_t> back;
  for (std::size_t i = 1; i < records.size(); ++i) {
    EXPECT_EQ(records[i].sta, "LONG");
    EXPECT_EQ(records[i].sequence, static_cast<int>(i + 1));  // one sequence through the file
    EXPECT_EQ(records[i].start_us,
              second.start_us + static_cast<std::int64_t>(back.size()) * 10'000);
    back.insert(back.end(), records[i].ints.begin(), records[i].ints.end());
  }
  EXPECT_EQ(back, day);
}

TEST(Mseed, WhatMiniseedCannotHoldIsRefused) {
  std::unique_ptr<Writer> steim2 = find_output_format("mseed")->make({});
  std::unique_ptr<Writer> steim1 = find_output_format("mseed")->make({"steim1", 0});
  std::unique_ptr<Writer> int32 = find_output_format("mseed")->make({"int32", 0});
  const std::vector<std::int32_t> fine = {0, (1 << 29) - 1, 0, -(1 << 29)};
  const std::vector<std::int32_t> wide = {0, 1 << 29};
  const std::vector<std::int32_t> widest = {INT32_MIN, INT32_MAX};
  EXPECT_FALSE(steim2->refusal(mseed_trace(fine)));
  EXPECT_EQ(*steim2->refusal(mseed_trace(wide)),
            "sample 2: its difference from the one before is too large for Steim-2 "
            "(--encoding steim1 or int32 keeps it)");
  EXPECT_FALSE(steim1->refusal(mseed_trace(wide)));
  EXPECT_TRUE(steim1->refusal(mseed_trace(widest)));
  EXPECT_FALSE(int32->refusal(mseed_trace(widest)));
  EXPECT_FALSE(steim2->samples_fit(wide));
  EXPECT_TRUE(int32->samples_fit(widest));

  const struct {
    void (*change)(common::Trace&);
    const char* why;
  } cases[] = {
      {[](common::Trace& t) { t.sta = "TESTbe"; },
       "station TESTbe is longer than 5 characters (miniSEED holds 5)"},
      {[](common::Trace& t) { t.chan = "BHZ1    "; },
       "channel BHZ1 is longer than 3 characters (miniSEED holds 3)"},
      {[](common::Trace& t) { t.net = "IMS"; },
       "network IMS is longer than 2 characters (miniSEED holds 2)"},
      {[](common::Trace& t) { t.loc = "001"; },
       "location 001 is longer than 2 characters (miniSEED holds 2)"},
      {[](common::Trace& t) { t.sta = "A\x01"; }, "station A? holds a character miniSEED does not"},
      {[](common::Trace& t) { t.samples = {}; },
       "no samples: a miniSEED record holds at least one"},
      {[](common::Trace& t) { t.samprate = 0; }, "samprate 0.000000 cannot be written in miniSEED"},
  };
  for (const auto& c : cases) {
    common::Trace trace = mseed_trace(fine);
    c.change(trace);
    EXPECT_EQ(steim2->refusal(trace).value_or("none"), c.why);
  }
}

}  // namespace
}  // namespace wavconv::gse
