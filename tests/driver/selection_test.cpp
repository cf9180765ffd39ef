#include "driver/selection.h"

#include <gtest/gtest.h>

#include <sstream>

#include "e1_encoder.h"
#include "test_support.h"

namespace wavconv::testing {
namespace {

using driver::Microseconds;
namespace fs = std::filesystem;

constexpr Microseconds kSecond = 1000000;

TEST(WindowTimes, EveryFormReadsToTheMicrosecond) {
  struct Case {
    const char* text;
    std::optional<Microseconds> expected;
  } cases[] = {
      {"2001-02-12T03:07:09", 981947229 * kSecond},
      {"2001/02/12 03:07:09", 981947229 * kSecond},
      {"@981947229", 981947229 * kSecond},
      {"2001-02-12T03:07:09.5", 981947229 * kSecond + 500000},
      {"2001/02/12 03:07:09.000001", 981947229 * kSecond + 1},
      {"2001-02-12T03:07:09.1234560", 981947229 * kSecond + 123456},
      {"@981947229.25", 981947229 * kSecond + 250000},
      {"@-1.5", -1500000},
      {"1970-01-01T00:00:00", 0},
      {"1969-12-31T23:59:59.999999", -1},
      // Leap days: 2004 and 2000 have one, 2005 and 1900 do not.
      {"2004-02-29T12:00:00", 1078056000 * kSecond},
      {"2000-02-29T00:00:00", 951782400 * kSecond},
      {"2004-03-01T00:00:00", 1078099200 * kSecond},
      {"2005-02-29T00:00:00", std::nullopt},
      {"1900-02-29T00:00:00", std::nullopt},
      {"2001-02-12T03:07:09.1234567", std::nullopt},  // beyond the microsecond
      {"2001-02-12 03:07:09", std::nullopt},          // ISO date needs its T
      {"2001/02/12T03:07:09", std::nullopt},
      {"2001-13-01T00:00:00", std::nullopt},
      {"2001-02-12T24:00:00", std::nullopt},
      {"2001-02-12T03:07:60", std::nullopt},
      {"2001-02-12T03:07:09.", std::nullopt},
      {"2001-02-12T03:07", std::nullopt},
      {"@", std::nullopt},
      {"@1e9", std::nullopt},
      {"981947229", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(driver::parse_time(c.text), c.expected) << c.text;
  }
  EXPECT_EQ(driver::time_text(981947229 * kSecond + 120000), "2001-02-12T03:07:09.12");
  EXPECT_EQ(driver::time_text(-1), "1969-12-31T23:59:59.999999");
}

TEST(WindowTimes, RatesAndNamesAsWritten) {
  struct RateCase {
    const char* text;
    std::int64_t numerator, denominator;  // 0: does not read
  } rates[] = {
      {" 20.0000000", 20, 1},
      {"39.9999", 399999, 10000},
      {"0.025", 1, 40},
      {"20", 20, 1},
      {"0.0000000", 0, 0},
      {"-20", 0, 0},
      {"4e1", 0, 0},
      {"", 0, 0},
      {"1234567890.123456789", 0, 0},
  };
  for (const RateCase& c : rates) {
    std::optional<driver::Rate> rate = driver::parse_rate(c.text);
    if (c.numerator == 0) {
      EXPECT_FALSE(rate) << c.text;
    } else {
      EXPECT_EQ(rate, (driver::Rate{c.numerator, c.denominator})) << c.text;
    }
  }
  struct NameCase {
    const char* pattern;
    const char* name;
    bool matches;
  } names[] = {
      {"ARCES", "arces", true},   {"FI*", "FINES", true},
      {"FI*", "FI", true},        {"FI*", "AFI", false},
      {"BH?", "bhz", true},       {"BH?", "BH", false},
      {"*Z", "BHZ", true},        {"*Z", "BHN", false},
      {"B*H*Z", "BxHyyZ", true},  {"*", "", true},
      {"?", "", false},           {"A*B*C", "AXBYC", true},
      {"A*B*C", "AXBYCD", false},
  };
  for (const NameCase& c : names) {
    EXPECT_EQ(driver::wildcard_match(c.pattern, c.name), c.matches) << c.pattern << " " << c.name;
  }
  EXPECT_EQ(driver::split_list(" ARCES, FI* ,,"), (std::vector<std::string>{"ARCES", "FI*"}));
}

// Samples in [from, to) of a record at 0 s: at 20 sps each 50,000 us; at 3 sps a period that
// no decimal holds (sample 1 at 333,333.33... us).
TEST(WindowTimes, EdgesOnJustBeforeAndJustAfterASample) {
  const driver::Rate twenty{20, 1}, three{3, 1};
  struct Case {
    driver::Rate rate;
    std::optional<Microseconds> from, to;
    std::int64_t first, end;
  } cases[] = {
      {twenty, 150000, std::nullopt, 3, 100},  // on sample 3
      {twenty, 149999, std::nullopt, 3, 100},  // just before it
      {twenty, 150001, std::nullopt, 4, 100},  // just after it
      {twenty, std::nullopt, 250000, 0, 5},    // to on sample 5: not in
      {twenty, std::nullopt, 250001, 0, 6},
      {twenty, std::nullopt, 249999, 0, 5},
      {twenty, -kSecond, 10 * kSecond, 0, 100},      // the window holds the record
      {twenty, 5 * kSecond, 6 * kSecond, 100, 100},  // after its last sample
      {twenty, 4950000, std::nullopt, 99, 100},      // its last sample alone
      {twenty, -2 * kSecond, 0, 0, 0},               // ends on its first sample
      {three, 333333, std::nullopt, 1, 100},
      {three, 333334, std::nullopt, 2, 100},
      {three, std::nullopt, 333334, 0, 2},
      {three, std::nullopt, 333333, 0, 1},
  };
  for (const Case& c : cases) {
    driver::SampleSpan span = driver::samples_within(0, c.rate, 100, c.from, c.to);
    EXPECT_EQ(span.first, c.first) << c.from.value_or(-1) << " " << c.to.value_or(-1);
    EXPECT_EQ(span.end, c.end) << c.from.value_or(-1) << " " << c.to.value_or(-1);
  }
}

// A record after one of 100 samples at 20 sps from 0 s, starting where its first sample would
// be (5 s) or off by some microseconds.
TEST(WindowTimes, ContinuityWithinHalfASample) {
  const driver::Rate rate{20, 1};
  struct Case {
    Microseconds next_start;
    int kind;
  } cases[] = {
      {5000000, 0},  {5024999, 0},  {4975001, 0},  // jitter under half a sample
      {5025000, 1},  {5050000, 1},                 // half a sample, one sample late: a gap
      {4975000, -1}, {4000000, -1},                // an overlap
  };
  for (const Case& c : cases) {
    EXPECT_EQ(driver::continuity(0, 100, c.next_start, 0, rate).kind, c.kind) << c.next_start;
  }
  EXPECT_DOUBLE_EQ(driver::continuity(0, 100, 5050000, 0, rate).seconds, 0.05);
  // A rate of 39.9999 samples a second, exactly as written.
  const driver::Rate odd{399999, 10000};
  EXPECT_EQ(driver::continuity(0, 399999, 10000 * kSecond, 0, odd).kind, 0);
}

// --- Whole runs ---

// An archive of one station in five records of 100 samples at 20 sps (5 s each), the values
// counting on from record to record: 1 and 2 continue each other (2 gzipped), 3 starts 0.02 s
// late (jitter), 4 one sample late (a gap), 5 overlaps 4; then a sixth with another calib, a
// seventh where it ends at 40 sps, and a lower-case station whose big-endian samples count from
// 1000.
struct Archive {
  TempDir dir;
  static constexpr double kStart = 981947229.0;
  Archive() {
    std::string header;
    auto add = [&](const std::string& sta, double time, const std::string& file, int foff,
                   const std::string& datatype, double calib, double samprate = 20.0) {
      Header h;
      h.sta = sta;
      h.time = time;
      h.samprate = samprate;
      h.nsamp = 100;
      h.dfile = file;
      h.foff = foff;
      h.datatype = datatype;
      h.calib = calib;
      header += h.line() + "\n";
    };
    std::string plain;
    for (int r = 0; r < 7; ++r) plain += sample_bytes(counting(r * 100, 100));
    dir.write("abc.w", plain);
    write_gzipped(dir.file("abc2.w.gz"), sample_bytes(counting(100, 100)));
    dir.write("xyz.w", big_endian_bytes(counting(1000, 100)));
    add("ABC", kStart, "abc.w", 0, "i4", 1.0);
    add("ABC", kStart + 5.0, "abc2.w", 0, "i4", 1.0);
    add("ABC", kStart + 10.02, "abc.w", 800, "i4", 1.0);
    add("ABC", kStart + 15.07, "abc.w", 1200, "i4", 1.0);
    add("ABC", kStart + 20.0, "abc.w", 1600, "i4", 1.0);
    add("ABC", kStart + 25.0, "abc.w", 2000, "i4", 2.0);
    add("ABC", kStart + 30.0, "abc.w", 2400, "i4", 2.0, 40.0);
    add("xyz", kStart, "xyz.w", 0, "s4", 1.0);
    dir.write("a.wfdisc", header);
  }
};

TEST(Window, JoinsWhatContinuesAndSplitsAtGapsOverlapsAndChanges) {
  Archive archive;
  RunResult result =
      run_binary(archive.dir.path(), {"--sta", "abc", "/Tint", "a.wfdisc", "out.gse"});
  ASSERT_EQ(result.status, 0) << result.out << result.err;
  std::vector<std::vector<int>> blocks = int_blocks(archive.dir.read("out.gse"));
  // Records 1-3 joined (exact, then jitter under half a sample); 4 after a gap; 5 overlapping
  // it; 6 of another calib; 7 of another samprate.
  ASSERT_EQ(blocks.size(), 5u);
  std::vector<int> joined = counting(0, 300);
  EXPECT_EQ(blocks[0], joined);
  EXPECT_EQ(blocks[1], counting(300, 100));
  EXPECT_EQ(blocks[2], counting(400, 100));
  EXPECT_EQ(blocks[3], counting(500, 100));
  EXPECT_EQ(blocks[4], counting(600, 100));
  std::string text = archive.dir.read("out.gse");
  EXPECT_NE(text.find("WID2 2001/02/12 03:07:09.000 ABC   BHZ      INT      300"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("WID2 2001/02/12 03:07:24.070 ABC"), std::string::npos);

  RunResult query = run_binary(archive.dir.path(), {"/Q", "--sta=ABC", "a.wfdisc", "out.gse"});
  EXPECT_EQ(query.status, 0);
  EXPECT_EQ(query.out,
            " Record n (STA CHAN): first sample, samples in the window of nsamp, path, verdict\r\n"
            " Record 1 (ABC BHZ): 2001-02-12T03:07:09, 100 of 100, abc.w, new block\r\n"
            " Record 2 (ABC BHZ): 2001-02-12T03:07:14, 100 of 100, abc2.w.gz, joined\r\n"
            " Record 3 (ABC BHZ): 2001-02-12T03:07:19.02, 100 of 100, abc.w, joined\r\n"
            " Record 4 (ABC BHZ): 2001-02-12T03:07:24.07, 100 of 100, abc.w, new block after "
            "a gap of 0.05 s\r\n"
            " Record 5 (ABC BHZ): 2001-02-12T03:07:29, 100 of 100, abc.w, new block: overlaps "
            "the one before by 0.07 s\r\n"
            " Record 6 (ABC BHZ): 2001-02-12T03:07:34, 100 of 100, abc.w, new block: calib, "
            "calper or instype differs\r\n"
            " Record 7 (ABC BHZ): 2001-02-12T03:07:39, 100 of 100, abc.w, new block: samprate "
            "differs\r\n \r\n\r\n");
}

// Windows cut inside records (gzipped, big-endian), across the join, in every case of the
// names; the files a file each as record mode names them.
TEST(Window, CutsInsideRecordsByTimeStationAndChannel) {
  Archive archive;
  struct Case {
    std::vector<std::string> args;
    std::map<std::string, std::vector<int>> files;  // name: its one block
  } cases[] = {
      // 03:07:13.5 .. 03:07:15 (to excluded): the last 10 of record 1, the first 20 of 2.
      {{"--from", "2001-02-12T03:07:13.5", "--to", "+1.5", "--sta", "A*"},
       {{"ABC_BHZ_2001043_030713.gse", counting(90, 30)}}},
      {{"--from", "2001/02/12 03:07:10", "--to", "@981947230.1", "--sta", "x?z", "--chan", "bh?"},
       {{"xyz_BHZ_2001043_030710.gse", counting(1020, 2)}}},
      {{"--from", "@981947233.95", "--to", "2001-02-12T03:07:14.05", "--chan", "BHZ,SHZ"},
       {{"ABC_BHZ_2001043_030713.gse", counting(99, 2)},
        {"xyz_BHZ_2001043_030713.gse", counting(1099, 1)}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    fs::remove_all(archive.dir.file("out"));
    fs::create_directory(archive.dir.file("out"));
    std::vector<std::string> args = c.args;
    for (const char* a : {"/Tint", "/Oout/", "a.wfdisc"}) args.push_back(a);
    RunResult result = run_binary(archive.dir.path(), args);
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    std::map<std::string, std::vector<int>> files;
    for (const auto& [name, text] : snapshot(archive.dir.file("out"))) {
      std::vector<std::vector<int>> blocks = int_blocks(text);
      ASSERT_EQ(blocks.size(), 1u) << name;
      files[name] = blocks[0];
    }
    EXPECT_EQ(files, c.files);
  }
}

// A record of e1 samples (blocks of 64) cut across its block edges, a day of 100 sps
// (8,640,000 samples) at both of its ends.
TEST(Window, PackedAndDayLongRecordsCutInside) {
  TempDir dir;
  std::vector<std::int32_t> packed;
  for (int i = 0; i < 1000; ++i) packed.push_back((i * 37) % 501 - 250);
  dir.write("e1.w", encode_e1(packed, 1, 64));
  std::vector<int> day = counting(-4'320'000, 8'640'000);
  dir.write("day.w", sample_bytes(day));
  Header e1;
  e1.sta = "PK";
  e1.nsamp = 1000;
  e1.dfile = "e1.w";
  e1.datatype = "e1";
  Header whole;
  whole.sta = "DAY";
  whole.time = 981936000.0;  // 2001-02-12 00:00:00
  whole.nsamp = 8'640'000;
  whole.samprate = 100.0;
  whole.dfile = "day.w";
  dir.write("a.wfdisc", e1.line() + "\n" + whole.line() + "\n");
  struct Case {
    std::vector<std::string> args;
    std::vector<int> expected;
  } cases[] = {
      // e1 samples 60..199 (03:07:12 .. 03:07:19 at 20 sps): three blocks' edges inside.
      {{"--sta", "PK", "--from", "2001-02-12T03:07:12", "--to", "+7"},
       std::vector<int>(packed.begin() + 60, packed.begin() + 200)},
      // The day's first and last second.
      {{"--sta", "DAY", "--to", "2001-02-12T00:00:01"}, counting(-4'320'000, 100)},
      {{"--sta", "DAY", "--from", "2001-02-12T23:59:59"}, counting(4'319'900, 100)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1] + " " + c.args[3]);
    std::vector<std::string> args = c.args;
    for (const char* a : {"/Tint", "a.wfdisc", "out.gse"}) args.push_back(a);
    RunResult result = run_binary(dir.path(), args);
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    std::vector<std::vector<int>> blocks = int_blocks(dir.read("out.gse"));
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0], c.expected);
  }
}

TEST(Window, NothingMatchingAndOptionsThatDoNotGo) {
  Archive archive;
  struct Case {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"--sta", "ZZZ", "--from", "2001-02-12T03:00:00", "a.wfdisc", "out.gse"},
       "wavconv: nothing in the archive matches --sta ZZZ --from 2001-02-12T03:00:00\n"},
      {{"--from", "2001-02-12T04:00:00", "a.wfdisc", "out.gse"},
       "wavconv: nothing in the archive matches --from 2001-02-12T04:00:00\n"},
      {{"--from", "2001-02-30T00:00:00", "a.wfdisc"},
       "wavconv: --from 2001-02-30T00:00:00: not a time (YYYY-MM-DDThh:mm:ss[.f], "
       "\"YYYY/MM/DD hh:mm:ss[.f]\" or @epoch seconds)\n"},
      {{"--to", "+600", "a.wfdisc"}, "wavconv: --to +600 needs --from\n"},
      {{"--from", "@10", "--to", "@10", "a.wfdisc"},
       "wavconv: --from 1970-01-01T00:00:10 is not before --to 1970-01-01T00:00:10: the window "
       "is empty\n"},
      {{"/R2", "--sta", "ABC", "a.wfdisc"},
       "wavconv: /R2 does not go with --from, --to, --sta or --chan: they choose the records\n"},
      {{"/J60", "--sta", "ABC", "a.wfdisc"},
       "wavconv: /J does not go with --from, --to, --sta or --chan: it counts from a record's "
       "start\n"},
      {{"--sta", "", "a.wfdisc"}, "wavconv: --sta : no name in the list\n"},
      {{"a.wfdisc", "--chan"}, "wavconv: --chan needs a value\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    RunResult result = run_binary(archive.dir.path(), c.args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(fs::exists(archive.dir.file("out.gse")));
  }
}

// A record that cannot be read is refused (status 1) and breaks the join; the listing says
// the same as the run does.
TEST(Window, RefusalsListedAsTheRunMakesThem) {
  Archive archive;
  fs::remove(archive.dir.file("abc2.w.gz"));
  RunResult query = run_binary(archive.dir.path(),
                               {"/Q", "--sta", "ABC", "--to", "@981947244", "a.wfdisc", "out.gse"});
  RunResult run = run_binary(
      archive.dir.path(), {"--sta", "ABC", "--to", "@981947244", "/Tint", "a.wfdisc", "out.gse"});
  EXPECT_EQ(query.status, 1);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(query.out.find(" Record 2 (ABC BHZ): "), std::string::npos) << query.out;
  EXPECT_NE(query.out.find(" Error: 1 of 3 records cannot be converted"), std::string::npos);
  EXPECT_NE(run.out.find(" Error: 1 of 3 records not converted"), std::string::npos) << run.out;
  std::vector<std::vector<int>> blocks = int_blocks(archive.dir.read("out.gse"));
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0], counting(0, 100));
  EXPECT_EQ(blocks[1], counting(200, 100));
}

}  // namespace
}  // namespace wavconv::testing
