#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace wavconv::common {

// Characters before the first blank or NUL among the first `max` characters (all of the
// text when `max` is 0).
std::size_t lead_length(std::string_view text, std::size_t max = 0);

// The text cut at its lead length.
inline std::string_view lead(std::string_view text, std::size_t max = 0) {
  return text.substr(0, lead_length(text, max));
}

// Position (from 1) of the last character that is neither a blank nor a NUL; 0 if none.
std::size_t trimmed_length(std::string_view text);

// True when the first character is a blank or a NUL, or there is none.
bool starts_blank(std::string_view text);

// The text blank-padded or cut to exactly `length` characters.
std::string fixed(std::string_view text, std::size_t length);

// The text with CR and LF shown as "?", so that a message stays on its line.
std::string printable(std::string_view text);

}  // namespace wavconv::common
