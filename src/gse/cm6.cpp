#include "gse/cm6.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "gse/data_lines.h"

namespace wavconv::gse {
namespace {

inline std::int64_t second_difference(std::span<const std::int32_t> x, std::size_t i) {
  std::int64_t a = x[i];
  std::int64_t b = i >= 1 ? x[i - 1] : 0;
  std::int64_t c = i >= 2 ? x[i - 2] : 0;
  return a - 2 * b + c;
}

// The characters of `value` (below 2^29 in magnitude) at `out`, most significant first; eight
// bytes are written, as many as the value takes are kept. Without branches on the value: real
// traces mix one-, two- and three-character values at random.
inline char* put_value(std::int64_t value, char* out) {
  std::uint64_t m =
      value < 0 ? static_cast<std::uint64_t>(-value) : static_cast<std::uint64_t>(value);
  unsigned sign = value < 0 ? 16 : 0;
  unsigned n =
      1 + (m >= 16) + (m >= (1u << 9)) + (m >= (1u << 14)) + (m >= (1u << 19)) + (m >= (1u << 24));
  int shift = 5 * static_cast<int>(n - 1);
  // The characters gathered in a register, the first in the lowest byte, then stored at once.
  std::uint64_t word =
      static_cast<unsigned char>(kCm6Alphabet[(n > 1 ? 32u : 0u) | sign | ((m >> shift) & 15)]);
  for (unsigned j = 1; j < 6; ++j) {
    shift -= 5;
    std::uint64_t bits = shift >= 0 ? (m >> shift) & 31 : 0;
    word |= std::uint64_t{static_cast<unsigned char>(kCm6Alphabet[(j + 1 < n ? 32u : 0u) | bits])}
            << (8 * j);
  }
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  std::memcpy(out, &word, 8);
  return out + n;
}

// The characters of every value below 2^14 in magnitude (up to three, and their count in the top
// byte), so that the values of real traces cost one look-up each.
constexpr std::int64_t kTabled = 1 << 14;
const std::uint32_t* small_values() {
  static const std::vector<std::uint32_t> table = [] {
    std::vector<std::uint32_t> t(2 * kTabled);
    for (std::int64_t m = 0; m < kTabled; ++m) {
      for (std::int64_t value : {m, -m}) {
        char chars[8];
        std::size_t n = static_cast<std::size_t>(put_value(value, chars) - chars);
        std::uint32_t entry = static_cast<std::uint32_t>(n) << 24;
        for (std::size_t k = 0; k < n; ++k) {
          entry |= std::uint32_t{static_cast<unsigned char>(chars[k])} << (8 * k);
        }
        t[static_cast<std::size_t>((value < 0 ? kTabled : 0) + m)] = entry;
      }
    }
    t[kTabled] = t[0];  // zero in the negative half too, for look-ups by sign
    return t;
  }();
  return table.data();
}

// The last two characters of every value of three or more (its low ten bits), and each
// character with its continuation mark (32 more) added.
struct Tails {
  std::uint16_t low[1024];
  unsigned char continued[256];
};
const Tails& tails() {
  static const Tails t = [] {
    Tails made{};
    for (unsigned m = 0; m < 1024; ++m) {
      made.low[m] =
          static_cast<std::uint16_t>(static_cast<unsigned char>(kCm6Alphabet[32 | (m >> 5)]) |
                                     static_cast<unsigned char>(kCm6Alphabet[m & 31]) << 8);
    }
    for (unsigned i = 0; i < 32; ++i) {
      made.continued[static_cast<unsigned char>(kCm6Alphabet[i])] =
          static_cast<unsigned char>(kCm6Alphabet[i + 32]);
    }
    return made;
  }();
  return t;
}

// put_value() through the tables: below 2^14 one look-up; below 2^24 the value's top part as a
// value of its own (its last character marked as continued) and the two characters of its low
// ten bits. Little-endian hosts; elsewhere put_value().
inline char* put_tabled(std::int64_t value, const std::uint32_t* table, const Tails& tails,
                        char* out) {
  if constexpr (std::endian::native != std::endian::little) return put_value(value, out);
  std::int64_t s = value >> 63;
  std::int64_t m = (value ^ s) - s;
  if (m >= (std::int64_t{1} << 24)) [[unlikely]]
    return put_value(value, out);
  // Both forms are formed and one is chosen without a branch: real traces mix them at random.
  std::uint32_t small = table[(s & kTabled) + std::min<std::int64_t>(m, kTabled - 1)];
  std::uint32_t top = table[(s & kTabled) + (m >> 10)];
  unsigned head = top >> 24;
  unsigned shift = 8 * (head - 1);
  std::uint64_t last = tails.continued[(top >> shift) & 0xff];
  std::uint64_t large = (top & ~(0xffu << shift) & 0xffffff) | (last << shift) |
                        (std::uint64_t{tails.low[m & 1023]} << (8 * head));
  // A mask rather than a condition, so that the compiler keeps it free of branches.
  std::uint64_t small_mask = 0 - static_cast<std::uint64_t>(m < kTabled);
  std::uint64_t word = ((small & 0xffffff) & small_mask) | (large & ~small_mask);
  std::memcpy(out, &word, 8);
  // The count from the magnitude, not from the tables: the next value's place then does not
  // wait for this one's look-ups.
  unsigned n = 1 + (m >= 16) + (m >= (1 << 9)) + (m >= (1 << 14)) + (m >= (1 << 19));
  return out + n;
}

}  // namespace

namespace {

// The largest magnitude among the samples. Compiled for AVX2 too and chosen when the program
// starts.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(_WIN32)
__attribute__((target_clones("avx2", "default")))
#endif
std::int64_t
largest_magnitude(const std::int32_t* values, std::size_t count) {
  std::int32_t low = 0, high = 0;
  for (std::size_t i = 0; i < count; ++i) {
    low = std::min(low, values[i]);
    high = std::max(high, values[i]);
  }
  return std::max(-std::int64_t{low}, std::int64_t{high});
}

}  // namespace

bool cm6_small(std::span<const std::int32_t> samples) {
  return largest_magnitude(samples.data(), samples.size()) < kCm6Limit / 4;
}

std::optional<std::pair<std::size_t, std::int64_t>> cm6_too_large(
    std::span<const std::int32_t> samples) {
  // |x[i] - 2 x[i-1] + x[i-2]| is at most four times the largest magnitude: below 2^25 no
  // difference can reach 2^27, as with nearly every real trace.
  if (cm6_small(samples)) return std::nullopt;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    std::int64_t d = second_difference(samples, i);
    if (d >= kCm6Limit || d <= -kCm6Limit) return std::pair{i, d};
  }
  return std::nullopt;
}

