#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wavconv::driver {

// A time to the microsecond: microseconds since 1970-01-01 00:00:00 UTC.
using Microseconds = std::int64_t;

// A time as the window options take it: "YYYY-MM-DDThh:mm:ss[.f...]" (ISO 8601, UTC),
// "YYYY/MM/DD hh:mm:ss[.f...]" (as IMS messages write it), or "@" and epoch seconds
// ("@981947229.5"). Fractions beyond the microsecond must be zeros. Nothing when it does not
// read or names no real day.
std::optional<Microseconds> parse_time(std::string_view text);

// A decimal number as written ("981947229.01250", "-12", "40"), exactly, as microseconds;
// digits beyond the microsecond must be zeros. Nothing when it does not read.
std::optional<Microseconds> parse_seconds(std::string_view text);

// A sample rate as written, exactly: numerator / denominator, in lowest terms. Nothing when it
// does not read, is not above 0 or has more digits than 64 bits hold.
struct Rate {
  std::int64_t numerator = 0, denominator = 1;
  bool operator==(const Rate&) const = default;
};
std::optional<Rate> parse_rate(std::string_view text);

// Whether `name` matches `pattern`: "*" any run of characters, "?" any one; letters of either
// case alike.
bool wildcard_match(std::string_view pattern, std::string_view name);

// What a window cut out of an archive takes: the samples in [from, to) (either end may be
// open) of the stations and channels named (names with * and ?; none: every one).
struct Selection {
  std::optional<Microseconds> from, to;
  std::vector<std::string> sta_list, chan_list;
  std::string text;  // how it was asked for, for messages (" --from ... --sta ...")
};

// The time of sample `first` (from 1) of a record starting at `time` (epoch seconds) at `rate`
// samples a second, to the nearest microsecond; a time beyond the 64-bit range of microseconds
// gives its nearest end.
std::int64_t start_microseconds(double time, double rate, std::int64_t first);

// Comma-separated names ("ARCES,FI*"), blanks around each dropped; empty ones skipped.
std::vector<std::string> split_list(std::string_view text);

// The samples of a record that lie within [from, to): those numbered first..end - 1 (from 0),
// of a record whose first sample is at `start` and whose rate is `rate`, with `nsamp` samples.
// Exact: sample k is at start + k / rate, compared with no rounding.
struct SampleSpan {
  std::int64_t first = 0, end = 0;
  std::int64_t count() const { return end > first ? end - first : 0; }
};
SampleSpan samples_within(Microseconds start, const Rate& rate, std::int64_t nsamp,
                          std::optional<Microseconds> from, std::optional<Microseconds> to);

// Where sample `actual_k` of a record starting at `actual_start` falls against where sample
// `expected_k` of one starting at `expected_start` would fall, both at `rate`: within half a
// sample period (joins), later (a gap) or earlier (an overlap), and by how many seconds.
struct Continuity {
  int kind = 0;  // 0: within half a period; 1: a gap; -1: an overlap
  double seconds = 0;
};
Continuity continuity(Microseconds expected_start, std::int64_t expected_k,
                      Microseconds actual_start, std::int64_t actual_k, const Rate& rate);

// Microseconds as the window messages show a time: "2005-08-31T02:30:00.000000" trimmed of
// trailing fractional zeros ("2005-08-31T02:30:00" for a whole second).
std::string time_text(Microseconds time);

}  // namespace wavconv::driver
