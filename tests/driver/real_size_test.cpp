// Conversions at the size of real recordings: long enough to cross every buffer of the run
// (the sample storage's huge-page size, the data-line chunks, the output buffer) many times.
#include <gtest/gtest.h>

#include <random>

#include "driver/run.h"
#include "test_support.h"

namespace wavconv::driver {
namespace {

// A random walk over the whole INT8 range, with both limits present.
std::vector<int> long_trace(std::size_t n) {
  std::mt19937 random(2024);
  std::vector<int> values(n);
  std::int64_t v = 0;
  for (std::size_t i = 0; i < n; ++i) {
    v += static_cast<std::int64_t>(random() % 4'000'001) - 2'000'000;
    if (v > 99'999'999 || v < -9'999'999) v = (v > 0 ? 99'999'999 : -9'999'999);
    values[i] = static_cast<int>(v);
  }
  return values;
}

struct Block {
  std::int64_t count;
  std::vector<int> values;
  std::int64_t checksum;
};

// The block's WID1 count, its data lines read back value by value, and its CHK1 checksum.
Block read_block(const std::string& text) {
  Block block{std::stoll(text.substr(27, 8)), {}, -1};
  std::size_t pos = 3 * 82;
  while (text.compare(pos, 4, "CHK1") != 0) {
    std::size_t end = text.find("\r\n", pos);
    EXPECT_LE(end - pos, 80u);
    for (std::size_t f = pos; f < end; f += 8) block.values.push_back(std::stoi(text.substr(f, 8)));
    pos = end + 2;
  }
  block.checksum = std::stoll(text.substr(pos + 9, 15));
  EXPECT_EQ(text.substr(pos + 82), "STOP" + std::string(76, ' ') + "\r\n");
  return block;
}

// 600,011 samples: 2.4 MB of them, past the 2 MiB huge page the storage is rounded up to, and
// 60,002 data lines, many times the output buffer. Both ways of running, whole and windowed.
TEST(RealSize, WholeSegmentAndWindowReadBackExactly) {
  const std::vector<int> trace = long_trace(600'011);
  testing::TempDir dir;
  testing::Header header;
  dir.write("hdr.wfdisc", header.line());
  dir.write("abc.w", testing::sample_bytes(trace));
  testing::Header record;
  record.datatype = "s4";
  record.dfile = "abc.s4";
  record.foff = 12;
  dir.write("rec.wfdisc", record.line());
  dir.write("abc.s4", "twelve bytes" + testing::big_endian_bytes(trace));
  struct Case {
    std::vector<std::string> args;  // before the output name
    std::size_t first, count;       // first from 1
  } cases[] = {
      {{"hdr.wfdisc"}, 1, trace.size()},
      {{"hdr.wfdisc", "/J1000", "/L10000"}, 20'001, 200'001},  // several data-line chunks
      {{"/R", "rec.wfdisc"}, 1, trace.size()},
      {{"/R", "rec.wfdisc", "/J1000", "/L28000"}, 20'001, 560'001},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    std::vector<std::string> args = c.args;
    args.insert(args.end(),
                {"out.gse", "/I" + dir.path().string() + "/", "/O" + dir.path().string() + "/"});
    common::StringSink out, err;
    common::Console console(out, err);
    ASSERT_EQ(run(args, console), 0) << out.text << err.text;
    Block block = read_block(dir.read("out.gse"));
    std::vector<int> expected(trace.begin() + (c.first - 1),
                              trace.begin() + (c.first - 1 + c.count));
    EXPECT_EQ(block.count, static_cast<std::int64_t>(c.count));
    EXPECT_TRUE(block.values == expected);
    EXPECT_EQ(block.checksum, testing::reference_checksum(
                                  std::vector<std::int32_t>(expected.begin(), expected.end())));
  }
}

}  // namespace
}  // namespace wavconv::driver
