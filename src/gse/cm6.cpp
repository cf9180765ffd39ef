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
    return t;
  }();
  return table.data();
}

// put_value() through the table where it holds the value.
inline char* put_tabled(std::int64_t value, const std::uint32_t* table, char* out) {
  std::int64_t s = value >> 63;
  std::int64_t m = (value ^ s) - s;
  if (m >= kTabled) [[unlikely]]
    return put_value(value, out);
  std::uint32_t entry = table[(s & kTabled) + m];
  if constexpr (std::endian::native == std::endian::big) {
    char chars[4] = {static_cast<char>(entry), static_cast<char>(entry >> 8),
                     static_cast<char>(entry >> 16), 0};
    std::memcpy(out, chars, 4);
  } else {
    std::memcpy(out, &entry, 4);
  }
  return out + (entry >> 24);
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
  const std::uint32_t* table = small_values();
  for (; i < end; ++i) {
    std::int64_t d = std::int64_t{x[i]} - 2 * std::int64_t{x[i - 1]} + x[i - 2];
    out = put_tabled(d, table, out);
  }
  return out;
}

char* encode_cm6_lines(std::span<const std::int32_t> samples, std::size_t begin, std::size_t end,
                       char* out, std::size_t& column, Checksum& checksum) {
  constexpr std::size_t kLine = 80;
  for (std::size_t i = begin; i < end; ++i) checksum.add(samples[i]);
  // The characters at the end of the room, then moved forward into lines: the lines never
  // overtake them (a line end follows 80 characters).
  char scratch[kLine * kCm6MaxChars + 8];
  for (std::size_t piece = begin; piece < end; piece += kLine) {
    std::size_t stop = std::min(end, piece + kLine);
    const char* chars_end = encode_cm6(samples, piece, stop, scratch);
    const char* c = scratch;
    while (c < chars_end) {
      if (column == kLine) {
        *out++ = '\n';
        column = 0;
      }
      std::size_t n =
          std::min<std::size_t>(kLine - column, static_cast<std::size_t>(chars_end - c));
      std::memcpy(out, c, n);
      out += n;
      c += n;
      column += n;
    }
  }
  return out;
}

std::string cm6_value(std::int64_t value) {
  char text[16];
  return std::string(text, put_value(value, text));
}

}  // namespace wavconv::gse
