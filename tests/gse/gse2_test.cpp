// GSE2.0 blocks and IMS2.0 messages: the CM6 encoder on published values, at every magnitude
// boundary and on long traces; the header lines column by column; INT lines; the message frame.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <sstream>

#include "cm6_decoder.h"
#include "gse/cm6.h"
#include "gse/writer.h"
#include "test_support.h"

namespace wavconv::gse {
namespace {

using Samples = std::vector<std::int32_t>;

common::Trace example_trace(const Samples& samples) {
  common::Trace trace = testing::example_trace(samples);
  trace.calib = 0.0949f;
  return trace;
}

// The lines a writer gives for one file of `trace`.
std::vector<std::string> lines_of(const char* format, const common::Trace& trace,
                                  const char* name = "out.gse") {
  std::unique_ptr<Writer> writer = find_output_format(format)->make({});
  testing::StringLineSink sink;
  EXPECT_TRUE(writer->start_file(sink, name));
  EXPECT_TRUE(writer->write_block(trace, sink).written);
  EXPECT_TRUE(writer->end_file(sink));
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = sink.text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(sink.text.substr(start, end - start));
  }
  EXPECT_EQ(start, sink.text.size());  // every line ends with LF, no CR
  return lines;
}

// The CM6 characters of a block's data lines, checking their lengths.
std::string data_of(const std::vector<std::string>& lines) {
  std::string chars;
  std::size_t first = 3;
  std::size_t last = lines.size() - 1;  // CHK2
  for (std::size_t i = first; i < last; ++i) {
    EXPECT_TRUE(i + 1 == last ? lines[i].size() <= 80 : lines[i].size() == 80) << i;
    chars += lines[i];
  }
  return chars;
}

// The first data line of a CM6 file published by another program, and the first samples it
// holds (as that program's own tests give them).
TEST(Cm6, PublishedLineAndSamples) {
  const std::string line =
      "Al0VENl7V7kP-UHkJ45LCDlC8A+UNlIV-ULlQUSV8l3l1V6LP1CkFSW9m0kHVHkKUGl3CUPIOl3VDkM1";
  const Samples published = {12, -10, 16, 33, 9, 26, 16, 7, 17, 6, 1, 3, -2};
  std::vector<std::int64_t> decoded = testing::decode_cm6(line);
  ASSERT_GE(decoded.size(), published.size());
  Samples start(decoded.begin(), decoded.begin() + static_cast<std::ptrdiff_t>(published.size()));
  EXPECT_EQ(start, published);
  Samples whole(decoded.begin(), decoded.end());
  char text[80 * kCm6MaxChars];
  EXPECT_EQ(std::string(text, encode_cm6(whole, 0, whole.size(), text)), line);
}

TEST(Cm6, EveryMagnitudeBoundaryBothSigns) {
  struct Case {
    std::int64_t magnitude;
    std::size_t chars;
  } cases[] = {{0, 1},       {15, 1},
               {16, 2},      {(1 << 9) - 1, 2},
               {1 << 9, 3},  {(1 << 14) - 1, 3},
               {1 << 14, 4}, {(1 << 19) - 1, 4},
               {1 << 19, 5}, {(1 << 24) - 1, 5},
               {1 << 24, 6}, {kCm6Limit - 1, 6}};
  for (const Case& c : cases) {
    for (std::int64_t value : {c.magnitude, -c.magnitude}) {
      SCOPED_TRACE(value);
      std::string text = cm6_value(value);
      EXPECT_EQ(text.size(), c.chars);
      EXPECT_EQ(testing::cm6_differences(text), std::vector<std::int64_t>{value});
    }
  }
  EXPECT_EQ(cm6_value(-1), "F");   // 16 + 1: the sign bit in the first character
  EXPECT_EQ(cm6_value(16), "UE");  // 32 (more follow) + 0, then 16
}

// Second differences are formed in 64 bits: one of 2^32 (a wrap to 0 in 32 bits) or of 2^27
// is refused with its sample number, and the largest that can be written is kept.
TEST(Cm6, TooLargeSecondDifferencesAreFoundIn64Bits) {
  EXPECT_EQ(cm6_too_large(Samples{0, 0, INT32_MIN, 0}),
            (std::pair<std::size_t, std::int64_t>{2, INT32_MIN}));
  EXPECT_EQ(cm6_too_large(Samples{1 << 26, 1 << 26, 1 << 26, 0}), std::nullopt);
  EXPECT_EQ(cm6_too_large(Samples{(1 << 27) - 1}), std::nullopt);
  EXPECT_EQ(cm6_too_large(Samples{-(1 << 27)}),
            (std::pair<std::size_t, std::int64_t>{0, -(1 << 27)}));
  Samples samples = {0, 1 << 26, 0};  // 0, 2^26, -2^27
  common::Trace trace = example_trace(samples);
  EXPECT_EQ(*find_output_format("cm6")->make({})->refusal(trace),
            "sample 3: second difference -134217728 is too large for CM6");
  EXPECT_FALSE(find_output_format("int")->make({})->refusal(trace));
  Samples largest = {0, (1 << 26) - 1, 1};  // 0, 2^26 - 1, -2^27 + 3: the writer keeps it
  EXPECT_FALSE(find_output_format("cm6")->make({})->refusal(example_trace(largest)));
  Samples exactly = {1 << 27};  // the first sample is its own second difference
  EXPECT_EQ(*find_output_format("ims")->make({})->refusal(example_trace(exactly)),
            "sample 1: second difference 134217728 is too large for CM6");
}

TEST(Cm6, LongRandomTracesRoundTrip) {
  std::mt19937 random(5);
  for (std::int32_t step : {3, 1000, 1 << 20}) {
    SCOPED_TRACE(step);
    Samples samples(1'000'003);
    std::int64_t v = 0;
    for (std::int32_t& s : samples) {
      v += static_cast<std::int64_t>(random() % (2 * step + 1)) - step;
      v = std::clamp<std::int64_t>(v, -(1 << 24), 1 << 24);
      s = static_cast<std::int32_t>(v);
    }
    common::Trace trace = example_trace(samples);
    ASSERT_FALSE(find_output_format("cm6")->make({})->refusal(trace));
    std::vector<std::string> lines = lines_of("cm6", trace);
    std::vector<std::int64_t> decoded = testing::decode_cm6(data_of(lines));
    ASSERT_TRUE(std::equal(decoded.begin(), decoded.end(), samples.begin(), samples.end()));
    EXPECT_EQ(
        lines.back(),
        "CHK2 " +
            std::string(8 - std::to_string(testing::reference_checksum(samples)).size(), ' ') +
            std::to_string(testing::reference_checksum(samples)));
  }
}

TEST(Gse2, HeaderLinesColumnByColumn) {
  Samples samples = {1, -2, 3};
  std::vector<std::string> lines = lines_of("cm6", example_trace(samples));
  //                    1    6          17           30    36  40   45  49       58          70
  //                    81      89     96    102
  EXPECT_EQ(lines[0],
            "WID2 2001/02/12 03:07:09.250 ABC   BHZ      CM6        3   20.000000   9.49e-02   "
            "1.000 STS-2   -1.0 -1.0");
  EXPECT_EQ(lines[1], "STA2" + std::string(56, ' '));
  EXPECT_EQ(lines[2], "DAT2");
  EXPECT_EQ(lines[3], "-I6");  // 1, -4, 8: the second differences of 1, -2, 3
  EXPECT_EQ(lines[4], "CHK2        2");
  EXPECT_EQ(lines.size(), 5u);
}

TEST(Gse2, StationChannelAndFieldsThatDoNotFit) {
  Samples samples = {0};
  common::Trace trace = example_trace(samples);
  std::unique_ptr<Writer> writer = find_output_format("int")->make({});
  EXPECT_FALSE(writer->refusal(trace));
  trace.sta = "ABCDEF";
  EXPECT_EQ(*writer->refusal(trace), "station ABCDEF is longer than 5 characters");
  trace.sta = "ABCDE ";
  trace.chan = "BHZ1    ";
  EXPECT_EQ(*writer->refusal(trace), "channel BHZ1 is longer than 3 characters");
  trace.chan = "BHZ     ";
  trace.chan = "\rHZ     ";
  EXPECT_EQ(*writer->refusal(trace), "channel ?HZ holds a control character");
  trace.chan = "BHZ     ";
  trace.instype =
      "STS\x1b"
      "2 ";
  EXPECT_EQ(*writer->refusal(trace), "instrument type STS?2 holds a control character");
  trace.instype = std::string("STS-2\0", 6);  // a NUL is written as a blank
  EXPECT_FALSE(writer->refusal(trace));
  trace.calper = 1000;  // "1000.000" would run into the next column
  EXPECT_EQ(*writer->refusal(trace), "calper 1000 does not fit WID2");
  trace.calper = 999.999f;
  EXPECT_FALSE(writer->refusal(trace));
  trace.samprate = 10000.0f;
  EXPECT_EQ(*writer->refusal(trace), "samprate 10000 does not fit WID2");
  EXPECT_FALSE(find_output_format("gse1")->make({})->refusal(trace));
  // A samprate WID2 would show as 0 or below: a reader would divide by it.
  trace.samprate = 4.9e-7;
  EXPECT_EQ(*writer->refusal(trace), "samprate 4.9e-07 shows as 0.000000 in WID2, not above 0");
  trace.samprate = 6e-7;  // 0.000001
  EXPECT_FALSE(writer->refusal(trace));
  trace.samprate = -20;
  EXPECT_EQ(*writer->refusal(trace), "samprate -20 shows as -20.000000 in WID2, not above 0");
}

// The samprate as read, not as a 32-bit real would hold it.
TEST(Gse2, SamprateAsRead) {
  Samples samples = {0};
  common::Trace trace = example_trace(samples);
  for (auto [rate, shown] : {std::pair{99.9987, "  99.998700"}, std::pair{40.001, "  40.001000"},
                             std::pair{1e-6, "   0.000001"}}) {
    trace.samprate = rate;
    EXPECT_EQ(lines_of("int", trace)[0].substr(57, 11), shown);
  }
}

// Numbers after column 48 of STA2 come as a pair (elevation and depth) or not at all, as a
// reader that splits the rest of the line expects; an unknown one of the two is 0.
TEST(Gse2, Sta2ElevationAndDepthBothOrNeither) {
  Samples samples = {0};
  struct Case {
    std::optional<double> elevation, depth;
    const char* rest;  // columns 49-60
  } cases[] = {
      {std::nullopt, std::nullopt, "            "},
      {0.91, std::nullopt, " 0.910 0.000"},
      {std::nullopt, 0.025, " 0.000 0.025"},
      {-0.5, 1.25, " -0.50 1.250"},
  };
  for (const Case& c : cases) {
    common::Trace trace = example_trace(samples);
    trace.placement.latitude = 46.41;
    trace.placement.longitude = 9.61;
    trace.placement.elevation = c.elevation;
    trace.placement.depth = c.depth;
    std::string sta2 = lines_of("cm6", trace)[1];
    SCOPED_TRACE(sta2);
    EXPECT_EQ(sta2.substr(48), c.rest);
    std::istringstream rest(sta2.substr(48));
    std::vector<double> numbers;
    for (double v; rest >> v;) numbers.push_back(v);
    EXPECT_TRUE(numbers.size() == 0 || numbers.size() == 2) << numbers.size();
  }
}

// A refused sample is counted from the record's first sample, whatever the window skipped.
TEST(Gse2, RefusedSampleCountedFromTheRecord) {
  Samples samples = {0, 0, 0, 200'000'000, 0};
  common::Trace trace = example_trace(samples);
  trace.first_sample = 1201;  // /J60 at 20 samples a second
  EXPECT_EQ(*find_output_format("cm6")->make({})->refusal(trace),
            "sample 1204: second difference 200000000 is too large for CM6");
}

TEST(Gse2, IntegerLinesOfAtMostEightyCharacters) {
  Samples samples;
  for (int i = 0; i < 40; ++i) samples.push_back(i % 2 ? -1234567 : 89);
  samples.push_back(INT32_MIN);
  // Every count of digits, at both of its ends and both signs.
  for (std::int64_t p = 10; p <= 1'000'000'000; p *= 10) {
    for (std::int64_t v : {p - 1, p, -p, 1 - p}) samples.push_back(static_cast<std::int32_t>(v));
  }
  samples.insert(samples.end(), {0, INT32_MAX, 0});
  std::vector<std::string> lines = lines_of("int", example_trace(samples));
  std::string joined;
  for (std::size_t i = 3; i + 1 < lines.size(); ++i) {
    EXPECT_LE(lines[i].size(), 80u);
    EXPECT_NE(lines[i].front(), ' ');
    EXPECT_NE(lines[i].back(), ' ');
    joined += (joined.empty() ? "" : " ") + lines[i];
  }
  std::string expected;
  for (std::int32_t v : samples)
    expected.append(expected.empty() ? "" : " ").append(std::to_string(v));
  EXPECT_EQ(joined, expected);
  EXPECT_EQ(lines[3].size(), 74u);  // six "89 -1234567" pairs and 89; the next would pass 80
}

// MSG_ID is one word of at most 20 printable ASCII characters, the output's name when it is
// one, and another for every other name: per-record names of one hour, names that differ only
// in characters shown as "_".
TEST(Ims, MessageIdsPrintableShortAndDistinct) {
  struct Case {
    std::string name, id;  // id empty: shortened, checked below
  } cases[] = {
      {"arc.msg", "arc"},
      {"x.y.msg", "x.y"},
      {"twenty_characters_ok.msg", "twenty_characters_ok"},
      {"WVC01_HHE_2001043_030709.gse", ""},
      {"WVC01_HHE_2001043_030710.gse", ""},
      {"a\nSTOP.msg", ""},
      {"a\rSTOP.msg", ""},
      {"tab\there.msg", ""},
      {"caf\xc3\xa9.msg", ""},
      {"two words.msg", ""},
      {".msg", ""},
      {"", ""},
  };
  std::set<std::string> seen;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string id = message_id(c.name);
    if (!c.id.empty()) {
      EXPECT_EQ(id, c.id);
    }
    EXPECT_FALSE(id.empty());
    EXPECT_LE(id.size(), 20u);
    for (char ch : id) EXPECT_TRUE(ch > ' ' && ch < 0x7f) << static_cast<int>(ch);
    EXPECT_TRUE(seen.insert(id).second) << id;
  }
  EXPECT_EQ(message_id("WVC01_HHE_2001043_030709.gse").substr(0, 10), "WVC01_HHE_");
  // A backslash is no folder separator in a name.
  EXPECT_EQ(message_id("a\\b.msg"), "a\\b");
}

