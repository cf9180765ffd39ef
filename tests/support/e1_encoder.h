#pragma once

// An e1 encoder for tests and benchmarks: blocks the decoder must read back exactly.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace wavconv::testing {

// The six packet kinds: prefix and its length, words, values, bits a value.
struct E1Packet {
  std::uint32_t prefix;
  int prefix_bits, words, values, width;
};
inline constexpr E1Packet kE1Packets[] = {
    {0x0, 1, 2, 7, 9},  {0x2, 2, 1, 3, 10}, {0xc, 4, 1, 4, 7},
    {0xd, 4, 2, 5, 12}, {0xe, 4, 2, 4, 15}, {0xf, 4, 1, 1, 28},
};

inline void put_big(std::string& out, std::uint64_t value, int bytes) {
  for (int k = bytes - 1; k >= 0; --k) out.push_back(static_cast<char>(value >> (8 * k)));
}

inline bool fits(std::int64_t v, int width) {
  return v >= -(std::int64_t{1} << (width - 1)) && v < (std::int64_t{1} << (width - 1));
}

// One block of `values` after `differences` rounds of differencing (wrapping in 32 bits). Packets
// are of the kinds in `kinds` in turn (indices into kE1Packets), or else the first that fits of
// 7x4, 9x7, 10x3, 12x5, 15x4, 28x1. Uncompressed when asked, or when a residual needs more than
// 28 bits.
inline std::string encode_e1_block(std::span<const std::int32_t> values, int differences,
                                   bool uncompressed = false, std::vector<int> kinds = {}) {
  std::vector<std::int32_t> r(values.begin(), values.end());
  for (int d = 0; d < differences; ++d) {
    for (std::size_t i = r.size(); i-- > 1;) {
      r[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(r[i]) -
                                       static_cast<std::uint32_t>(r[i - 1]));
    }
  }
  for (std::int32_t v : r) uncompressed = uncompressed || !fits(v, 28);
  std::string body;
  if (uncompressed) {
    for (std::int32_t v : values) put_big(body, static_cast<std::uint32_t>(v), 4);
  } else {
    std::size_t i = 0, turn = 0;
    while (i < r.size()) {
      const E1Packet* packet = nullptr;
      if (!kinds.empty()) {
        packet = &kE1Packets[kinds[turn++ % kinds.size()]];
      } else {
        for (int k : {2, 0, 1, 3, 4, 5}) {
          const E1Packet& p = kE1Packets[k];
          bool ok = i + p.values <= r.size();
          for (int v = 0; ok && v < p.values; ++v) ok = fits(r[i + v], p.width);
          if (ok) {
            packet = &p;
            break;
          }
        }
      }
      std::uint64_t bits = std::uint64_t{packet->prefix} << (64 - packet->prefix_bits);
      for (int v = 0; v < packet->values; ++v) {
        std::uint64_t mask = (std::uint64_t{1} << packet->width) - 1;
        int shift = 64 - packet->prefix_bits - (v + 1) * packet->width;
        bits |= (static_cast<std::uint64_t>(static_cast<std::int64_t>(r[i + v])) & mask) << shift;
      }
      put_big(body, bits >> (packet->words == 1 ? 32 : 0), 4 * packet->words);
      i += packet->values;
    }
  }
  std::string block;
  put_big(block, 8 + body.size(), 2);
  put_big(block, values.size(), 2);
  block.push_back(static_cast<char>(uncompressed ? 0x10 : differences));
  put_big(block, static_cast<std::uint32_t>(values.back()) & 0xffffff, 3);
  return block + body;
}

// `values` as blocks of at most `block_size` samples each.
inline std::string encode_e1(std::span<const std::int32_t> values, int differences,
                             std::size_t block_size) {
  std::string data;
  for (std::size_t i = 0; i < values.size(); i += block_size) {
    data +=
        encode_e1_block(values.subspan(i, std::min(block_size, values.size() - i)), differences);
  }
  return data;
}

}  // namespace wavconv::testing
