#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace wavconv::css {

// The sample encodings a record can name: s = big-endian and i = little-endian integers of
// 4, 3, 2 or 1 bytes; t = big-endian and f, u = little-endian IEEE floats of 4 or 8 bytes;
// g2 NORESS gain-ranged 2-byte samples; e1 block-compressed integers; c0 ASCII integers.
enum class Datatype { s4, s3, s2, s1, i4, i3, i2, i1, t4, t8, f4, f8, u4, u8, g2, e1, c0 };

// A record's datatype field with its blanks removed, as it is compared and shown.
std::string datatype_code(std::string_view field);

// The datatype of a record's code (blanks removed, case kept); nothing for any other code.
std::optional<Datatype> datatype_from_code(std::string_view code);

// Bytes a sample; 0 for e1 and c0, whose samples have no fixed size.
std::size_t width(Datatype type);

bool is_float(Datatype type);

// The `count` samples at `bytes` (sample i at i x width) as integers into `out`; the 3-byte types
// are sign-extended from bit 23; a g2 sample is (m - 8191) x 1, 4, 16 or 128 for gain 0..3, with
// m the low 14 bits of its big-endian value and the gain its top 2. For a fixed-width integer
// type only. `out` may overlap `bytes` when it
// starts at or before them: each sample is read before its own value is stored.
void decode_integers(Datatype type, const unsigned char* bytes, std::size_t count,
                     std::int32_t* out);

// Sample i of `bytes` as a real. For a float type only.
double decode_float(Datatype type, const unsigned char* bytes, std::size_t i);

}  // namespace wavconv::css