TEST(Ims, OneMessageNamedAfterTheOutput) {
  Samples samples = {5};
  std::vector<std::string> lines =
      lines_of("ims", example_trace(samples), "a_very_long_output_name_indeed.msg");
  EXPECT_EQ(lines[0], "BEGIN IMS2.0");
  EXPECT_EQ(lines[1], "MSG_TYPE DATA");
  EXPECT_EQ(lines[2], "MSG_ID " + message_id("a_very_long_output_name_indeed.msg"));
  EXPECT_EQ(lines[3], "DATA_TYPE WAVEFORM IMS2.0:CM6");
  EXPECT_EQ(lines[4].substr(0, 4), "WID2");
  EXPECT_EQ(lines[4].substr(44, 3), "CM6");
  EXPECT_EQ(lines.back(), "STOP");
}

// The same samples written as GSE1.0 and as GSE2.0 read back the same.
// A sink that offers room in place, as an output file does, so that the writers take the path
// they take when writing a file.
struct ReservingSink : common::Sink {
  std::string text;
  std::vector<char> room;
  bool put_line(std::string_view line) override { return put_bytes(std::string(line) + "\r\n"); }
  bool put_bytes(std::string_view lines) override {
    text += lines;
    return true;
  }
  char* reserve(std::size_t size) override {
    room.assign(size, '\0');
    return room.data();
  }
  void commit(std::size_t used) override { text.append(room.data(), used); }
};

