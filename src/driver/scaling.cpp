#include "driver/scaling.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

namespace wavconv::driver {

std::variant<Scaling, std::string> choose_scaling(std::span<const double> samples, float calib,
                                                  const gse::Writer& writer, std::int32_t* out) {
  const common::SampleLimit limit = writer.sample_limit();
  const double largest_count = static_cast<double>(std::min(limit.highest, -limit.lowest));
  const double taken = calib == 0 ? 1.0 : calib;
  const double own_loss = writer.calib_loss(taken).value_or(0.0);
  std::optional<int> fitting;  // the largest k at which the samples fit
  for (int k = 12; k >= -12; --k) {
    const double power = std::pow(10.0, std::abs(k));
    double largest = 0;
    bool fits = true;
    for (std::size_t i = 0; i < samples.size() && fits; ++i) {
      double value = k >= 0 ? samples[i] * power : samples[i] / power;
      double count = std::round(value);
      fits = std::fabs(count) <= largest_count;
      out[i] = fits ? static_cast<std::int32_t>(count) : 0;
      largest = std::max(largest, std::fabs(count - value));
    }
    if (!fits || !writer.samples_fit({out, samples.size()})) continue;
    if (!fitting) fitting = k;
    double scaled = static_cast<float>(k >= 0 ? taken / power : taken * power);
    std::optional<double> loss = writer.calib_loss(scaled);
    if (!loss || *loss > own_loss + 1e-6) continue;
    // Fewer than three significant digits left would lose the signal while reporting success.
    std::int64_t biggest = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
      biggest = std::max<std::int64_t>(biggest, std::abs(static_cast<std::int64_t>(out[i])));
    }
    if (biggest < kFewestCounts) {
      char text[160];
      std::snprintf(text, sizeof text,
                    "samples scale to at most %lld counts (by 1e%d, %s): fewer than 3 "
                    "significant digits",
                    static_cast<long long>(biggest), k,
                    k < *fitting ? "the most its calib field allows" : "the largest scale");
      return std::string(text);
    }
    return Scaling{k, taken, scaled, largest};
  }
  char text[96];
  if (!fitting) {
    std::snprintf(text, sizeof text, "samples too large for %s even scaled by 1e-12", limit.what);
    return std::string(text);
  }
  double power = std::pow(10.0, std::abs(*fitting));
  double scaled = *fitting >= 0 ? taken / power : taken * power;
  std::snprintf(text, sizeof text, "calib %g scaled by 1e%d is %g, too %s for its field", taken,
                *fitting, scaled, std::fabs(scaled) >= 1 ? "large" : "small");
  return std::string(text);
}

}  // namespace wavconv::driver
