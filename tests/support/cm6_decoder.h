#pragma once

// A CM6 decoder of the tests' own, written from the format's description: characters back to
// second differences, then twice summed back to samples.
#include <cstdint>
#include <string_view>
#include <vector>

namespace wavconv::testing {

inline std::vector<std::int64_t> cm6_differences(std::string_view text) {
  constexpr std::string_view kAlphabet =
      "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  std::vector<std::int64_t> values;
  std::size_t i = 0;
  auto next = [&] { return static_cast<std::int64_t>(kAlphabet.find(text[i++])); };
  while (i < text.size()) {
    std::int64_t c = next();
    std::int64_t value = c & 15;
    bool negative = c & 16;
    while (c & 32) {
      c = next();
      value = value << 5 | (c & 31);
    }
    values.push_back(negative ? -value : value);
  }
  return values;
}

inline std::vector<std::int64_t> decode_cm6(std::string_view text) {
  std::vector<std::int64_t> samples;
  std::int64_t previous = 0, before = 0;
  for (std::int64_t d : cm6_differences(text)) {
    std::int64_t x = d + 2 * previous - before;
    samples.push_back(x);
    before = previous;
    previous = x;
  }
  return samples;
}

}  // namespace wavconv::testing
