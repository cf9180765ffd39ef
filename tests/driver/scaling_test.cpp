// /S: the power of ten chosen for float samples at each limit of each format, and the calib
// written with it.
#include "driver/scaling.h"

#include <gtest/gtest.h>

#include <cmath>

namespace wavconv::driver {
namespace {

struct Result {
  std::variant<Scaling, std::string> chosen;
  std::vector<std::int32_t> counts;
};

Result scale(const char* format, std::vector<double> samples, float calib = 1.0f) {
  Result result;
  result.counts.resize(samples.size());
  result.chosen = choose_scaling(samples, calib, *gse::find_output_format(format)->make({}),
                                 result.counts.data());
  return result;
}

int k_of(const Result& r) { return std::get<Scaling>(r.chosen).k; }

TEST(Scaling, LargestPowerThatFitsEachFormat) {
  // GSE1.0 INT8: |count| <= 9,999,999, the same both ways.
  EXPECT_EQ(k_of(scale("gse1", {9.9999994, -0.5})), 6);  // 9,999,999.4 fits; x10 would not
  EXPECT_EQ(k_of(scale("gse1", {9.9999996, -0.5})), 5);  // 10,000,000 after rounding does not
  EXPECT_EQ(k_of(scale("gse1", {-9.9999994, 0.5})), 6);  // below zero the same limit
  // GSE2.0 INT: 32 bits.
  EXPECT_EQ(k_of(scale("int", {2.1474836474, 0.5})), 9);  // 2147483647.4 rounds to 2^31 - 1
  EXPECT_EQ(k_of(scale("int", {2.1474836476, 0.5})), 8);
  // CM6: second differences under 2^27 (the first sample is its own).
  EXPECT_EQ(k_of(scale("cm6", {1.34217727})), 8);  // 134217727: the largest that fits
  EXPECT_EQ(k_of(scale("cm6", {1.34217728})), 7);  // 134217728 does not
  // At 1e8 the second difference of 5e7, -6e7 is -1.6e8: too large, though each sample fits.
  EXPECT_EQ(k_of(scale("cm6", {0.5, -0.6, 0.5})), 7);
  EXPECT_EQ(k_of(scale("int", {0.5, -0.6, 0.5})), 9);
}

TEST(Scaling, TinyHugeAndTheRounding) {
  // Tiny values would go to the largest power the calib field allows (1e-6 of calib 1 in F9.6)
  // and round to nothing there: refused, never a trace of zeros. 3e-9 m/s keeps four digits
  // in GSE2.0 (1e12); denormal floats are what they are, and too small for every format.
  EXPECT_EQ(std::get<std::string>(scale("gse1", {3e-9, -2e-9, 1e-9}).chosen),
            "samples scale to at most 0 counts (by 1e6, the most its calib field allows): fewer "
            "than 3 significant digits");
  Result velocity = scale("cm6", {3e-9, -2e-9, 1e-9});
  EXPECT_EQ(k_of(velocity), 12);
  EXPECT_EQ(velocity.counts, (std::vector<std::int32_t>{3000, -2000, 1000}));
  EXPECT_EQ(std::get<std::string>(scale("int", {1e-40, -2e-45}).chosen),
            "samples scale to at most 0 counts (by 1e12, the largest scale): fewer than 3 "
            "significant digits");
  EXPECT_EQ(std::get<std::string>(scale("gse1", {0.000999, 0.0001}).chosen),
            "samples scale to at most 999 counts (by 1e6, the most its calib field allows): "
            "fewer than 3 significant digits");
  EXPECT_EQ(k_of(scale("gse1", {0.001, 0.0001})), 6);  // 1000 counts: three digits kept
  Result huge = scale("gse1", {1e30, 0.5});
  EXPECT_EQ(std::get<std::string>(huge.chosen),
            "samples too large for 8 columns even scaled by 1e-12");
  Result halves = scale("gse1", {0.25, -0.125, 12.5}, 2.0f);
  const Scaling& s = std::get<Scaling>(halves.chosen);
  EXPECT_EQ(s.k, 5);
  EXPECT_EQ(halves.counts, (std::vector<std::int32_t>{25000, -12500, 1250000}));
  EXPECT_DOUBLE_EQ(s.largest, 0);
  EXPECT_FLOAT_EQ(static_cast<float>(s.scaled_calib), 2e-5f);
  // Rounding halves away from zero (calib 10 allows 1e7 in F9.6).
  Result away = scale("gse1", {0.00000025, -0.00000035, 0.9000003}, 10.0f);
  EXPECT_EQ(k_of(away), 7);
  EXPECT_EQ(away.counts, (std::vector<std::int32_t>{3, -4, 9000003}));
}

TEST(Scaling, CalibKeptToItsPrecisionInItsField) {
  // 0.0949 in GSE1.0's F9.6 field: .094900; divided by 100, .000949 still; by 1000 it would
  // lose digits, so k stops at 2 although the samples allow 6.
  Result gse1 = scale("gse1", {15.5, -22.25}, 0.0949f);
  EXPECT_EQ(k_of(gse1), 2);
  EXPECT_FLOAT_EQ(static_cast<float>(std::get<Scaling>(gse1.chosen).scaled_calib), 0.000949f);
  // GSE2.0 writes calib with three significant digits at any size.
  EXPECT_EQ(k_of(scale("cm6", {15.5, -22.25}, 0.0949f)), 6);
  // An unknown calib (0) is taken as 1.
  EXPECT_DOUBLE_EQ(std::get<Scaling>(scale("int", {0.5}, 0.0f).chosen).calib, 1.0);
  // Samples that need a negative power would make calib too large for F9.6: refused.
  EXPECT_EQ(std::get<std::string>(scale("gse1", {123456789.5}).chosen),
            "calib 1 scaled by 1e-2 is 100, too large for its field");
  EXPECT_EQ(k_of(scale("cm6", {223456789.5})), -1);  // calib 10 in %10.2e
  // A calib already too wide for F9.6 is too large, not too small, whatever the power.
  EXPECT_EQ(std::get<std::string>(scale("gse1", {5000000.5}, 5000.0f).chosen),
            "calib 5000 scaled by 1e0 is 5000, too large for its field");
}

}  // namespace
}  // namespace wavconv::driver
