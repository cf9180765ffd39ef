#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/text_file.h"

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

  const std::int32_t* begin() const { return values.get(); }
  const std::int32_t* end() const { return values.get() + count; }
};

// A sample file of little-endian signed 32-bit integers, opened once: its size comes from the
// open handle, which then serves the load.
class SampleFile {
 public:
  // Ends the run with the fatal report for an OPEN of `path` when it names no regular file
  // that can be read.
  static SampleFile open(const std::string& path);

  std::int64_t size() const { return size_; }
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

// The end time of the segment, `time` + (`nsamp` - 1) / `samprate`. A `samprate` of 0 ends
// the run with the floating-point fatal report.
double end_time(double time, std::int64_t nsamp, float samprate);

}  // namespace wavconv::css
