// CM6 characters of eight values at a time with AVX2: second differences, their character
// counts and characters formed in vector lanes, then stored one value after another.
#include "gse/cm6.h"
#include "gse/data_lines.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <cstring>

namespace wavconv::gse {
namespace {

#define WAVCONV_AVX2 __attribute__((target("avx2")))

// Character indices 0-63 as their characters: "+", "-", the digits, the upper and the lower
// case letters follow each other with gaps of 1, 2, 7 and 6 codes.
WAVCONV_AVX2 inline __m256i to_characters(__m256i index) {
  __m256i c = _mm256_add_epi32(index, _mm256_set1_epi32('+'));
  c = _mm256_add_epi32(
      c, _mm256_and_si256(_mm256_cmpgt_epi32(index, _mm256_set1_epi32(0)), _mm256_set1_epi32(1)));
  c = _mm256_add_epi32(
      c, _mm256_and_si256(_mm256_cmpgt_epi32(index, _mm256_set1_epi32(1)), _mm256_set1_epi32(2)));
  c = _mm256_add_epi32(
      c, _mm256_and_si256(_mm256_cmpgt_epi32(index, _mm256_set1_epi32(11)), _mm256_set1_epi32(7)));
  c = _mm256_add_epi32(
      c, _mm256_and_si256(_mm256_cmpgt_epi32(index, _mm256_set1_epi32(37)), _mm256_set1_epi32(6)));
  return c;
}

}  // namespace

WAVCONV_AVX2 char* encode_cm6_avx2(const std::int32_t* x, std::size_t begin, std::size_t end,
                                   char* out, Checksum* checksum, char** line_start) {
  const __m256i five_bits = _mm256_set1_epi32(31);
  const __m256i more = _mm256_set1_epi32(32);
  alignas(32) std::uint64_t words[8];
  alignas(32) std::int32_t counts[8];
  std::size_t i = begin;
  for (; i + 8 <= end; i += 8) {
    __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + i));
    __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + i - 1));
    __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + i - 2));
    // Within 32 bits: every sample is below 2^25 in magnitude.
    __m256i d = _mm256_add_epi32(_mm256_sub_epi32(a, _mm256_slli_epi32(b, 1)), c);
    __m256i sign = _mm256_and_si256(_mm256_srai_epi32(d, 31), _mm256_set1_epi32(16));
    __m256i m = _mm256_abs_epi32(d);
    // Characters: 1, and one more past each of 15, 2^9 - 1, 2^14 - 1, 2^19 - 1, 2^24 - 1.
    __m256i n = _mm256_set1_epi32(1);
    for (int limit : {15, (1 << 9) - 1, (1 << 14) - 1, (1 << 19) - 1, (1 << 24) - 1}) {
      n = _mm256_sub_epi32(n, _mm256_cmpgt_epi32(m, _mm256_set1_epi32(limit)));
    }
    // The six-character form, first character lowest: group k holds bits 5 (5 - k) on; every
    // character but the last is marked as continued, and the value's first (place 6 - n) takes
    // the sign. Places before it are shifted out below.
    __m256i low = _mm256_setzero_si256(), high = _mm256_setzero_si256();
    for (int k = 0; k < 6; ++k) {
      __m256i group = _mm256_and_si256(_mm256_srli_epi32(m, 5 * (5 - k)), five_bits);
      if (k < 5) group = _mm256_or_si256(group, more);
      __m256i first = _mm256_cmpeq_epi32(n, _mm256_set1_epi32(6 - k));
      group = _mm256_or_si256(group, _mm256_and_si256(first, sign));
      __m256i chars = to_characters(group);
      if (k < 4) {
        low = _mm256_or_si256(low, _mm256_slli_epi32(chars, 8 * k));
      } else {
        high = _mm256_or_si256(high, _mm256_slli_epi32(chars, 8 * (k - 4)));
      }
    }
    // 64-bit words of six characters; shifted so that the value's first character is lowest.
    __m256i shift = _mm256_slli_epi32(_mm256_sub_epi32(_mm256_set1_epi32(6), n), 3);
    __m256i zero = _mm256_setzero_si256();
    __m256i words_a =
        _mm256_srlv_epi64(_mm256_unpacklo_epi32(low, high), _mm256_unpacklo_epi32(shift, zero));
    __m256i words_b =
        _mm256_srlv_epi64(_mm256_unpackhi_epi32(low, high), _mm256_unpackhi_epi32(shift, zero));
    // Lanes of words_a: values 0, 1, 4, 5; of words_b: 2, 3, 6, 7.
    _mm256_store_si256(reinterpret_cast<__m256i*>(words),
                       _mm256_permute2x128_si256(words_a, words_b, 0x20));
    _mm256_store_si256(reinterpret_cast<__m256i*>(words + 4),
                       _mm256_permute2x128_si256(words_a, words_b, 0x31));
    _mm256_store_si256(reinterpret_cast<__m256i*>(counts), n);
    for (int v = 0; v < 8; ++v) {
      std::memcpy(out, &words[v], 8);
      out += counts[v];
    }
    if (checksum) {
      // Below 2^25: no sample needs reducing before it is added.
      for (int v = 0; v < 8; ++v) checksum->add_small(x[i + v]);
    }
    if (line_start) out = break_lines(out, *line_start);
  }
  return encode_cm6_tail(x, i, end, out, checksum, line_start);
}

}  // namespace wavconv::gse

#endif
