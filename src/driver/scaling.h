#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <variant>

#include "gse/writer.h"

namespace wavconv::driver {

// Float samples scaled into counts by 10^k, and calib divided by the same, so that counts x
// calib is still the physical value.
struct Scaling {
  int k;
  double calib;         // as taken (1 for an unknown calib of 0)
  double scaled_calib;  // calib / 10^k, as a 32-bit float writes it
  double largest;       // the largest change of one scaled sample by rounding
};

// The smallest largest count a scaled record may have: three significant digits.
inline constexpr std::int64_t kFewestCounts = 1000;

// The largest k from 12 down to -12 for which every sample x 10^k, rounded half away from zero,
// fits the writer's format (within its sample limit, the same both ways from 0, and its own
// check such as CM6's second differences), and for which calib / 10^k loses no more in the
// format's calib field than calib itself; the counts go to `out`. The reason when there is none,
// or when the largest count at that k is below kFewestCounts (samples not all zero).
std::variant<Scaling, std::string> choose_scaling(std::span<const double> samples, float calib,
                                                  const gse::Writer& writer, std::int32_t* out);

}  // namespace wavconv::driver
