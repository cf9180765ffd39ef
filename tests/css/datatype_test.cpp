#include "css/datatype.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>
#include <vector>

namespace wavconv::css {
namespace {

std::int32_t first_integer(Datatype type, std::vector<unsigned char> bytes) {
  std::int32_t value = 0;
  decode_integers(type, bytes.data(), 1, &value);
  return value;
}

TEST(Datatype, CodesWithBlanksRemovedCaseKept) {
  EXPECT_EQ(datatype_from_code("s4"), Datatype::s4);
  EXPECT_EQ(datatype_from_code(" u8"), Datatype::u8);
  for (const char* code : {"S4", "e0", "e2", "c2", "sc", "a0", "", "  ", "s5", "i"}) {
    SCOPED_TRACE(code);
    EXPECT_FALSE(datatype_from_code(code).has_value());
  }
}

TEST(Datatype, IntegersInTheirByteOrderSignExtendedFromTheirTopBit) {
  struct Case {
    Datatype type;
    std::vector<unsigned char> bytes;
    std::int32_t value;
  } cases[] = {
      // clang-format off
      {Datatype::s4, {0x01, 0x02, 0x03, 0x04}, 0x01020304},
      {Datatype::i4, {0x01, 0x02, 0x03, 0x04}, 0x04030201},
      {Datatype::s4, {0x80, 0x00, 0x00, 0x00}, std::numeric_limits<std::int32_t>::min()},
      {Datatype::s3, {0x7f, 0xff, 0xff}, 8388607}, {Datatype::s3, {0x80, 0x00, 0x00}, -8388608},
      {Datatype::s3, {0xff, 0xff, 0xfe}, -2}, {Datatype::i3, {0xfe, 0xff, 0xff}, -2},
      {Datatype::i3, {0x01, 0x02, 0x03}, 0x030201}, {Datatype::s2, {0x80, 0x01}, -32767},
      {Datatype::i2, {0x80, 0x01}, 0x0180}, {Datatype::s1, {0xff}, -1},
      {Datatype::i1, {0x7f}, 127},
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << static_cast<int>(c.type) << " " << c.value);
    EXPECT_EQ(first_integer(c.type, c.bytes), c.value);
  }
}

TEST(Datatype, NarrowSamplesDecodeInPlaceFrontToBack) {
  // Three s2 samples stored at the end of their own 32-bit storage.
  std::vector<std::int32_t> storage(3);
  auto* bytes = reinterpret_cast<unsigned char*>(storage.data());
  const unsigned char raw[] = {0xff, 0xfe, 0x00, 0x05, 0x7f, 0xff};
  std::copy(std::begin(raw), std::end(raw), bytes + 6);
  decode_integers(Datatype::s2, bytes + 6, 3, storage.data());
  EXPECT_EQ(storage, (std::vector<std::int32_t>{-2, 5, 32767}));
}

TEST(Datatype, FloatsInTheirByteOrder) {
  const unsigned char big4[] = {0x40, 0x49, 0x0f, 0xdb}, little4[] = {0xdb, 0x0f, 0x49, 0x40};
  const unsigned char big8[] = {0xc0, 0x5e, 0xdd, 0x2f, 0x1a, 0x9f, 0xbe, 0x77};  // -123.456
  const unsigned char little8[] = {0x77, 0xbe, 0x9f, 0x1a, 0x2f, 0xdd, 0x5e, 0xc0};
  for (auto [type, bytes, value] : {std::tuple{Datatype::t4, big4, double{3.1415927f}},
                                    {Datatype::f4, little4, double{3.1415927f}},
                                    {Datatype::u4, little4, double{3.1415927f}},
                                    {Datatype::t8, big8, -123.456},
                                    {Datatype::f8, little8, -123.456},
                                    {Datatype::u8, little8, -123.456}}) {
    EXPECT_EQ(decode_float(type, bytes, 0), value) << static_cast<int>(type);
  }
  const unsigned char nan4[] = {0x7f, 0xc0, 0x00, 0x00};
  EXPECT_TRUE(std::isnan(decode_float(Datatype::t4, nan4, 0)));
}

}  // namespace
}  // namespace wavconv::css
