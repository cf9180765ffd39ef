#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "common/files.h"

namespace wavconv::gse {

// How data lines are formatted: the portable code, or 8 values at a time with AVX2.
enum class Kernel { kScalar, kAvx2 };

// True when this CPU can run `kernel`.
bool kernel_available(Kernel kernel);

// The fastest kernel this CPU runs, chosen once.
Kernel best_kernel();

// The running GSE checksum: each sample reduced modulo 10^8 (toward zero) when it reaches
// 10^8 in size, added, and the sum reduced the same way whenever it reaches 10^8.
class Checksum {
 public:
  void add(std::int32_t sample) {
    std::int64_t v = sample;
    if (v >= kModulus || v <= -kModulus) [[unlikely]]
      v %= kModulus;
    sum_ += v;
    if (sum_ >= kModulus) {
      sum_ -= kModulus;
    } else if (sum_ <= -kModulus) {
      sum_ += kModulus;
    }
  }
  // add() for a sample known to lie within +-(10^8 - 1), such as any written in 8 columns.
  void add_small(std::int32_t sample) {
    sum_ += sample;
    if (static_cast<std::uint64_t>(sum_ + (kModulus - 1)) > 2 * (kModulus - 1)) [[unlikely]] {
      sum_ += sum_ > 0 ? -kModulus : kModulus;
    }
  }
  // 0..99999999.
  std::int64_t value() const { return sum_ < 0 ? -sum_ : sum_; }

 private:
  static constexpr std::int64_t kModulus = 100'000'000;
  std::int64_t sum_ = 0;
};

// Bytes of one full data line: ten values of 8 columns and CR LF.
inline constexpr std::size_t kFullLine = 82;

// `lines` full lines of ten values from `values` at `out`, each value in 8 columns (eight
// asterisks when it lies outside -9999999..99999999, counted in `too_wide`) and each line
// ended by CR LF; every value added to `checksum`. Returns the end of the text.
char* format_full_lines(Kernel kernel, const std::int32_t* values, std::size_t lines, char* out,
                        Checksum& checksum, std::int64_t& too_wide);

// The samples as "(10i8)" lines, the last line as long as its values, each ended by CR LF; one
// empty line when there are none. Adds every sample to `checksum`. False on the first failed
// write.
bool write_data_lines(std::span<const std::int32_t> samples, common::Sink& sink, Checksum& checksum,
                      std::int64_t& too_wide, Kernel kernel = best_kernel());

}  // namespace wavconv::gse