// The samples an INT block's data lines hold.
Samples int_samples(const std::string& text) {
  std::size_t begin = text.find("DAT2\n") + 5, end = text.find("CHK2");
  std::istringstream lines(text.substr(begin, end - begin));
  Samples values;
  for (long long v; lines >> v;) values.push_back(static_cast<std::int32_t>(v));
  return values;
}

void write_every_way(const Samples& samples);

// Every writer, through the sink of a file and through one without room, at the edges of each
// CM6 character count (second differences of 2^4, 2^9, 2^14, 2^19, 2^24 and one either side,
// both signs) over a trace long enough for every piece and vector lane of the writers: what is
// written reads back as the samples, with the checksum of their definition.
TEST(Formats, EveryWriterPathReadsBack) {
  // Pieces whose samples all lie below 2^25 take the eight-at-a-time path (where the CPU has
  // it); a sample of 2^25 every 1,000 sends every piece through the general one.
  for (bool general : {false, true}) {
    SCOPED_TRACE(general ? "general" : "eight at a time");
    Samples samples;
    for (int bits : {4, 9, 14, 19, 24}) {
      for (int delta : {-1, 0, 1}) {
        for (int sign : {1, -1}) {
          const std::int32_t v = sign * ((1 << bits) + delta);
          for (int i = 0; i < 9000; ++i) {
            const bool large = general && samples.size() % 1000 == 999;
            samples.push_back(large ? (1 << 25) : i % 3 == 0 ? v : (i % 7 == 0 ? 1 : 0));
          }
        }
      }
    }
    ASSERT_GT(samples.size(), 250'000u);
    ASSERT_EQ(cm6_small(samples), !general);
    write_every_way(samples);
  }
}

void write_every_way(const Samples& samples) {
  common::Trace trace = example_trace(samples);
  const std::string checksum = std::to_string(testing::reference_checksum(samples));
  for (bool room : {true, false}) {
    SCOPED_TRACE(room ? "with room" : "without room");
    for (const char* name : {"cm6", "int"}) {
      SCOPED_TRACE(name);
      ReservingSink with_room;
      testing::StringLineSink without;
      common::Sink& sink = room ? static_cast<common::Sink&>(with_room) : without;
      std::unique_ptr<Writer> writer = find_output_format(name)->make({});
      ASSERT_FALSE(writer->refusal(trace));
      ASSERT_TRUE(writer->write_block(trace, sink).written);
      const std::string& text = room ? with_room.text : without.text;
      EXPECT_EQ(text.substr(text.find("CHK2") + 5),
                std::string(8 - checksum.size(), ' ') + checksum + "\n");
      if (std::string(name) == "int") {
        EXPECT_EQ(int_samples(text), samples);
        continue;
      }
      std::size_t begin = text.find("DAT2\n") + 5, end = text.find("CHK2");
      std::string chars;
      for (std::size_t at = begin; at < end; at = text.find('\n', at) + 1) {
        std::size_t line_end = text.find('\n', at);
        EXPECT_LE(line_end - at, 80u);
        chars += text.substr(at, line_end - at);
      }
      std::vector<std::int64_t> decoded = testing::decode_cm6(chars);
      EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), samples.begin(), samples.end()));
    }
  }
}

