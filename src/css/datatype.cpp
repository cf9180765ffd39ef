#include "css/datatype.h"

#include <bit>
#include <cstring>
#include <string>

namespace wavconv::css {
namespace {

struct Code {
  std::string_view code;
  Datatype type;
};

constexpr Code kCodes[] = {
    {"s4", Datatype::s4}, {"s3", Datatype::s3}, {"s2", Datatype::s2}, {"s1", Datatype::s1},
    {"i4", Datatype::i4}, {"i3", Datatype::i3}, {"i2", Datatype::i2}, {"i1", Datatype::i1},
    {"t4", Datatype::t4}, {"t8", Datatype::t8}, {"f4", Datatype::f4}, {"f8", Datatype::f8},
    {"u4", Datatype::u4}, {"u8", Datatype::u8}, {"g2", Datatype::g2}, {"e1", Datatype::e1},
    {"c0", Datatype::c0},
};

bool big_endian(Datatype type) {
  return type == Datatype::s4 || type == Datatype::s3 || type == Datatype::s2 ||
         type == Datatype::s1 || type == Datatype::t4 || type == Datatype::t8;
}

// The `n` bytes at `p` as an unsigned number in the stated byte order.
inline std::uint64_t unsigned_value(const unsigned char* p, std::size_t n, bool big) {
  std::uint64_t u = 0;
  for (std::size_t k = 0; k < n; ++k) u = (u << 8) | p[big ? k : n - 1 - k];
  return u;
}

}  // namespace

std::string datatype_code(std::string_view field) {
  std::string code(field);
  std::erase(code, ' ');
  return code;
}

std::optional<Datatype> datatype_from_code(std::string_view code) {
  const std::string compact = datatype_code(code);
  for (const Code& entry : kCodes) {
    if (entry.code == compact) return entry.type;
  }
  return std::nullopt;
}

std::size_t width(Datatype type) {
  switch (type) {
    case Datatype::s3:
    case Datatype::i3:
      return 3;
    case Datatype::s2:
    case Datatype::i2:
    case Datatype::g2:
      return 2;
    case Datatype::e1:
    case Datatype::c0:
      return 0;
    case Datatype::s1:
    case Datatype::i1:
      return 1;
    case Datatype::t8:
    case Datatype::f8:
    case Datatype::u8:
      return 8;
    default:
      return 4;
  }
}

bool is_float(Datatype type) {
  return type == Datatype::t4 || type == Datatype::t8 || type == Datatype::f4 ||
         type == Datatype::f8 || type == Datatype::u4 || type == Datatype::u8;
}

namespace {

// Byte-swaps 32-bit words in place; compiled for AVX2 too and chosen when the program starts,
// since the portable instruction set has no byte shuffle to vectorize it with.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(_WIN32)
__attribute__((target_clones("avx2", "default")))
#endif
void swap_words(std::uint32_t* words, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) words[i] = __builtin_bswap32(words[i]);
}

// One loop a width and byte order, so that the common 4-byte case compiles to a plain copy or
// byte swap.
template <std::size_t kWidth, bool kBig>
void decode_loop(const unsigned char* bytes, std::size_t count, std::int32_t* out) {
  if constexpr (kWidth == 4) {
    // Whole words, swapped when their order is not the host's; in place through one pointer
    // when the samples are stored over their own bytes, so that the loop can be vectorized.
    constexpr bool kSwap = kBig != (std::endian::native == std::endian::big);
    if (static_cast<const void*>(out) == bytes) {
      if constexpr (kSwap) swap_words(reinterpret_cast<std::uint32_t*>(out), count);
      return;
    }
    for (std::size_t i = 0; i < count; ++i) {
      std::uint32_t u;
      std::memcpy(&u, bytes + 4 * i, 4);
      if constexpr (kSwap) u = __builtin_bswap32(u);
      out[i] = static_cast<std::int32_t>(u);
    }
    return;
  }
  constexpr int kUnused = 64 - 8 * static_cast<int>(kWidth);
  for (std::size_t i = 0; i < count; ++i) {
    std::uint64_t u = unsigned_value(bytes + i * kWidth, kWidth, kBig);
    out[i] = static_cast<std::int32_t>(static_cast<std::int64_t>(u << kUnused) >> kUnused);
  }
}

void decode_g2(const unsigned char* bytes, std::size_t count, std::int32_t* out) {
  static constexpr std::int32_t kGain[] = {1, 4, 16, 128};
  for (std::size_t i = 0; i < count; ++i) {
    unsigned char b0 = bytes[2 * i], b1 = bytes[2 * i + 1];
    std::int32_t mantissa = ((b0 & 0x3f) << 8) | b1;
    out[i] = (mantissa - 8191) * kGain[b0 >> 6];
  }
}

}  // namespace

void decode_integers(Datatype type, const unsigned char* bytes, std::size_t count,
                     std::int32_t* out) {
  switch (type) {
    case Datatype::s4:
      return decode_loop<4, true>(bytes, count, out);
    case Datatype::s3:
      return decode_loop<3, true>(bytes, count, out);
    case Datatype::s2:
      return decode_loop<2, true>(bytes, count, out);
    case Datatype::s1:
      return decode_loop<1, true>(bytes, count, out);
    case Datatype::i4:
      return decode_loop<4, false>(bytes, count, out);
    case Datatype::i3:
      return decode_loop<3, false>(bytes, count, out);
    case Datatype::i2:
      return decode_loop<2, false>(bytes, count, out);
    case Datatype::i1:
      return decode_loop<1, false>(bytes, count, out);
    case Datatype::g2:
      return decode_g2(bytes, count, out);
    default:
      return;
  }
}

double decode_float(Datatype type, const unsigned char* bytes, std::size_t i) {
  std::size_t n = width(type);
  std::uint64_t u = unsigned_value(bytes + i * n, n, big_endian(type));
  if (n == 4) return std::bit_cast<float>(static_cast<std::uint32_t>(u));
  return std::bit_cast<double>(u);
}

}  // namespace wavconv::css
