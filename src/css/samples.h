#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "common/files.h"

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

// A sample file of little-endian signed 32-bit integers, opened once: its size comes from the
// open handle, which then serves the load.
class SampleFile {
 public:
  // Ends the run with the fatal report for an OPEN of `path` when it names no regular file
  // that can be read.
  static SampleFile open(const std::string& path);

  // The number of whole samples in the file; a remainder of 1 to 3 bytes is no sample.
  std::int64_t sample_count() const { return size_ / 4; }

  // Reads the first `count` samples from byte 0 in one pass. Ends the run with the fatal
  // report for a READ when the file ends early.
  Samples load(std::int64_t count);

 private:
  SampleFile(std::string path, common::FileHandle file, std::int64_t size)
      : path_(std::move(path)), file_(std::move(file)), size_(size) {}

  std::string path_;
  common::FileHandle file_;
  std::int64_t size_;
};

// Ends the run with the floating-point fatal report when `samprate` is 0: the segment's end
// time, a division by it, has no value.
void check_samprate(float samprate);

}  // namespace wavconv::css
