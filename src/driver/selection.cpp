#include "driver/selection.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <numeric>

#include "common/calendar.h"

namespace wavconv::driver {
namespace {

constexpr std::int64_t kMicro = 1000000;
// Times beyond this many seconds from 1970 (about 300,000 years) are not read.
constexpr std::int64_t kLatestSecond = 9'000'000'000'000;

// Days from 1970-01-01 to a day of the proleptic Gregorian calendar.
std::int64_t days_from_civil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

bool leap(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int days_in_month(std::int64_t y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leap(y) ? 29 : kDays[m - 1];
}

// Exactly `count` digits at `text[at]`, as a number.
std::optional<int> digits(std::string_view text, std::size_t at, std::size_t count) {
  if (at + count > text.size()) return std::nullopt;
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// A fraction of a second ("", or "." and digits) as microseconds; digits beyond the sixth must
// be zeros.
std::optional<std::int64_t> fraction(std::string_view text) {
  if (text.empty()) return 0;
  if (text[0] != '.' || text.size() == 1) return std::nullopt;
  std::int64_t micro = 0;
  for (std::size_t i = 1; i < text.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
    if (i <= 6) {
      micro = micro * 10 + (text[i] - '0');
    } else if (text[i] != '0') {
      return std::nullopt;
    }
  }
  for (std::size_t i = text.size(); i <= 6; ++i) micro *= 10;
  return micro;
}

// "YYYY?MM?DD?hh:mm:ss[.f]" with the given separators.
std::optional<Microseconds> calendar_time(std::string_view text, char date_separator, char middle) {
  if (text.size() < 19 || text[4] != date_separator || text[7] != date_separator ||
      text[10] != middle || text[13] != ':' || text[16] != ':') {
    return std::nullopt;
  }
  auto year = digits(text, 0, 4), month = digits(text, 5, 2), day = digits(text, 8, 2);
  auto hour = digits(text, 11, 2), minute = digits(text, 14, 2), second = digits(text, 17, 2);
  auto micro = fraction(text.substr(19));
  if (!year || !month || !day || !hour || !minute || !second || !micro) return std::nullopt;
  if (*month < 1 || *month > 12 || *day < 1 || *day > days_in_month(*year, *month) || *hour > 23 ||
      *minute > 59 || *second > 59) {
    return std::nullopt;
  }
  const std::int64_t seconds =
      days_from_civil(*year, *month, *day) * 86400 + *hour * 3600 + *minute * 60 + *second;
  return seconds * kMicro + *micro;
}

}  // namespace

std::optional<Microseconds> parse_seconds(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  std::size_t point = text.find('.');
  std::string_view whole = text.substr(0, point);
  std::string_view rest = point == std::string_view::npos ? "" : text.substr(point);
  if (whole.empty() && rest.size() < 2) return std::nullopt;
  std::int64_t seconds = 0;
  for (char c : whole) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    seconds = seconds * 10 + (c - '0');
    if (seconds > kLatestSecond) return std::nullopt;
  }
  std::optional<std::int64_t> micro = rest == "." ? std::optional<std::int64_t>(0) : fraction(rest);
  if (!micro) return std::nullopt;
  const Microseconds value = seconds * kMicro + *micro;
  return negative ? -value : value;
}

std::optional<Microseconds> parse_time(std::string_view text) {
  if (!text.empty() && text[0] == '@') {
    std::string_view number = text.substr(1);
    if (number.empty() || number.find(' ') != std::string_view::npos) return std::nullopt;
    return parse_seconds(number);
  }
  if (auto iso = calendar_time(text, '-', 'T')) return iso;
  return calendar_time(text, '/', ' ');
}

std::optional<Rate> parse_rate(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  const std::size_t point = text.find('.');
  std::string_view whole = text.substr(0, point);
  std::string_view part = point == std::string_view::npos ? "" : text.substr(point + 1);
  if (whole.empty() && part.empty()) return std::nullopt;
  while (!part.empty() && part.back() == '0') part.remove_suffix(1);
  while (!whole.empty() && whole.front() == '0') whole.remove_prefix(1);
  if (whole.size() + part.size() > 18) return std::nullopt;
  Rate rate;
  for (std::string_view digits : {whole, part}) {
    for (char c : digits) {
      if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
      rate.numerator = rate.numerator * 10 + (c - '0');
    }
  }
  for (std::size_t i = 0; i < part.size(); ++i) rate.denominator *= 10;
  if (rate.numerator <= 0) return std::nullopt;
  const std::int64_t g = std::gcd(rate.numerator, rate.denominator);
  rate.numerator /= g;
  rate.denominator /= g;
  return rate;
}

bool wildcard_match(std::string_view pattern, std::string_view name) {
  auto same = [](char a, char b) {
    return std::toupper(static_cast<unsigned char>(a)) ==
           std::toupper(static_cast<unsigned char>(b));
  };
  // The classic walk with one point to come back to after a "*".
  std::size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || same(pattern[p], name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::vector<std::string> split_list(std::string_view text) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = std::min(text.find(',', start), text.size());
    std::string_view name = text.substr(start, end - start);
    while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    if (!name.empty()) names.emplace_back(name);
    start = end + 1;
  }
  return names;
}

namespace {

// ceil(a / b) for b > 0.
__int128 ceil_div(__int128 a, __int128 b) { return a >= 0 ? (a + b - 1) / b : -((-a) / b); }

// The first sample k (from 0) at or after `time`: k >= (time - start) x rate.
std::int64_t first_at_or_after(Microseconds start, const Rate& rate, Microseconds time) {
  const __int128 offset = static_cast<__int128>(time) - start;
  const __int128 k =
      ceil_div(offset * rate.numerator, static_cast<__int128>(rate.denominator) * kMicro);
  if (k < 0) return 0;
  if (k > INT64_MAX) return INT64_MAX;
  return static_cast<std::int64_t>(k);
}

}  // namespace

SampleSpan samples_within(Microseconds start, const Rate& rate, std::int64_t nsamp,
                          std::optional<Microseconds> from, std::optional<Microseconds> to) {
  SampleSpan span{0, nsamp};
  if (from) span.first = std::min(first_at_or_after(start, rate, *from), nsamp);
  if (to) span.end = std::min(first_at_or_after(start, rate, *to), nsamp);
  if (span.end < span.first) span.end = span.first;
  return span;
}

Continuity continuity(Microseconds expected_start, std::int64_t expected_k,
                      Microseconds actual_start, std::int64_t actual_k, const Rate& rate) {
  // Times times the rate's numerator: start x numerator + k x denominator x 10^6.
  const __int128 per_sample = static_cast<__int128>(rate.denominator) * kMicro;
  const __int128 expected =
      static_cast<__int128>(expected_start) * rate.numerator + expected_k * per_sample;
  const __int128 actual =
      static_cast<__int128>(actual_start) * rate.numerator + actual_k * per_sample;
  const __int128 difference = actual - expected;
  Continuity c;
  c.seconds = static_cast<double>(difference) / static_cast<double>(rate.numerator) / kMicro;
  if (2 * difference >= per_sample) {
    c.kind = 1;
  } else if (-2 * difference >= per_sample) {
    c.kind = -1;
  }
  return c;
}

std::string time_text(Microseconds time) {
  std::int64_t seconds = time / kMicro, micro = time % kMicro;
  if (micro < 0) {
    micro += kMicro;
    --seconds;
  }
  common::Calendar c = common::to_calendar(seconds);
  char text[80];
  int n = std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d",
                        static_cast<long long>(c.year), c.month, c.day, c.hour, c.minute, c.second);
  if (micro != 0) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%06lld", static_cast<long long>(micro));
    std::string fraction(digits);
    while (fraction.back() == '0') fraction.pop_back();
    std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), ".%s", fraction.c_str());
  }
  return text;
}

std::int64_t start_microseconds(double time, double rate, std::int64_t first) {
  auto nearest = [](double value) {
    constexpr double kLimit = 9.2e18;
    return static_cast<std::int64_t>(std::llround(std::clamp(value, -kLimit, kLimit)));
  };
  const double offset = rate > 0 ? static_cast<double>(first - 1) * 1e6 / rate : 0;
  return nearest(time * 1e6) + nearest(offset);
}

}  // namespace wavconv::driver
