#include "css/packed.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "css/datatype.h"
#include "e1_encoder.h"

namespace wavconv::css {
namespace {

using testing::encode_e1;
using testing::encode_e1_block;
using Values = std::vector<std::int32_t>;

ByteReader reader_of(const std::string& data) {
  return [&data](std::int64_t position, unsigned char* out, std::size_t size) {
    if (position >= static_cast<std::int64_t>(data.size())) return std::size_t{0};
    std::size_t n = std::min(size, data.size() - static_cast<std::size_t>(position));
    std::copy_n(data.data() + position, n, out);
    return n;
  };
}

// The decoded values (`keep` of them from `first`, or all), or the fault as "offset: text".
std::variant<Values, std::string> decode(const std::string& data, std::int64_t count,
                                         bool e1 = true, std::int64_t first = 0,
                                         std::int64_t keep = -1) {
  Values out(static_cast<std::size_t>(keep < 0 ? count : keep));
  Kept kept{first, static_cast<std::int64_t>(out.size()), out.data()};
  std::optional<DecodeFault> fault =
      e1 ? decode_e1(reader_of(data), count, kept) : decode_c0(reader_of(data), count, kept);
  if (fault) return std::to_string(fault->offset) + ": " + fault->fault;
  return out;
}

std::string from_hex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

TEST(E1, PublicTestVector) {
  std::string data = from_hex(
      "003800280100019c90101441783a24b0ee979a24c51cc22d05f57d54200b5000c95e56bdc6533aa0777720d1c"
      "ebfa6528160f04df0000006");
  Values expected = {257, 262, 327, 295, 248, 323, 352, 261, 210, 246, 286, 273, 277, 322,
                     345, 260, 217, 349, 351, 263, 263, 209, 202, 247, 308, 358, 306, 295,
                     327, 292, 221, 234, 291, 210, 165, 247, 269, 329, 406, 412};
  EXPECT_EQ(std::get<Values>(decode(data, 40)), expected);
}

TEST(E1, RoundTripsEveryPacketKindDifferenceAndBlockSize) {
  std::mt19937 random(7);
  for (int differences = 0; differences <= 4; ++differences) {
    for (std::int64_t range : {3, 200, 60000, 1 << 20, 1 << 30}) {
      SCOPED_TRACE(::testing::Message() << differences << " " << range);
      // A smooth trace, so that differences stay within the packets' widths.
      Values values(1000);
      std::int64_t v = 0;
      for (auto& x : values)
        x = static_cast<std::int32_t>(v += static_cast<std::int64_t>(random() % (2 * range + 1)) -
                                           range);
      std::string data = encode_e1(values, differences, 1 + random() % 300);
      EXPECT_EQ(std::get<Values>(decode(data, 1000)), values);
      Values part(values.begin(), values.begin() + 999);  // the last block used in part
      EXPECT_EQ(std::get<Values>(decode(data, 999)), part);
    }
  }
  Values extremes = {INT32_MIN, INT32_MAX, 0, -1, INT32_MIN, 5};
  EXPECT_EQ(std::get<Values>(decode(encode_e1(extremes, 2, 4), 6)), extremes);
  for (int kind = 0; kind < 6; ++kind) {
    SCOPED_TRACE(kind);
    const auto& p = testing::kE1Packets[kind];
    Values edge;
    for (int i = 0; i < 2 * p.values; ++i) {
      edge.push_back(i % 2 ? (1 << (p.width - 1)) - 1 : -(1 << (p.width - 1)));
    }
    EXPECT_EQ(std::get<Values>(decode(encode_e1_block(edge, 0, false, {kind}), edge.size())), edge);
  }
}

TEST(E1, EveryDamageRefusesNamingTheBlock) {
  Values values = {10, 20, 30, 40, 50, 60, 70};
  std::string good = encode_e1_block(values, 1, false, {0});  // one 7 x 9-bit packet, 16 bytes
  auto patch = [](std::string data, std::size_t at, const std::string& bytes) {
    std::copy(bytes.begin(), bytes.end(), data.begin() + static_cast<std::ptrdiff_t>(at));
    return data;
  };
  auto with = [&](std::size_t at, const std::string& bytes) { return patch(good, at, bytes); };

  struct Case {
    std::string data;
    std::int64_t count;
    const char* fault;
  } cases[] = {
      {with(0, std::string("\x00\x0e", 2)), 7, "0: bad block header"},      // length % 4
      {with(2, std::string("\x00\x00", 2)), 7, "0: bad block header"},      // no samples
      {with(2, std::string("\x00\x09", 2)), 7, "0: bad block header"},      // too short
      {with(2, std::string("\x00\x01", 2)), 7, "0: bad block header"},      // too long
      {with(4, std::string("\x05", 1)), 7, "0: bad block header"},          // 5 differences
      {with(4, std::string("\x11", 1)), 7, "0: uncompressed block of 16"},  // wrong length
      {good.substr(0, 12), 7, "0: block runs past"},
      {with(2, std::string("\x00\x08", 2)), 7, "0: packets end before"},
      {with(2, std::string("\x00\x06", 2)), 6, "0: packets hold more"},
      {patch(encode_e1_block(values, 1, false, {2, 1}), 12, std::string(1, '\0')), 7,
       "0: a packet runs past"},
      {with(7, std::string("\x47", 1)), 7, "0: check value 71 does not match"},
      {good + good, 15, "32: data ends after 14 of 15"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    std::string fault = std::get<std::string>(decode(c.data, c.count));
    EXPECT_EQ(fault.substr(0, std::strlen(c.fault)), c.fault);
  }
}

// Only the kept samples are stored, from any block and across block edges; every block is still
// checked, also after them.
TEST(E1, KeepsOnlyTheWindowButChecksEveryBlock) {
  Values values(3000);
  for (std::size_t i = 0; i < values.size(); ++i)
    values[i] = static_cast<std::int32_t>(i * 7 % 1000);
  std::string data = encode_e1(values, 1, 700);  // five blocks
  for (auto [first, keep] : {std::pair{0, 1}, {5, 2000}, {2999, 1}, {1000, 0}, {0, 3000}}) {
    SCOPED_TRACE(first);
    Values expected(values.begin() + first, values.begin() + first + keep);
    EXPECT_EQ(std::get<Values>(decode(data, 3000, true, first, keep)), expected);
  }
  std::string damaged = data;
  damaged[damaged.size() - 1] ^= 0x55;  // the last block's packets
  EXPECT_TRUE(std::holds_alternative<std::string>(decode(damaged, 3000, true, 0, 10)));
  EXPECT_EQ(std::get<Values>(decode(" 5 6 7 8 ", 4, false, 1, 2)), (Values{6, 7}));
}

TEST(G2, GainsAndBothEndsOfTheMantissa) {
  std::vector<unsigned char> bytes = {0x00, 0x00, 0x3f, 0xff, 0x7f, 0x3f,
                                      0xbf, 0x3f, 0xc0, 0x00, 0xff, 0xff};
  Values out(6);
  decode_integers(Datatype::g2, bytes.data(), 6, out.data());
  EXPECT_EQ(out, (Values{-8191, 8192, 4 * 8000, 16 * 8000, -1048448, 1048576}));
}

TEST(C0, TokensBetweenAnyWhiteSpaceEachA32BitInteger) {
  EXPECT_EQ(std::get<Values>(decode(" 1\t-2\r\n+3\v\f 2147483647\n-2147483648 9 x", 5, false)),
            (Values{1, -2, 3, 2147483647, -2147483648}));
  EXPECT_EQ(std::get<Values>(decode(std::string(70000, ' ') + "42", 1, false)), Values{42});
  // Judged by value: leading zeros of any number.
  EXPECT_EQ(std::get<Values>(decode(
                "000000000001 -000000000002147483648 " + std::string(100, '0') + "7", 3, false)),
            (Values{1, -2147483648, 7}));
  struct Case {
    const char* text;
    const char* fault;
  } cases[] = {
      {"1 2", "3: text ends after 2 of 3 samples"},
      {"1 2x 3", "2: \"2x\" is no 32-bit integer"},
      {"1 2147483648 3", "2: \"2147483648\" is no 32-bit integer"},
      {"1 00000000002147483648 3", "2: \"00000000002147483648\" is no 32-bit integer"},
      {"1 99999999999999999999999 3", "2: \"99999999999999999999999\" is no 32-bit integer"},
      {"1 - 3", "2: \"-\" is no 32-bit integer"},
      {"1 1.5 3", "2: \"1.5\" is no 32-bit integer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(std::get<std::string>(decode(c.text, 3, false)), c.fault);
  }
  // Only the window's samples are kept, into storage of exactly their count (a write past it
  // is a finding of the sanitizer build): at the start, inside, at the end.
  const std::string text = "10 11 12 13 14 15";
  EXPECT_EQ(std::get<Values>(decode(text, 6, false, 0, 2)), (Values{10, 11}));
  EXPECT_EQ(std::get<Values>(decode(text, 6, false, 2, 3)), (Values{12, 13, 14}));
  EXPECT_EQ(std::get<Values>(decode(text, 6, false, 5, 1)), Values{15});
}

}  // namespace
}  // namespace wavconv::css
