#pragma once

#include <cstddef>
#include <cstdint>

#include "gse/data_lines.h"

namespace wavconv::gse {

// Lines formatted together by the AVX2 kernel: 40 values, five groups of eight.
inline constexpr std::size_t kAvx2Lines = 4;

#if defined(__x86_64__) || defined(__i386__)
// `groups` times four full lines, as format_full_lines(). Only on a CPU with AVX2.
char* format_lines_avx2(const std::int32_t* values, std::size_t groups, char* out,
                        Checksum& checksum, std::int64_t& too_wide);
#endif

}  // namespace wavconv::gse
