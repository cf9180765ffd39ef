#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/calendar.h"

namespace wavconv::gse {

// Three-character day of year: `day` in "(i3)" with blanks in the first two places made "0".
std::string day_of_year_text(std::int64_t day);

// The block's day-of-year text: from `jdate` (year x 1000 + day) when the block starts at
// sample 1 and that day lies in 1..366 of `year`; otherwise the block's own start day.
std::string block_day_text(std::int32_t jdate, std::int64_t year, bool starts_at_first_sample,
                           int start_day_of_year);

// The default output name from `dfile` (32 columns), or from its last path component when its
// text up to the first blank or NUL holds a "/" ("\" too on Windows): "_", the day text, "."
// and the format's `extension` ("gse") written over its first ".", blank or NUL, characters past
// column 32 dropped, the rest kept; then cut at its first blank, NUL or separator.
std::string default_output_name(std::string_view dfile, std::string_view day_text,
                                std::string_view extension);

// A record's own output name: "<sta>_<chan>_<yyyy><ddd>_<hh><mm><ss>.<extension>", `sta` and `chan`
// cut at their first blank, each character other than a letter, digit, "-" or "." made "_", and
// a leading "." too (no hidden files).
std::string record_output_name(std::string_view sta, std::string_view chan,
                               const common::Calendar& start, std::string_view extension);

}  // namespace wavconv::gse
