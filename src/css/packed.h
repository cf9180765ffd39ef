#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace wavconv::css {

// Reads up to `size` bytes from byte `position` of a record's data (counted from foff) into
// `out`; returns the count read, less only at the end of the data.
using ByteReader =
    std::function<std::size_t(std::int64_t position, unsigned char* out, std::size_t size)>;

// Where decoding failed: the byte offset in the data (of the e1 block, or of the text) and what
// was wrong.
struct DecodeFault {
  std::int64_t offset;
  std::string fault;
};

// The samples a decoder keeps: `count` of them from sample `first` (counted from 0) into `out`.
// All samples are decoded and checked; only these are stored.
struct Kept {
  std::int64_t first;
  std::int64_t count;
  std::int32_t* out;
};

// e1 block-compressed integers, every quantity big-endian: blocks decoded in order from byte 0
// until `count` samples are decoded (the last block may be used in part), one block in memory at
// a time. Each block is checked whole: its header, its packets, its sample count and its check
// value.
std::optional<DecodeFault> decode_e1(const ByteReader& read, std::int64_t count, Kept kept);

// c0 ASCII integers: the first `count` tokens between ASCII white space, each a decimal integer
// with an optional sign whose value fits 32 bits (leading zeros of any number).
std::optional<DecodeFault> decode_c0(const ByteReader& read, std::int64_t count, Kept kept);

}  // namespace wavconv::css
