#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace wavconv::driver {

// A set of files, each by a 64-bit key: eight bytes a file, whatever the number of files.
class FileKeys {
 public:
  void insert(std::uint64_t key);
  bool contains(std::uint64_t key) const;

 private:
  static constexpr std::size_t kRecent = 1024;
  std::vector<std::uint64_t> sorted_, recent_;
};

// The key of an existing file, from its identity; nothing when it does not exist.
std::optional<std::uint64_t> identity_key(const std::string& path);

// The key of a path, made absolute and normal with its links followed (for files that need not
// exist yet).
std::uint64_t path_key(const std::string& path);

}  // namespace wavconv::driver
