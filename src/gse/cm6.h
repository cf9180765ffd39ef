#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>

namespace wavconv::gse {

// CM6 compression of GSE2.0: the samples' second differences (x0, x1 - 2 x0, then
// x[i] - 2 x[i-1] + x[i-2]), each written in characters of a 64-character set. The first
// character of a value carries 32 when more follow, 16 when the value is negative, and the top
// four bits of its magnitude; each further character 32 when more follow and the next five bits.
inline constexpr std::string_view kCm6Alphabet =
    "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// A second difference of this magnitude or more is not written (six characters would hold it,
// but readers take no more than 2^27 - 1).
inline constexpr std::int64_t kCm6Limit = std::int64_t{1} << 27;

// The first sample (from 0) whose second difference reaches kCm6Limit in magnitude, with that
// difference; nothing when every one can be written.
std::optional<std::pair<std::size_t, std::int64_t>> cm6_too_large(
    std::span<const std::int32_t> samples);

// Most characters one value takes.
inline constexpr std::size_t kCm6MaxChars = 6;

// Encodes the second differences of samples[begin, end) (those before `begin` give the first
// ones their predecessors) at `out`; returns the end of the characters. Each must lie within
// kCm6Limit. Up to 8 bytes past the end may be written.
class Checksum;
// `small`: every sample is known to lie below 2^25 in magnitude.
char* encode_cm6(std::span<const std::int32_t> samples, std::size_t begin, std::size_t end,
                 char* out, Checksum* checksum = nullptr, char** line_start = nullptr,
                 bool small = false);

// Whether every sample lies below 2^25 in magnitude, so that no second difference can reach
// kCm6Limit.
bool cm6_small(std::span<const std::int32_t> samples);

// Encodes samples[begin, end) as encode_cm6() does, cut into lines of 80 characters: `column`
// is where the current line stands, carried from call to call; each full line gets an LF. Adds
// each sample to `checksum`. At most kCm6MaxChars x 81 / 80 + 1 bytes a sample.
char* encode_cm6_lines(std::span<const std::int32_t> samples, std::size_t begin, std::size_t end,
                       char* out, std::size_t& column, Checksum& checksum, bool small);

// encode_cm6() from sample `begin` (at least 2) on, one value at a time; and with AVX2, eight
// at a time, for samples below 2^25 in magnitude (the eight-at-a-time code falls back on the
// other for what remains).
// Each sample encoded is added to `checksum`, and with `line_start` (where the current line
// began) the characters are cut into lines of 80 as they are written (see break_lines()).
char* encode_cm6_tail(const std::int32_t* x, std::size_t begin, std::size_t end, char* out,
                      Checksum* checksum, char** line_start);
char* encode_cm6_avx2(const std::int32_t* x, std::size_t begin, std::size_t end, char* out,
                      Checksum* checksum, char** line_start);

// Puts an LF after every 80 characters of the line begun at `line_start` that are followed by
// more, moving those forward; returns the new end.
inline char* break_lines(char* out, char*& line_start) {
  constexpr std::ptrdiff_t kLine = 80;
  while (out - line_start > kLine) {
    char* at = line_start + kLine;
    std::memmove(at + 1, at, static_cast<std::size_t>(out - at));
    *at = '\n';
    ++out;
    line_start = at + 1;
  }
  return out;
}

// The characters of one value (below 2^29 in magnitude).
std::string cm6_value(std::int64_t value);

}  // namespace wavconv::gse
