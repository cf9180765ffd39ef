#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace wavconv::css {

// The widest sample count that one block's count field shows.
inline constexpr std::int64_t kMaxSamples = 99'999'999;

// Releases sample storage made by SampleFile::load.
struct SampleStorageFree {
  std::size_t alignment;
  void operator()(std::int32_t* values) const;
};

// Samples loaded from a sample file, counted from 0.
struct Samples {
  std::unique_ptr<std::int32_t[], SampleStorageFree> values{nullptr, {0}};
  std::int64_t count = 0;

  std::span<const std::int32_t> span() const {
    return {values.get(), static_cast<std::size_t>(count)};
  }
};

// Storage of `bytes` bytes (at least 4 x `count`) for `count` samples; std::bad_alloc when
// there is no memory for it.
Samples allocate_samples(std::int64_t count, std::size_t bytes);

}  // namespace wavconv::css
