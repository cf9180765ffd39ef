#include "css/samples.h"

#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <new>

#include "common/platform.h"

namespace wavconv::css {

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

}  // namespace wavconv::css
