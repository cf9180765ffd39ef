#include "driver/file_keys.h"

#include <algorithm>

#include "common/platform.h"
#include "driver/output.h"

namespace wavconv::driver {
namespace {

std::uint64_t mix(std::uint64_t x) {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  x *= 0xc4ceb9fe1a85ec53ULL;
  return x ^ (x >> 33);
}

}  // namespace

void FileKeys::insert(std::uint64_t key) {
  recent_.push_back(key);
  if (recent_.size() < kRecent) return;
  std::sort(recent_.begin(), recent_.end());
  std::size_t middle = sorted_.size();
  sorted_.insert(sorted_.end(), recent_.begin(), recent_.end());
  std::inplace_merge(sorted_.begin(), sorted_.begin() + static_cast<std::ptrdiff_t>(middle),
                     sorted_.end());
  recent_.clear();
}

bool FileKeys::contains(std::uint64_t key) const {
  return std::binary_search(sorted_.begin(), sorted_.end(), key) ||
         std::find(recent_.begin(), recent_.end(), key) != recent_.end();
}

std::optional<std::uint64_t> identity_key(const std::string& path) {
  auto id = common::platform::file_identity(path);
  if (!id) return std::nullopt;
  return mix(id->first * 0x9e3779b97f4a7c15ULL ^ mix(id->second));
}

std::uint64_t path_key(const std::string& path) {
  std::string text = absolute_path(common::platform::follow_links(path).value_or(path));
  std::uint64_t hash = 0xcbf29ce484222325ULL;  // FNV-1a
  for (unsigned char c : text) hash = (hash ^ c) * 0x100000001b3ULL;
  return mix(hash ^ 0x5a5a5a5a5a5a5a5aULL);
}

}  // namespace wavconv::driver