char* encode_cm6_tail(const std::int32_t* x, std::size_t begin, std::size_t end, char* out,
                      Checksum* checksum, char** line_start) {
  const std::uint32_t* table = small_values();
  const Tails& low = tails();
  for (std::size_t i = begin; i < end; ++i) {
    std::int64_t d = std::int64_t{x[i]} - 2 * std::int64_t{x[i - 1]} + x[i - 2];
    out = put_tabled(d, table, low, out);
    if (checksum) checksum->add(x[i]);
    if (line_start) out = break_lines(out, *line_start);
  }
  return out;
}

char* encode_cm6(std::span<const std::int32_t> samples, std::size_t begin, std::size_t end,
                 char* out, Checksum* checksum, char** line_start, bool small) {
  std::size_t i = begin;
  for (; i < end && i < 2; ++i) {
    out = put_value(second_difference(samples, i), out);
    if (checksum) checksum->add(samples[i]);
    if (line_start) out = break_lines(out, *line_start);
  }
#if defined(__x86_64__) || defined(__i386__)
  // Eight at a time where every second difference fits 32 bits with room: samples below 2^25.
  if (end - i >= 64 && best_kernel() == Kernel::kAvx2 &&
      (small || largest_magnitude(samples.data() + (i - 2), end - i + 2) < kCm6Limit / 4)) {
    return encode_cm6_avx2(samples.data(), i, end, out, checksum, line_start);
  }
#endif
  return encode_cm6_tail(samples.data(), i, end, out, checksum, line_start);
}

char* encode_cm6_lines(std::span<const std::int32_t> samples, std::size_t begin, std::size_t end,
                       char* out, std::size_t& column, Checksum& checksum, bool small) {
  char* line_start = out - column;
  out = encode_cm6(samples, begin, end, out, &checksum, &line_start, small);
  column = static_cast<std::size_t>(out - line_start);
  return out;
}

std::string cm6_value(std::int64_t value) {
  char text[16];
  return std::string(text, put_value(value, text));
}

}  // namespace wavconv::gse
