#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace wavconv::common {

// Iw output: right-justified decimal digits, "-" for a negative value; w asterisks when the
// text does not fit.
std::string edit_integer(std::int64_t value, int width);

// Fw.d output of a real with `precision` significant digits (7 for a 32-bit real, 16 for a
// 64-bit one): no "0" before the point, sign dropped when every retained digit is 0,
// w asterisks when the text does not fit.
std::string edit_real(double value, int width, int digits, int precision = 7);

// Aw output of a text: cut on the right, or blanks on the left. A width of 0 means A.
std::string edit_text(std::string_view text, int width);

// Iw input of the field's characters (blanks and tabs ignored, empty reads 0). False for any
// other character, a lone sign, or a value outside the destination's range.
bool read_integer_field(std::string_view field, std::int32_t& value);
bool read_integer_field(std::string_view field, std::int64_t& value);

// Fw.d input: sign, digits, optional point (without one the last d digits are the fraction),
// optional exponent after E, D or directly a sign. False for text of another form, or a
// value beyond the range of the destination (32-bit when `single`).
bool read_real_field(std::string_view field, int digits, bool single, double& value);

}  // namespace wavconv::common
