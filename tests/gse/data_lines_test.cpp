#include "gse/data_lines.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>

#include "common/format.h"
#include "test_support.h"

namespace wavconv::gse {
namespace {

// The lines of `values` by the general "(10i8)" editing, their checksum by the definition,
// and the count of asterisk fields.
struct Expected {
  std::string text;
  std::int64_t checksum = 0, too_wide = 0;
};
Expected general(const std::vector<std::int32_t>& values) {
  Expected e;
  std::vector<common::Item> items(values.begin(), values.end());
  for (const std::string& line : common::write(common::Format::parse("(10i8)"), items)) {
    e.text += line + "\r\n";
  }
  for (std::int32_t v : values) e.too_wide += v > 99'999'999 || v < -9'999'999;
  e.checksum = testing::reference_checksum(values);
  return e;
}

// Each kernel gives the general editing's bytes, checksum and asterisk count.
void expect_general(const std::vector<std::int32_t>& values) {
  Expected expected = general(values);
  for (Kernel kernel : {Kernel::kScalar, Kernel::kAvx2}) {
    if (!kernel_available(kernel)) continue;
    SCOPED_TRACE(kernel == Kernel::kAvx2 ? "avx2" : "scalar");
    testing::StringLineSink sink;
    Checksum checksum;
    std::int64_t too_wide = 0;
    ASSERT_TRUE(write_data_lines(values, sink, checksum, too_wide, kernel));
    ASSERT_TRUE(sink.text == expected.text);
    EXPECT_EQ(checksum.value(), expected.checksum);
    EXPECT_EQ(too_wide, expected.too_wide);
  }
}

TEST(DataLines, EveryKernelMatchesTheGeneralEditingAtEveryWidthBoundary) {
  std::vector<std::int32_t> values = {0,
                                      99999999,
                                      100000000,
                                      -9999999,
                                      -10000000,
                                      std::numeric_limits<std::int32_t>::min(),
                                      std::numeric_limits<std::int32_t>::max()};
  for (std::int64_t p = 10; p <= 1000000000; p *= 10) {
    for (std::int64_t v : {p - 1, p, p + 1, -p + 1, -p, -p - 1}) {
      values.push_back(static_cast<std::int32_t>(v));
    }
  }
  for (std::int32_t v = -120000; v <= 120000; ++v) values.push_back(v);
  expect_general(values);
}

TEST(DataLines, EveryKernelAtEveryTailLengthAndOnLongRandomRuns) {
  std::mt19937 random(11);
  std::vector<std::int32_t> values(200);
  for (auto& v : values) v = static_cast<std::int32_t>(random() % 20'000'001) - 10'000'000;
  // Every length of the last line, and of the whole window, around the four-line groups.
  for (std::size_t n = 0; n <= 90; ++n) {
    SCOPED_TRACE(n);
    expect_general(std::vector<std::int32_t>(values.begin(), values.begin() + n));
  }
  std::vector<std::int32_t> run(1'000'003);
  for (std::size_t i = 0; i < run.size(); ++i) {
    // Half of them anywhere in 32 bits, half within the 8 columns.
    run[i] = static_cast<std::int32_t>(i % 2 ? random() : random() % 110'000'000 - 10'000'000);
  }
  expect_general(run);
}

TEST(Checksum, ReducesModuloTenToTheEighth) {
  auto of = [](std::vector<std::int32_t> values) {
    Checksum c;
    for (std::int32_t v : values) c.add(v);
    return c.value();
  };
  EXPECT_EQ(of({100000005, -3}), 2);
  EXPECT_EQ(of({-100000001, -5}), 6);
  EXPECT_EQ(of({INT32_MIN}), 47483648);
  EXPECT_EQ(of({INT32_MIN, INT32_MIN, INT32_MIN}), 42450944);
  EXPECT_EQ(of({99999999, 1}), 0);
  EXPECT_EQ(of({-99999999, -1, 5}), 5);
  EXPECT_EQ(of({}), 0);
}

TEST(DataLines, ChecksumCrossesTheModulusBothWays) {
  // Sums climbing past +10^8 and falling past -10^8 over and over, from either side of 0.
  std::vector<std::int32_t> up(400, 99'999'999), down(400, -9'999'999), both;
  for (int i = 0; i < 200; ++i) {
    both.push_back(i % 3 ? 99'999'999 : -9'999'999);
    both.push_back(std::numeric_limits<std::int32_t>::min() + i);
  }
  for (const auto& values : {up, down, both}) expect_general(values);
  // A running sum of exactly -10^8 or +10^8 is reduced to 0, wherever it falls in a line or in a
  // kernel's group of values.
  for (std::size_t lead = 0; lead <= 42; ++lead) {
    SCOPED_TRACE(lead);
    for (std::int32_t sign : {-1, 1}) {
      std::vector<std::int32_t> values(lead, 0);
      values.insert(values.end(), {sign * 99'999'999, sign, 5});
      values.resize(lead + 3 + 80, 0);  // whole groups of forty after it too
      expect_general(values);
      Checksum checksum;
      for (std::int32_t v : values) checksum.add(v);
      EXPECT_EQ(checksum.value(), 5);
    }
  }
}

}  // namespace
}  // namespace wavconv::gse
