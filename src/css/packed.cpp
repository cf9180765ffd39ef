#include "css/packed.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace wavconv::css {
namespace {

constexpr std::size_t kHeader = 8;

std::uint32_t big32(const unsigned char* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// `width` bits of `bits` ending `end` bits above bit 0, as a two's complement value.
inline std::int32_t field(std::uint64_t bits, int end, int width) {
  return static_cast<std::int32_t>(static_cast<std::int64_t>(bits << (64 - end - width)) >>
                                   (64 - width));
}

// A packet kind: its prefix, the words it fills, its values and their width in bits.
struct Packet {
  int prefix_bits, words, values, width;
};

Packet packet_kind(std::uint32_t first) {
  if ((first >> 31) == 0) return {1, 2, 7, 9};
  if ((first >> 30) == 2) return {2, 1, 3, 10};
  static constexpr Packet kFourBitPrefix[] = {
      {4, 1, 4, 7}, {4, 2, 5, 12}, {4, 2, 4, 15}, {4, 1, 1, 28}};
  return kFourBitPrefix[(first >> 28) & 3];
}

// The values of one compressed block's packets into `out`; a fault text, or empty.
std::string unpack(const unsigned char* words, std::size_t word_count, std::size_t samples,
                   std::int32_t* out) {
  std::size_t done = 0, w = 0;
  while (done < samples) {
    if (w >= word_count) {
      return "packets end before the block's " + std::to_string(samples) + " samples";
    }
    std::uint32_t first = big32(words + 4 * w);
    Packet kind = packet_kind(first);
    if (w + kind.words > word_count) return "a packet runs past the block";
    if (done + kind.values > samples) {
      return "packets hold more than the block's " + std::to_string(samples) + " samples";
    }
    std::uint64_t bits = std::uint64_t{first} << 32;
    if (kind.words == 2) bits |= big32(words + 4 * (w + 1));
    // Value v occupies the bits after the prefix and the values before it, most significant
    // first; `end` counts its lowest bit from bit 0.
    for (int v = 0; v < kind.values; ++v) {
      out[done + v] = field(bits, 64 - kind.prefix_bits - (v + 1) * kind.width, kind.width);
    }
    done += kind.values;
    w += kind.words;
  }
  return "";
}

// Stores samples `done`.. of `values` that fall in the kept range.
void keep(const Kept& kept, std::int64_t done, const std::int32_t* values, std::int64_t n) {
  std::int64_t from = std::max(done, kept.first);
  std::int64_t to = std::min(done + n, kept.first + kept.count);
  for (std::int64_t i = from; i < to; ++i) kept.out[i - kept.first] = values[i - done];
}

}  // namespace

std::optional<DecodeFault> decode_e1(const ByteReader& read, std::int64_t count, Kept kept) {
  std::vector<unsigned char> block;
  std::vector<std::int32_t> values;
  std::int64_t position = 0, done = 0;
  while (done < count) {
    unsigned char header[kHeader];
    if (read(position, header, kHeader) != kHeader) {
      return DecodeFault{position, "data ends after " + std::to_string(done) + " of " +
                                       std::to_string(count) + " samples"};
    }
    std::size_t length = std::size_t{header[0]} << 8 | header[1];
    std::size_t samples = std::size_t{header[2]} << 8 | header[3];
    bool uncompressed = header[4] & 0x10;
    int differences = header[4] & 0x0f;
    std::int32_t check =
        field(std::uint64_t{header[5]} << 16 | std::uint64_t{header[6]} << 8 | header[7], 0, 24);
    auto fault = [&](std::string text) { return DecodeFault{position, std::move(text)}; };
    if (samples < 1 || length % 4 != 0 || length < samples + kHeader ||
        length > 4 * (samples + 2) || differences > 4) {
      return fault("bad block header (length " + std::to_string(length) + ", " +
                   std::to_string(samples) + " samples, flags " + std::to_string(header[4]) + ")");
    }
    if (uncompressed && length != 4 * (samples + 2)) {
      return fault("uncompressed block of " + std::to_string(length) + " bytes for " +
                   std::to_string(samples) + " samples");
    }
    block.resize(length - kHeader);
    if (read(position + kHeader, block.data(), block.size()) != block.size()) {
      return fault("block runs past the end of the data");
    }
    values.resize(samples);
    if (uncompressed) {
      for (std::size_t i = 0; i < samples; ++i) {
        values[i] = static_cast<std::int32_t>(big32(block.data() + 4 * i));
      }
    } else {
      std::string problem = unpack(block.data(), block.size() / 4, samples, values.data());
      if (!problem.empty()) return fault(problem);
      for (int d = 0; d < differences; ++d) {
        std::uint32_t sum = static_cast<std::uint32_t>(values[0]);
        for (std::size_t i = 1; i < samples; ++i) {
          sum += static_cast<std::uint32_t>(values[i]);
          values[i] = static_cast<std::int32_t>(sum);
        }
      }
      if (field(static_cast<std::uint32_t>(values[samples - 1]), 0, 24) != check) {
        return fault("check value " + std::to_string(check) + " does not match the last sample " +
                     std::to_string(values[samples - 1]));
      }
    }
    std::int64_t used = std::min<std::int64_t>(static_cast<std::int64_t>(samples), count - done);
    keep(kept, done, values.data(), used);
    done += used;
    position += static_cast<std::int64_t>(length);
  }
  return std::nullopt;
}

std::optional<DecodeFault> decode_c0(const ByteReader& read, std::int64_t count, Kept kept) {
  constexpr std::size_t kChunk = 1 << 16;
  constexpr std::size_t kShown = 64;  // characters of a bad token shown in the fault
  std::vector<unsigned char> chunk(kChunk);
  std::int64_t position = 0, done = 0, token_start = 0;
  // The token being read: its first characters, and its value as far as it is one.
  std::string token;
  std::int64_t value = 0;
  bool negative = false, digits = false, bad = false;
  auto is_space = [](unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  auto add = [&](unsigned char c) {
    if (token.size() < kShown) token.push_back(static_cast<char>(c));
    bool first = token.size() == 1;
    if (first && (c == '+' || c == '-')) {
      negative = c == '-';
    } else if (c >= '0' && c <= '9') {
      digits = true;
      if (!bad) {
        value = value * 10 + (c - '0');
        bad = value > std::int64_t{INT32_MAX} + 1;  // judged by value: leading zeros fit
      }
    } else {
      bad = true;
    }
  };
  auto finish_token = [&]() -> std::optional<DecodeFault> {
    std::int64_t signed_value = negative ? -value : value;
    if (bad || !digits || signed_value < INT32_MIN || signed_value > INT32_MAX) {
      return DecodeFault{token_start, "\"" + token + "\" is no 32-bit integer"};
    }
    if (done >= kept.first && done < kept.first + kept.count) {
      kept.out[done - kept.first] = static_cast<std::int32_t>(signed_value);
    }
    ++done;
    token.clear();
    value = 0;
    negative = digits = bad = false;
    return std::nullopt;
  };
  bool at_end = false;
  while (done < count && !at_end) {
    std::size_t got = read(position, chunk.data(), kChunk);
    at_end = got < kChunk;
    for (std::size_t i = 0; i < got && done < count; ++i) {
      unsigned char c = chunk[i];
      if (!is_space(c)) {
        if (token.empty()) token_start = position + static_cast<std::int64_t>(i);
        add(c);
      } else if (!token.empty()) {
        if (auto fault = finish_token()) return fault;
      }
    }
    position += static_cast<std::int64_t>(got);
  }
  if (done < count && !token.empty()) {
    if (auto fault = finish_token()) return fault;
  }
  if (done < count) {
    return DecodeFault{position, "text ends after " + std::to_string(done) + " of " +
                                     std::to_string(count) + " samples"};
  }
  return std::nullopt;
}

}  // namespace wavconv::css
