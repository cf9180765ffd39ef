#pragma once

#include <cstdint>
#include <span>

namespace wavconv::gse {

// The modulus of the GSE checksum, 10^8.
inline constexpr std::int64_t kChecksumModulus = 100'000'000;

// The length option's value that means: to the end of the segment.
inline constexpr std::int32_t kWholeSegment = 99999;

// Samples first..last, counted from 1; empty when last < first.
struct Window {
  std::int64_t first;
  std::int64_t last;
  // last - first + 1, never below 0.
  std::int64_t count() const { return last >= first ? last - first + 1 : 0; }
};

// The window of `jump` seconds skipped and `length` seconds kept (kWholeSegment: to the end)
// at `samprate`, over `nsamp` samples. A jump onto or past the last sample restarts at
// sample 1; the first sample is never below 1. A product beyond the 64-bit range ends the run
// with the floating-point fatal report.
Window choose_window(std::int32_t jump, std::int32_t length, float samprate, std::int64_t nsamp);

// The GSE checksum of the samples, 0..99999999.
std::int64_t checksum(std::span<const std::int32_t> samples);

}  // namespace wavconv::gse
