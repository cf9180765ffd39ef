#include "css/sample_reader.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>

#include "e1_encoder.h"
#include "test_support.h"

namespace wavconv::css {
namespace {

std::string big_endian_floats(const std::vector<float>& values) {
  std::string bytes;
  for (float v : values) testing::put_big(bytes, std::bit_cast<std::uint32_t>(v), 4);
  return bytes;
}

// Samples first..first+count-1 of `source`, or the refusal's text.
std::variant<std::vector<int>, std::string> read(const SampleSource& source, std::int64_t first,
                                                 std::int64_t count, bool round = false,
                                                 Rounding* rounding = nullptr) {
  auto opened = SampleReader::open(source);
  if (auto* refusal = std::get_if<Refusal>(&opened)) return refusal->why;
  Rounding unused;
  auto samples = std::get<SampleReader>(opened).read(
      first, count, round, rounding ? *rounding : unused, {-9'999'999, 99'999'999, "8 columns"});
  if (auto* refusal = std::get_if<Refusal>(&samples)) return refusal->why;
  auto values = std::get<Samples>(samples).span();
  return std::vector<int>(values.begin(), values.end());
}

using Values = std::vector<int>;

TEST(RecordSamples, WindowAtAnOffsetFromAPlainOrGzippedFile) {
  testing::TempDir dir;
  std::string bytes = "HEAD" + testing::sample_bytes({10, -20, 30, -40, 50});
  dir.write("a.w", bytes);
  testing::write_gzipped(dir.file("b.w.gz"), bytes);
  for (const char* name : {"a.w", "b.w.gz"}) {
    SCOPED_TRACE(name);
    SampleSource source{dir.file(name), name[0] == 'b', 4, 0, "i4"};
    EXPECT_EQ(std::get<SampleReader>(SampleReader::open(source)).nsamp(), 5);
    EXPECT_EQ(std::get<Values>(read(source, 2, 3)), (Values{-20, 30, -40}));
    source.nsamp = 6;  // more than the file holds: never a shortened trace
    EXPECT_NE(std::get<std::string>(read(source, 1, 1)).find("holds 24 bytes"), std::string::npos);
  }
}

// Records on one gzip file share its stream, forward and back, and a gzipped file's length is
// still checked to the record's last byte (with the stream's true size in the refusal).
TEST(RecordSamples, GzipStreamSharedAcrossRecordsInAnyOrder) {
  testing::TempDir dir;
  std::vector<int> all(2000);
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int>(i * 37 % 5000) - 2500;
  testing::write_gzipped(dir.file("s.w.gz"), testing::sample_bytes(all));
  GzipStreams streams;
  auto window = [&](std::int64_t foff, std::int64_t nsamp, std::int64_t first,
                    std::int64_t count) -> std::variant<Values, std::string> {
    SampleSource source{dir.file("s.w.gz"), true, foff, nsamp, nsamp == 7 ? "e1" : "i4"};
    auto opened = SampleReader::open(source, &streams);
    if (auto* refusal = std::get_if<Refusal>(&opened)) return refusal->why;
    Rounding rounding;
    auto samples = std::get<SampleReader>(opened).read(first, count, false, rounding);
    if (auto* refusal = std::get_if<Refusal>(&samples)) return refusal->why;
    auto values = std::get<Samples>(samples).span();
    return Values(values.begin(), values.end());
  };
  for (std::int64_t record : {0, 1, 2, 5, 19, 3, 0}) {
    SCOPED_TRACE(record);
    Values expected(all.begin() + record * 100 + 10, all.begin() + record * 100 + 60);
    EXPECT_EQ(std::get<Values>(window(record * 400, 100, 11, 50)), expected);
  }
  EXPECT_EQ(std::get<Values>(window(7992, 0, 1, 2)), (Values{all[1998], all[1999]}));
  EXPECT_EQ(std::get<std::string>(window(4, 2000, 1, 1)),
            "sample file " + dir.file("s.w.gz") +
                " holds 8000 bytes, fewer than foff + nsamp x 4 = 8004");
  EXPECT_EQ(std::get<std::string>(window(9000, 7, 1, 1)),
            "sample file " + dir.file("s.w.gz") + " holds 8000 bytes, fewer than foff = 9000");
  EXPECT_EQ(std::get<Values>(window(0, 100, 1, 1)), Values{all[0]});
}

TEST(RecordSamples, DamagedGzipDataIsRefused) {
  testing::TempDir dir;
  testing::write_gzipped(dir.file("whole.w.gz"), testing::sample_bytes(std::vector<int>(5000, 7)));
  std::string data = dir.read("whole.w.gz");
  dir.write("cut.w.gz", data.substr(0, data.size() / 2));
  dir.write("plain.w.gz", testing::sample_bytes({1, 2}));
  for (const char* name : {"cut.w.gz", "plain.w.gz"}) {
    SCOPED_TRACE(name);
    SampleSource source{dir.file(name), true, 0, 0, "i4"};
    EXPECT_NE(std::get<std::string>(read(source, 1, 1)).find("damaged gzip"), std::string::npos);
  }
}

TEST(RecordSamples, EveryWindowSampleMustFitEightColumns) {
  testing::TempDir dir;
  dir.write("w.w", testing::sample_bytes({99999999, -9999999, 100000000, -10000000}));
  SampleSource source{dir.file("w.w"), false, 0, 0, "i4"};
  EXPECT_EQ(std::get<Values>(read(source, 1, 2)), (Values{99999999, -9999999}));
  EXPECT_EQ(std::get<std::string>(read(source, 2, 2)),
            "sample 3 is 100000000, too wide for 8 columns");
  EXPECT_EQ(std::get<std::string>(read(source, 4, 1)),
            "sample 4 is -10000000, too wide for 8 columns");
}

TEST(RecordSamples, FloatsWholeOrRoundedHalvesAwayFromZero) {
  testing::TempDir dir;
  dir.write("f.w", big_endian_floats({3.0f, -7.0f, 2.5f, -2.5f, 0.25f}));
  SampleSource source{dir.file("f.w"), false, 0, 0, "t4"};
  EXPECT_EQ(std::get<Values>(read(source, 1, 2)), (Values{3, -7}));
  EXPECT_EQ(std::get<std::string>(read(source, 1, 3)),
            "sample 3 is 2.5, not whole; /S scales, /F rounds");
  Rounding rounding;
  EXPECT_EQ(std::get<Values>(read(source, 1, 5, true, &rounding)), (Values{3, -7, 3, -3, 0}));
  EXPECT_EQ(rounding.changed, 3);
  EXPECT_DOUBLE_EQ(rounding.largest, 0.5);
  dir.write("g.w", big_endian_floats({std::nanf(""), 1e30f}));
  source.path = dir.file("g.w");
  EXPECT_EQ(std::get<std::string>(read(source, 1, 1, true)), "sample 1 is not a finite number");
  EXPECT_EQ(std::get<std::string>(read(source, 2, 1, true)),
            "sample 2 is 1.00000002e+30, too wide for 8 columns");
}

TEST(RecordSamples, PackedDataIsCheckedUpToNsampBeyondTheWindow) {
  testing::TempDir dir;
  std::vector<std::int32_t> values = {5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
  std::string e1 = testing::encode_e1(values, 1, 4);
  dir.write("e.w", "xy" + e1);
  dir.write("c.txt", "1 2 3 4 x");
  SampleSource e1_source{dir.file("e.w"), false, 2, 10, "e1"};
  EXPECT_EQ(std::get<Values>(read(e1_source, 3, 2)), (Values{7, 8}));
  e1_source.nsamp = 11;
  EXPECT_EQ(std::get<std::string>(read(e1_source, 1, 2)), "e1 block at byte " +
                                                              std::to_string(2 + e1.size()) +
                                                              ": data ends after 10 of 11 "
                                                              "samples");
  SampleSource c0_source{dir.file("c.txt"), false, 0, 5, "c0"};
  EXPECT_EQ(std::get<std::string>(read(c0_source, 1, 1)),
            "c0 text at byte 8: \"x\" is no 32-bit integer");
  c0_source.nsamp = 0;
  EXPECT_EQ(std::get<std::string>(read(c0_source, 1, 1)), "nsamp must be given for c0");
}

}  // namespace
}  // namespace wavconv::css
