#include "css/samples.h"

#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <new>

#include "common/platform.h"
#include "common/stop.h"

namespace wavconv::css {

using common::FatalError;
using common::Statement;

namespace {

// Large sample arrays are 2 MiB aligned and, where the system offers it, backed by huge pages:
// the passes over millions of fresh samples then cost a fraction of what 4 KiB pages cost.
constexpr std::size_t kHugePage = 2 << 20;

std::int32_t* allocate_storage(std::size_t bytes, std::size_t& alignment) {
  if (bytes < kHugePage / 2) {
    alignment = alignof(std::int32_t);
    return static_cast<std::int32_t*>(::operator new(std::max<std::size_t>(bytes, 4)));
  }
  alignment = kHugePage;
  std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  void* storage = ::operator new (rounded, std::align_val_t{kHugePage});
  common::platform::advise_huge_pages(storage, rounded);
  return static_cast<std::int32_t*>(storage);
}

}  // namespace

Samples allocate_samples(std::int64_t count, std::size_t bytes) {
  Samples samples;
  std::size_t alignment = 0;
  std::int32_t* storage = allocate_storage(bytes, alignment);
  samples.values = {storage, SampleStorageFree{alignment}};
  samples.count = count;
  return samples;
}

void SampleStorageFree::operator()(std::int32_t* values) const {
  if (alignment > alignof(std::max_align_t)) {
    ::operator delete (values, std::align_val_t{alignment});
  } else {
    ::operator delete(values);
  }
}

SampleFile SampleFile::open(const std::string& path) {
  common::FileHandle file = common::open_for_reading(path);
  struct stat info;
  if (!file.valid() || ::fstat(file.get(), &info) != 0) {
    int error = errno;
    common::fatal(Statement::kOpen, path, FatalError::kOpenFailed,
                  "sample file cannot be opened: " + std::string(std::strerror(error)), error);
  }
  if (!S_ISREG(info.st_mode)) {
    common::fatal(Statement::kOpen, path, FatalError::kOpenFailed,
                  "sample file is not a regular file");
  }
  return SampleFile(path, std::move(file), static_cast<std::int64_t>(info.st_size));
}

Samples SampleFile::load(std::int64_t count) {
  Samples samples;
  std::size_t bytes = static_cast<std::size_t>(count) * 4;
  try {
    samples = allocate_samples(count, bytes);
  } catch (const std::bad_alloc&) {
    common::fatal(Statement::kRead, path_, FatalError::kNoMemory,
                  "not enough memory for " + std::to_string(count) + " samples");
  }
  int error = 0;
  std::size_t got =
      common::read_fully(file_.get(), reinterpret_cast<char*>(samples.values.get()), bytes, error);
  if (error != 0) {
    common::fatal(Statement::kRead, path_, FatalError::kEndOfFile,
                  "sample file cannot be read: " + std::string(std::strerror(error)), error);
  }
  if (got < bytes) {
    common::fatal(Statement::kRead, path_, FatalError::kEndOfFile,
                  "sample file ended after " + std::to_string(got) + " of " +
                      std::to_string(bytes) + " bytes");
  }
  if constexpr (std::endian::native == std::endian::big) {
    for (std::int64_t i = 0; i < count; ++i) {
      auto u = static_cast<std::uint32_t>(samples.values[i]);
      u = (u >> 24) | ((u >> 8) & 0xff00u) | ((u << 8) & 0xff0000u) | (u << 24);
      samples.values[i] = static_cast<std::int32_t>(u);
    }
  }
  file_.close();
  return samples;
}

void check_samprate(float samprate) {
  if (samprate == 0) {
    common::fatal_math(FatalError::kDivideByZero,
                       "floating-point division by zero: samprate is 0 in the header");
  }
}

}  // namespace wavconv::css
