#include "gse/data_lines.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

#include "gse/data_lines_avx2.h"

namespace wavconv::gse {
namespace {

constexpr std::size_t kValuesPerLine = 10;
constexpr std::size_t kValueWidth = 8;

// One value in 8 columns at `p`. The eight digits are formed together in one 64-bit word, one
// byte a digit, the most significant in the lowest byte; leading zeros become blanks.
inline void put_value(char* p, std::int32_t v, std::int64_t& too_wide) {
  if (v > 99'999'999 || v < -9'999'999) [[unlikely]] {
    std::memcpy(p, "********", kValueWidth);
    ++too_wide;
    return;
  }
  std::uint64_t u = v < 0 ? static_cast<std::uint64_t>(-static_cast<std::int64_t>(v))
                          : static_cast<std::uint64_t>(v);
  // Two 4-digit halves in 32-bit lanes, then 2-digit pairs in 16-bit lanes, then digits.
  std::uint64_t high = u / 10000;
  std::uint64_t merged = high | ((u - high * 10000) << 32);
  std::uint64_t pairs = ((merged * 10486) >> 20) & ((0x7Full << 32) | 0x7Full);
  std::uint64_t quads = ((merged - 100 * pairs) << 16) + pairs;
  std::uint64_t digits = ((quads * 103) >> 10) & 0x000F000F000F000Full;
  digits += (quads - 10 * digits) << 8;

  int lead = std::min(std::countr_zero(digits) >> 3, 7);  // leading zero digits
  std::uint64_t blanks = (1ull << (8 * lead)) - 1;
  std::uint64_t text =
      ((digits | 0x3030303030303030ull) & ~blanks) | (0x2020202020202020ull & blanks);
  // A minus sign replaces the blank before the first digit ('-' is 0x0d above a blank).
  text += v < 0 ? 0x0dull << (8 * (lead - 1)) : 0;
  // Byte 0 of the word is the first column.
  if constexpr (std::endian::native == std::endian::big) text = __builtin_bswap64(text);
  std::memcpy(p, &text, kValueWidth);
}

// `n` values (at most ten) and CR LF.
char* scalar_line(const std::int32_t* values, std::size_t n, char* out, Checksum& checksum,
                  std::int64_t& too_wide) {
  for (std::size_t i = 0; i < n; ++i, out += kValueWidth) {
    put_value(out, values[i], too_wide);
    checksum.add(values[i]);
  }
  *out++ = '\r';
  *out++ = '\n';
  return out;
}

}  // namespace

bool kernel_available(Kernel kernel) {
#if defined(__x86_64__) || defined(__i386__)
  if (kernel == Kernel::kAvx2) return __builtin_cpu_supports("avx2");
#endif
  return kernel == Kernel::kScalar;
}

Kernel best_kernel() {
  static const Kernel best = kernel_available(Kernel::kAvx2) ? Kernel::kAvx2 : Kernel::kScalar;
  return best;
}

char* format_full_lines(Kernel kernel, const std::int32_t* values, std::size_t lines, char* out,
                        Checksum& checksum, std::int64_t& too_wide) {
#if defined(__x86_64__) || defined(__i386__)
  if (kernel == Kernel::kAvx2) {
    std::size_t groups = lines / kAvx2Lines;
    out = format_lines_avx2(values, groups, out, checksum, too_wide);
    values += groups * kAvx2Lines * kValuesPerLine;
    lines -= groups * kAvx2Lines;
  }
#endif
  for (std::size_t line = 0; line < lines; ++line, values += kValuesPerLine) {
    out = scalar_line(values, kValuesPerLine, out, checksum, too_wide);
  }
  return out;
}

bool write_data_lines(std::span<const std::int32_t> samples, common::Sink& sink, Checksum& checksum,
                      std::int64_t& too_wide, Kernel kernel) {
  if (samples.empty()) return sink.put_line("");
  constexpr std::size_t kLinesPerChunk = 3000;  // about 240 KiB of text
  const std::size_t lines = (samples.size() + kValuesPerLine - 1) / kValuesPerLine;
  // Each chunk is formatted straight into the sink's buffer where it offers one, else into a
  // buffer of our own, left as allocated: every byte of it is written before it is passed on.
  const std::size_t chunk_bytes = std::min(lines, kLinesPerChunk) * kFullLine;
  std::unique_ptr<char[]> own;
  const std::int32_t* next = samples.data();
  const std::int32_t* end = next + samples.size();
  while (next < end) {
    char* start = sink.reserve(chunk_bytes);
    if (!start) {
      if (!own) own.reset(new char[chunk_bytes]);
      start = own.get();
    }
    std::size_t full = std::min<std::size_t>((end - next) / kValuesPerLine, kLinesPerChunk);
    char* out = format_full_lines(kernel, next, full, start, checksum, too_wide);
    next += full * kValuesPerLine;
    if (full < kLinesPerChunk && next < end) {
      out = scalar_line(next, static_cast<std::size_t>(end - next), out, checksum, too_wide);
      next = end;
    }
    if (start != own.get()) {
      sink.commit(static_cast<std::size_t>(out - start));
    } else if (!sink.put_bytes(std::string_view(start, out - start))) {
      return false;
    }
  }
  return true;
}

}  // namespace wavconv::gse
