#include "gse/cm6.h"

namespace wavconv::gse {
namespace {

inline std::int64_t second_difference(std::span<const std::int32_t> x, std::size_t i) {
  std::int64_t a = x[i];
  std::int64_t b = i >= 1 ? x[i - 1] : 0;
  std::int64_t c = i >= 2 ? x[i - 2] : 0;
  return a - 2 * b + c;
}

// The characters of `value` at `out`, most significant first.
inline char* put_value(std::int64_t value, char* out) {
  std::uint64_t m =
      value < 0 ? static_cast<std::uint64_t>(-value) : static_cast<std::uint64_t>(value);
  unsigned sign = value < 0 ? 16 : 0;
  if (m < 16) {
    *out++ = kCm6Alphabet[sign | m];
    return out;
  }
  // Characters after the first: enough 5-bit groups for the bits above the first four.
  int more = 1;
  while (m >> (4 + 5 * more)) ++more;
  *out++ = kCm6Alphabet[32 | sign | ((m >> (5 * more)) & 15)];
  for (int k = more - 1; k >= 0; --k) {
    *out++ = kCm6Alphabet[(k > 0 ? 32 : 0) | ((m >> (5 * k)) & 31)];
  }
  return out;
}

}  // namespace

std::optional<std::pair<std::size_t, std::int64_t>> cm6_too_large(
    std::span<const std::int32_t> samples) {
  for (std::size_t i = 0; i < samples.size(); ++i) {
    std::int64_t d = second_difference(samples, i);
    if (d >= kCm6Limit || d <= -kCm6Limit) return std::pair{i, d};
  }
  return std::nullopt;
}

char* encode_cm6(std::span<const std::int32_t> samples, std::size_t begin, std::size_t end,
                 char* out) {
  std::size_t i = begin;
  for (; i < end && i < 2; ++i) out = put_value(second_difference(samples, i), out);
  const std::int32_t* x = samples.data();
  for (; i < end; ++i) {
    std::int64_t d = std::int64_t{x[i]} - 2 * std::int64_t{x[i - 1]} + x[i - 2];
    out = put_value(d, out);
  }
  return out;
}

std::string cm6_value(std::int64_t value) {
  char text[8];
  return std::string(text, put_value(value, text));
}

}  // namespace wavconv::gse