TEST(Formats, GseOneAndTwoHoldTheSameSamples) {
  Samples samples;
  for (int i = 0; i < 1234; ++i) samples.push_back((i * 7919) % 20001 - 10000);
  common::Trace trace = example_trace(samples);
  trace.day_text = "043";
  testing::StringLineSink gse1;
  ASSERT_TRUE(find_output_format("gse1")->make({})->write_block(trace, gse1).written);
  Samples from_gse1;
  std::size_t pos = 3 * 82;
  while (gse1.text.compare(pos, 4, "CHK1") != 0) {
    std::size_t end = gse1.text.find("\r\n", pos);
    for (std::size_t f = pos; f < end; f += 8)
      from_gse1.push_back(std::stoi(gse1.text.substr(f, 8)));
    pos = end + 2;
  }
  std::vector<std::int64_t> from_cm6 = testing::decode_cm6(data_of(lines_of("cm6", trace)));
  EXPECT_EQ(from_gse1, samples);
  EXPECT_TRUE(std::equal(from_cm6.begin(), from_cm6.end(), samples.begin(), samples.end()));
  for (const char* near : {"TINT", "i", "in", "cm", "gse", "im", ""}) {
    EXPECT_EQ(find_output_format(near), nullptr) << near;
  }
  EXPECT_EQ(find_output_format("IMS")->name, std::string("ims"));
}

}  // namespace
}  // namespace wavconv::gse
