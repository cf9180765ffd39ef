#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace wavconv::common {

// The text up to its first blank or NUL.
std::string_view cut_at_blank(std::string_view text);

// Position (from 1) of the last character that is neither a blank nor a NUL; 0 if none.
std::size_t trimmed_length(std::string_view text);

// True when the first character is a blank or a NUL, or there is none.
bool starts_blank(std::string_view text);

// The text blank-padded or cut to exactly `length` characters.
std::string pad_or_cut(std::string_view text, std::size_t length);

// The text with every control character (below 0x20, and 0x7F) shown as "?", so that a message
// stays on its line and sends nothing to a terminal.
std::string printable(std::string_view text);

}  // namespace wavconv::common
