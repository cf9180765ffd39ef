#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace wavconv::gse {

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
// sample 1; the first sample is never below 1. Nothing when a product is beyond the 64-bit
// range; `overflow` then names it ("jump x samprate").
std::optional<Window> choose_window(std::int32_t jump, std::int32_t length, double samprate,
                                    std::int64_t nsamp, const char** overflow = nullptr);

}  // namespace wavconv::gse
