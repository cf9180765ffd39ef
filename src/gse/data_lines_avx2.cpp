#include "gse/data_lines_avx2.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <cstring>

namespace wavconv::gse {
namespace {

#define WAVCONV_AVX2 __attribute__((target("avx2")))

// Four values as four 8-column fields (32 bytes, the first value's first column lowest), the
// same text as the portable code makes; counts the values too wide in `too_wide`.
WAVCONV_AVX2 inline __m256i four_fields(__m128i v, std::int64_t& too_wide) {
  const __m256i zero = _mm256_setzero_si256();
  // |v| in 64-bit lanes, split into 4-digit halves: high / 10000 in the low dword, the rest in
  // the high one (x / 10000 = x * 3518437209 >> 45 for every 32-bit x).
  __m256i x = _mm256_cvtepu32_epi64(_mm_abs_epi32(v));
  __m256i high = _mm256_srli_epi64(_mm256_mul_epu32(x, _mm256_set1_epi64x(3518437209)), 45);
  __m256i low = _mm256_sub_epi64(x, _mm256_mul_epu32(high, _mm256_set1_epi64x(10000)));
  __m256i halves = _mm256_or_si256(high, _mm256_slli_epi64(low, 32));
  // Each half into two 2-digit pairs (y / 100 = y * 10486 >> 20 below 10^4), in 16-bit lanes.
  __m256i hundreds = _mm256_srli_epi32(_mm256_mullo_epi32(halves, _mm256_set1_epi32(10486)), 20);
  __m256i rest = _mm256_sub_epi32(halves, _mm256_mullo_epi32(hundreds, _mm256_set1_epi32(100)));
  __m256i pairs = _mm256_or_si256(hundreds, _mm256_slli_epi32(rest, 16));
  // Each pair into two digits (z / 10 = z * 103 >> 10 below 100), in bytes.
  __m256i tens = _mm256_srli_epi16(_mm256_mullo_epi16(pairs, _mm256_set1_epi16(103)), 10);
  __m256i ones = _mm256_sub_epi16(pairs, _mm256_mullo_epi16(tens, _mm256_set1_epi16(10)));
  __m256i digits = _mm256_or_si256(tens, _mm256_slli_epi16(ones, 8));
  // Leading zero digits (all but the last) become blanks: the bytes below a lane's lowest
  // nonzero byte, the last byte counted as nonzero.
  __m256i nonzero =
      _mm256_or_si256(_mm256_andnot_si256(_mm256_cmpeq_epi8(digits, zero), _mm256_set1_epi8(-1)),
                      _mm256_set1_epi64x(static_cast<long long>(0xFF00000000000000ull)));
  __m256i lowest = _mm256_and_si256(nonzero, _mm256_sub_epi64(zero, nonzero));
  __m256i blanks = _mm256_sub_epi64(lowest, _mm256_set1_epi64x(1));
  __m256i text = _mm256_blendv_epi8(_mm256_or_si256(digits, _mm256_set1_epi8('0')),
                                    _mm256_set1_epi8(' '), blanks);
  // A minus sign on the last blank of a negative value ('-' is 0x0d above a blank).
  __m256i negative = _mm256_cvtepi32_epi64(_mm_cmplt_epi32(v, _mm_setzero_si128()));
  __m256i last_blank = _mm256_xor_si256(blanks, _mm256_srli_epi64(blanks, 8));
  text = _mm256_add_epi8(
      text, _mm256_and_si256(_mm256_and_si256(last_blank, negative), _mm256_set1_epi8(0x0d)));
  // Values outside -9999999..99999999 as eight asterisks.
  __m128i wide = _mm_or_si128(_mm_cmpgt_epi32(v, _mm_set1_epi32(99'999'999)),
                              _mm_cmplt_epi32(v, _mm_set1_epi32(-9'999'999)));
  int wide_mask = _mm_movemask_ps(_mm_castsi128_ps(wide));
  if (wide_mask != 0) [[unlikely]] {
    too_wide += __builtin_popcount(wide_mask);
    text = _mm256_blendv_epi8(text, _mm256_set1_epi8('*'), _mm256_cvtepi32_epi64(wide));
  }
  return text;
}

WAVCONV_AVX2 inline void store(char* out, __m256i fields) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), fields);
}

// Two fields, a line end, two fields: four values across the end of a line.
WAVCONV_AVX2 inline void store_across_line_end(char* out, __m256i fields) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(fields));
  std::memcpy(out + 16, "\r\n", 2);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 18), _mm256_extracti128_si256(fields, 1));
}

WAVCONV_AVX2 inline __m256i load_four(const std::int32_t* values, std::int64_t& too_wide) {
  return four_fields(_mm_loadu_si128(reinterpret_cast<const __m128i*>(values)), too_wide);
}

}  // namespace

WAVCONV_AVX2 char* format_lines_avx2(const std::int32_t* values, std::size_t groups, char* out,
                                     Checksum& checksum, std::int64_t& too_wide) {
  for (std::size_t g = 0; g < groups; ++g, values += 40, out += 4 * kFullLine) {
    const std::int64_t too_wide_before = too_wide;
    // Four lines of 82 bytes: ten groups of four values, the third and the eighth across a
    // line end.
    store(out, load_four(values, too_wide));
    store(out + 32, load_four(values + 4, too_wide));
    store_across_line_end(out + 64, load_four(values + 8, too_wide));
    store(out + 98, load_four(values + 12, too_wide));
    store(out + 130, load_four(values + 16, too_wide));
    std::memcpy(out + 162, "\r\n", 2);
    store(out + 164, load_four(values + 20, too_wide));
    store(out + 196, load_four(values + 24, too_wide));
    store_across_line_end(out + 228, load_four(values + 28, too_wide));
    store(out + 262, load_four(values + 32, too_wide));
    store(out + 294, load_four(values + 36, too_wide));
    std::memcpy(out + 326, "\r\n", 2);
    if (too_wide == too_wide_before) [[likely]] {
#pragma GCC unroll 40
      for (int i = 0; i < 40; ++i) checksum.add_small(values[i]);
    } else {
      for (int i = 0; i < 40; ++i) checksum.add(values[i]);
    }
  }
  return out;
}

}  // namespace wavconv::gse

#endif
