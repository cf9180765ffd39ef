#include "common/format.h"

#include <gtest/gtest.h>

#include "common/field_edit.h"

namespace wavconv::common {
namespace {

struct RealCase {
  double value;
  int width, digits;
  const char* expected;
};

TEST(RealEdit, SevenSignificantDigitsNoLeadingZeroAndAsterisks) {
  // clang-format off
  const RealCase cases[] = {
      {1.2345678f, 11, 7, "  1.2345680"},  {3.1015625f, 11, 7, "  3.1015630"},
      {9.99996f, 7, 4, "10.0000"},         {99.99f, 6, 1, " 100.0"},
      {-0.004f, 6, 1, "    .0"},           {-0.00006f, 7, 4, " -.0001"},
      {-0.00004f, 7, 4, "  .0000"},        {12345.678f, 7, 2, "*******"},
      {0.5f, 7, 4, "  .5000"},             {0.0f, 9, 4, "    .0000"},
      {-0.0f, 9, 4, "    .0000"},          {20.0f, 11, 7, " 20.0000000"},
      {0.25f, 9, 6, "  .250000"},          {-1.0f, 6, 1, "  -1.0"},
      {1000.0f, 11, 7, "***********"},     {999.5f, 11, 7, "999.5000000"},
      {100.0f, 9, 6, "*********"},         {123456789.0f, 16, 6, "123456800.000000"},
      // clang-format on
  };
  for (const RealCase& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(edit_real(c.value, c.width, c.digits), c.expected);
  }
}

TEST(IntegerEdit, RightJustifiedOrAsterisks) {
  EXPECT_EQ(edit_integer(123456789, 8), "********");
  EXPECT_EQ(edit_integer(-1234567, 8), "-1234567");
  EXPECT_EQ(edit_integer(-12345678, 8), "********");
  EXPECT_EQ(edit_integer(5, 2), " 5");
  EXPECT_EQ(edit_integer(100, 2), "**");
  EXPECT_EQ(edit_integer(0, 3), "  0");
}

TEST(FormatParse, RejectsMalformedStrings) {
  for (const char* text : {"", "10i8", "(i)", "(f7)", "(q3)", "(i8", "(i8,)"}) {
    SCOPED_TRACE(text);
    EXPECT_THROW(Format::parse(text), std::invalid_argument);
  }
}

// Reads one field; nullopt for an error.
std::optional<double> read_one(const char* format, std::string_view record) {
  std::int32_t i = 0;
  double d = 0;
  bool integer = format[1] == 'i';
  const Destination dest[] = {integer ? Destination(&i) : Destination(&d)};
  if (read(Format::parse(format), record, dest) != ReadStatus::kOk) return std::nullopt;
  return integer ? i : d;
}

TEST(NumericInput, BlanksSignsImpliedDecimalsExponentsAndErrors) {
  const std::optional<double> kError;
  struct Case {
    const char* format;
    const char* record;
    std::optional<double> value;
  } cases[] = {
      // clang-format off
      {"(i3)", "  7", 7},         {"(i3)", "   ", 0},         {"(i3)", "1 2", 12},
      {"(i2)", "-5", -5},         {"(i3)", "1,2", 1},         {"(i3)", "4\r5", 4},
      {"(i2)", "", 0},            {"(i3)", " x ", kError},    {"(i1)", "-", kError},
      {"(i2)", "+ ", kError},     {"(i10)", "2147483648", kError},
      {"(i11)", "-2147483648", INT32_MIN},
      {"(f17.5)", "12345", 0.12345}, {"(f17.5)", "12345.", 12345.0}, {"(f9.4)", "1.5+3", 1500.0},
      {"(f9.4)", "1.5E-2", 0.015},   {"(f9.4)", "25d1", 0.025},        {"(f9.4)", " -2. 5", -2.5},
      {"(f9.4)", "", 0.0},           {"(f9.4)", "-", kError},          {"(f9.4)", ".", kError},
      {"(f9.4)", "1.5E", kError},    {"(f9.4)", "1.2.3", kError},      {"(f9.4)", "1x", kError},
      {"(f9.4)", "1.e39", 1e39},
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.record);
    std::optional<double> value = read_one(c.format, c.record);
    ASSERT_EQ(value.has_value(), c.value.has_value());
    if (value) {
      EXPECT_DOUBLE_EQ(*value, *c.value);
    }
  }
  float f = 0;
  const Destination single[] = {&f};
  EXPECT_EQ(read(Format::parse("(f9.4)"), "1.e39", single), ReadStatus::kError);  // beyond float
}

TEST(RecordRead, ShortLineCommaAndLineEnd) {
  std::int32_t a = -1, b = -1;
  std::string text(4, '?');
  const Destination dest[] = {&a, &text, &b};
  // A comma ends the first field early and is consumed; the line ends inside the text field.
  EXPECT_EQ(read(Format::parse("(i5,a4,i3)"), "12,ab", dest), ReadStatus::kOk);
  EXPECT_EQ(a, 12);
  EXPECT_EQ(text, "ab  ");
  EXPECT_EQ(b, 0);
  // A CR ends a numeric field and the rest of the line for every later field.
  EXPECT_EQ(read(Format::parse("(i3,a4,i3)"), "9\rxyz  42", dest), ReadStatus::kOk);
  EXPECT_EQ(a, 9);
  EXPECT_EQ(text, "    ");
  EXPECT_EQ(b, 0);
  // A wider field skips its leftmost characters.
  EXPECT_EQ(read(Format::parse("(i1,a6,i1)"), "1xyabcd2", dest), ReadStatus::kOk);
  EXPECT_EQ(text, "abcd");
  EXPECT_EQ(b, 2);
}

}  // namespace
}  // namespace wavconv::common
