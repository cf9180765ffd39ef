#include "common/field_edit.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace wavconv::common {
namespace {

std::string right_justify(std::string text, int width) {
  if (static_cast<int>(text.size()) > width) return std::string(width, '*');
  return std::string(width - text.size(), ' ') + text;
}

}  // namespace

std::string edit_integer(std::int64_t value, int width) {
  return right_justify(std::to_string(value), width);
}

std::string edit_real(double value, int width, int digits, int precision) {
  // The exact value as 17 significant digits: value = 0.D1D2...D17 x 10^e.
  std::string mantissa;
  int e = 0;
  bool negative = std::signbit(value);
  if (value == 0) {
    mantissa = "0";
    negative = false;
  } else {
    // Correctly rounded like "%.16e", several times faster.
    char buffer[40];
    char* end = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                              std::chars_format::scientific, 16)
                    .ptr;
    *end = '\0';
    mantissa.push_back(buffer[0]);
    mantissa.append(buffer + 2, 16);
    e = std::atoi(buffer + 19) + 1;
  }
  int k = value == 0 ? 0 : e;
  int n = value == 0 ? digits : e + digits;
  if (k < -digits) return right_justify(std::string(".").append(digits, '0'), width);

  // Round to min(precision, n) significant digits, looking only at the next digit.
  int retained = std::min(precision, n);
  std::string kept = mantissa.substr(0, retained);
  if (retained < static_cast<int>(mantissa.size()) && mantissa[retained] >= '5') {
    int i = retained - 1;
    while (i >= 0 && kept[i] == '9') kept[i--] = '0';
    if (i >= 0) {
      ++kept[i];
    } else {
      kept.insert(kept.begin(), '1');
      ++k;
      ++n;
    }
  }
  if (kept.find_first_not_of('0') == std::string::npos) negative = false;
  if (n >= 520) return std::string(width, '*');

  auto digit = [&](int i) { return i < static_cast<int>(kept.size()) ? kept[i] : '0'; };
  std::string text = negative ? "-" : "";
  for (int i = 0; i < k; ++i) text.push_back(digit(i));
  if (k == 0 && n == 0) text.push_back('0');
  text.push_back('.');
  if (k < 0) text.append(-k, '0');
  for (int i = std::max(k, 0); i < n; ++i) text.push_back(digit(i));
  return right_justify(std::move(text), width);
}

std::string edit_text(std::string_view text, int width) {
  if (width <= 0 || width == static_cast<int>(text.size())) return std::string(text);
  if (width < static_cast<int>(text.size())) return std::string(text.substr(0, width));
  return std::string(width - text.size(), ' ') + std::string(text);
}

bool read_integer_field(std::string_view field, std::int64_t& value) {
  constexpr std::uint64_t kLowest = std::uint64_t{1} << 63;  // the magnitude of INT64_MIN
  std::uint64_t total = 0;
  bool negative = false, sign_seen = false, digit_seen = false;
  for (char c : field) {
    if (c == ' ' || c == '\t') continue;
    if ((c == '+' || c == '-') && !sign_seen && !digit_seen) {
      sign_seen = true;
      negative = c == '-';
    } else if (c >= '0' && c <= '9') {
      digit_seen = true;
      if (__builtin_mul_overflow(total, 10u, &total) ||
          __builtin_add_overflow(total, static_cast<unsigned>(c - '0'), &total) ||
          total > kLowest) {
        return false;
      }
    } else {
      return false;
    }
  }
  if (sign_seen && !digit_seen) return false;
  if (!negative && total == kLowest) return false;
  value = negative ? static_cast<std::int64_t>(0 - total) : static_cast<std::int64_t>(total);
  return true;
}

bool read_integer_field(std::string_view field, std::int32_t& value) {
  std::int64_t total = 0;
  if (!read_integer_field(field, total) || total > INT32_MAX || total < INT32_MIN) return false;
  value = static_cast<std::int32_t>(total);
  return true;
}

bool read_real_field(std::string_view field, int digits, bool single, double& value) {
  std::string mantissa;  // significant digits, without the point
  bool negative = false, point = false;
  int fraction_digits = 0;
  std::size_t i = 0;
  auto skip_blanks = [&] {
    while (i < field.size() && (field[i] == ' ' || field[i] == '\t')) ++i;
  };
  skip_blanks();
  if (i == field.size()) {
    value = 0;
    return true;
  }
  if (field[i] == '+' || field[i] == '-') negative = field[i++] == '-';
  for (; i < field.size(); ++i) {
    char c = field[i];
    if (c == ' ' || c == '\t') continue;
    if (c >= '0' && c <= '9') {
      mantissa.push_back(c);
      if (point) ++fraction_digits;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (mantissa.empty()) return false;

  std::int64_t exponent = 0;
  if (i < field.size()) {
    char c = field[i];
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd') {
      ++i;
      skip_blanks();
      c = i < field.size() ? field[i] : ' ';
    }
    bool exponent_negative = false;
    if (c == '+' || c == '-') {
      exponent_negative = c == '-';
      ++i;
    } else if (!(c >= '0' && c <= '9')) {
      return false;
    }
    bool exponent_digit = false;
    for (; i < field.size(); ++i) {
      char d = field[i];
      if (d == ' ' || d == '\t') continue;
      if (d < '0' || d > '9') return false;
      exponent_digit = true;
      if (exponent < 1000000) exponent = exponent * 10 + (d - '0');
    }
    if (!exponent_digit) return false;
    if (exponent_negative) exponent = -exponent;
  }
  exponent -= point ? fraction_digits : digits;

  std::string text = (negative ? "-" : "") + mantissa + "e" + std::to_string(exponent);
  errno = 0;
  if (single) {
    float f = std::strtof(text.c_str(), nullptr);
    if (std::isinf(f)) return false;
    value = f;
  } else {
    double d = std::strtod(text.c_str(), nullptr);
    if (std::isinf(d)) return false;
    value = d;
  }
  return true;
}

}  // namespace wavconv::common
