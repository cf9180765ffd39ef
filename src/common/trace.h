#pragma once

#include <climits>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "common/calendar.h"

namespace wavconv::common {

// The values a sample may take to be written exactly by an output format; `what` names the
// limit in refusals ("too wide for 8 columns").
struct SampleLimit {
  std::int64_t lowest;
  std::int64_t highest;
  const char* what;
};

inline constexpr SampleLimit kInt32Limit = {INT32_MIN, INT32_MAX, "32 bits"};

// Where a station stands and how a channel is oriented, each value as far as it is known.
struct Placement {
  std::optional<double> latitude, longitude;  // degrees
  std::optional<double> elevation;            // km
  std::optional<double> depth;                // emplacement depth, km
  std::optional<double> hang, vang;           // degrees
};

// One trace as input and output meet: a window of samples and what a block says about them,
// whatever format they came from and go to.
struct Trace {
  std::string sta;                 // blank-padded, 6 characters (as renamed)
  std::string chan;                // blank-padded, 8 characters (as renamed)
  std::string net;                 // network code; empty when unknown
  std::string loc;                 // location code; empty when none
  std::string instype;             // blank-padded, 6 characters
  Calendar start;                  // the first sample, to the millisecond
  Calendar whole_second_start;     // the same to the whole second, as the default run shows it
  bool to_the_millisecond = true;  // which of the two a GSE1.0 header shows (false: the default
                                   // run, whose samprate it shows as a 32-bit real)
  std::string day_text;            // its day of the year, three digits
  std::int64_t start_us = 0;       // the first sample, microseconds since 1970 (nearest)
  std::int64_t first_sample = 1;   // the number of the first sample in its record, from 1
  double samprate = 0;             // samples per second, as read
  float calib = 0;
  float calper = 0;  // seconds
  // Counts; or, for a format that writes float samples as they are, a float record's values
  // (`samples` then empty), each held exactly in 4 bytes when `real_width` is 4.
  std::span<const std::int32_t> samples;
  std::span<const double> reals;
  int real_width = 0;   // 4 (t4, f4) or 8 (t8, f8) for `reals`
  Placement placement;  // from the station tables, when read

  std::size_t count() const { return reals.empty() ? samples.size() : reals.size(); }
};

}  // namespace wavconv::common
