// The station tables: their columns and nulls, which rows apply on a day, the later ondate
// winning, and what cannot be read being reported and left out.
#include "css/site.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>

#include "test_support.h"

namespace wavconv::css {
namespace {

// The tables beside `header`, every station wanted; `refused` when one was refused whole.
StationTables load(const std::string& header, std::vector<std::string>& problems,
                   bool* refused = nullptr) {
  bool any_refused = false;
  StationTables tables = StationTables::load(
      header, [](std::string_view) { return true; }, problems, any_refused);
  if (refused) *refused = any_refused;
  return tables;
}

// A site line in its 155 columns.
std::string site(const char* sta, long ondate, long offdate, double lat, double lon, double elev) {
  char line[200];
  std::snprintf(line, sizeof line,
                "%-6s %8ld %8ld %9.4f %9.4f %9.4f %-50s %-4s %-6s %9.4f %9.4f %-17s", sta, ondate,
                offdate, lat, lon, elev, "A station", "ss", sta, 0.0, 0.0, "2006/10/09");
  return line;
}

// A sitechan line in its 140 columns.
std::string sitechan(const char* sta, const char* chan, long ondate, long offdate, double edepth,
                     double hang, double vang) {
  char line[200];
  std::snprintf(line, sizeof line, "%-6s %-8s %8ld %8d %8ld %-4s %9.4f %6.1f %6.1f %-50s %-17s",
                sta, chan, ondate, 1, offdate, "n", edepth, hang, vang, "A channel", "2006/10/09");
  return line;
}

TEST(StationTables, ColumnsAndNulls) {
  // Every value's last digit stands in its field's last column.
  std::string line = site("ABC", 2001001, -1, -33.5127, 151.2539, 0.0427);
  ASSERT_EQ(line.size(), 155u);
  auto row = StationTables::parse_site(line);
  ASSERT_TRUE(row);
  EXPECT_EQ(row->sta, "ABC");
  EXPECT_EQ(row->ondate, 2001001);
  EXPECT_EQ(row->offdate, -1);
  EXPECT_DOUBLE_EQ(*row->lat, -33.5127);
  EXPECT_DOUBLE_EQ(*row->lon, 151.2539);
  EXPECT_DOUBLE_EQ(*row->elev, 0.0427);
  auto nulls = StationTables::parse_site(site("ABC", 2001001, -1, -999, -999, -999));
  ASSERT_TRUE(nulls);
  EXPECT_FALSE(nulls->lat || nulls->lon || nulls->elev);
  std::string chan_line = sitechan("ABC", "BHZ", 2001001, -1, 0.1, -1, 0);
  ASSERT_EQ(chan_line.size(), 140u);
  auto chan = StationTables::parse_sitechan(chan_line);
  ASSERT_TRUE(chan);
  EXPECT_EQ(chan->chan, "BHZ");
  EXPECT_DOUBLE_EQ(*chan->edepth, 0.1);
  EXPECT_FALSE(chan->hang);  // -1: unknown
  EXPECT_DOUBLE_EQ(*chan->vang, 0.0);
  auto exact =
      StationTables::parse_sitechan(sitechan("ABC", "BHN", 2001001, 2001365, 0.0125, 90.5, 89.5));
  ASSERT_TRUE(exact);
  EXPECT_EQ(exact->offdate, 2001365);
  EXPECT_DOUBLE_EQ(*exact->edepth, 0.0125);
  EXPECT_DOUBLE_EQ(*exact->hang, 90.5);
  EXPECT_DOUBLE_EQ(*exact->vang, 89.5);
  EXPECT_FALSE(StationTables::parse_site(line.replace(25, 9, "  north  ")));
  EXPECT_FALSE(StationTables::parse_sitechan(chan_line.substr(0, 50)));  // no angles
}

TEST(StationTables, RowsThatApplyAndTheLaterOndate) {
  testing::TempDir dir;
  dir.write("a.site", site("ABC", 2001001, 2001100, 10, 20, 1) + "\n\n" +
                          site("ABC", 2001050, -1, 11, 21, 1) + "\n" +
                          site("XYZ", 1990001, -1, 50, 60, -999) + "\nnot a line\n");
  std::string chans = sitechan("ABC", "BHZ", 2001001, -1, 0.005, -1, 0) + "\n" +
                      sitechan("ABC", "BHN", 2001001, -1, 0.005, 0, 90) + "\n";
  gzFile gz = gzopen(dir.file("a.sitechan.gz").c_str(), "wb");
  gzwrite(gz, chans.data(), static_cast<unsigned>(chans.size()));
  gzclose(gz);
  std::vector<std::string> problems;
  StationTables tables = load(dir.file("a.wfdisc"), problems);
  ASSERT_TRUE(tables.any());
  EXPECT_EQ(problems,
            std::vector<std::string>{dir.file("a.site") + ": line 5 does not read, ignored"});
  auto before = tables.find("ABC   ", "BHZ     ", 2001020);  // only the first row
  EXPECT_DOUBLE_EQ(*before.placement.latitude, 10);
  EXPECT_EQ(before.disagreeing, 0);
  auto both = tables.find("ABC", "BHZ", 2001060);  // both apply: the later ondate wins
  EXPECT_DOUBLE_EQ(*both.placement.latitude, 11);
  EXPECT_EQ(both.disagreeing, 2);
  EXPECT_TRUE(both.located);
  EXPECT_DOUBLE_EQ(*both.placement.depth, 0.005);
  EXPECT_FALSE(both.placement.hang);
  auto later = tables.find("ABC", "BHN", 2005001);  // open offdate
  EXPECT_DOUBLE_EQ(*later.placement.latitude, 11);
  EXPECT_DOUBLE_EQ(*later.placement.vang, 90);
  auto early = tables.find("ABC", "BHZ", 2000365);  // before every ondate
  EXPECT_FALSE(early.located || early.placement.depth);
  auto no_elevation = tables.find("XYZ", "BHZ", 2001001);
  EXPECT_TRUE(no_elevation.located);
  EXPECT_FALSE(no_elevation.placement.elevation);
}

TEST(StationTables, UnreadableTablesAreReportedAndNoneIsNothing) {
  testing::TempDir dir;
  std::vector<std::string> problems;
  EXPECT_FALSE(load(dir.file("a.wfdisc"), problems).any());
  EXPECT_FALSE(load(dir.file("a.hdr"), problems).any());  // not a .wfdisc
  EXPECT_TRUE(problems.empty());
  std::filesystem::create_directory(dir.file("a.site"));
  dir.write("a.sitechan.gz", "not gzip data at all");
  EXPECT_FALSE(load(dir.file("a.wfdisc"), problems).any());
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problems[0], dir.file("a.site") + ": not a regular file, table ignored");
  EXPECT_EQ(problems[1], dir.file("a.sitechan.gz") + ": holds damaged gzip data, table ignored");
  // A line that does not read is reported in the file actually read.
  gzFile gz = gzopen(dir.file("b.site.gz").c_str(), "wb");
  std::string lines = site("ABC", 2001001, -1, 1, 2, 3) + "\nnot a site line\n";
  gzwrite(gz, lines.data(), static_cast<unsigned>(lines.size()));
  gzclose(gz);
  problems.clear();
  EXPECT_TRUE(load(dir.file("b.wfdisc"), problems).any());
  EXPECT_EQ(problems,
            std::vector<std::string>{dir.file("b.site.gz") + ": line 2 does not read, ignored"});
}

// The later ondate wins wherever its row stands in the file; only the stations asked for are
// kept.
TEST(StationTables, LaterOndateWinsAgainstFileOrderAndOnlyWantedStationsKept) {
  testing::TempDir dir;
  dir.write("a.site", site("ABC", 2001050, -1, 11, 21, 1) + "\n" +
                          site("ABC", 2001001, -1, 10, 20, 1) + "\n" +
                          site("XYZ", 2001001, -1, 50, 60, 2) + "\n" + "XYZ  not a line\n");
  std::vector<std::string> problems;
  bool refused = false;
  StationTables tables = StationTables::load(
      dir.file("a.wfdisc"), [](std::string_view sta) { return sta == "ABC"; }, problems, refused);
  EXPECT_FALSE(refused);
  EXPECT_TRUE(problems.empty());  // the line that does not read is another station's
  EXPECT_DOUBLE_EQ(*tables.find("ABC", "BHZ", 2001060).placement.latitude, 11);
  EXPECT_EQ(tables.find("ABC", "BHZ", 2001060).disagreeing, 2);
  EXPECT_DOUBLE_EQ(*tables.find("ABC", "BHZ", 2001049).placement.latitude, 10);  // last day
  EXPECT_FALSE(tables.find("XYZ", "BHZ", 2001060).located);
  // Without counting the disagreements (the conversion's look-up) the same rows win, ties of
  // ondate included (the first in the file), and closed ranges end on their offdate.
  dir.write("b.site", site("ABC", 2001050, 2001080, 11, 21, 1) + "\n" +
                          site("ABC", 2001001, -1, 10, 20, 1) + "\n" +
                          site("ABC", 2001050, -1, 12, 22, 1) + "\n" +
                          site("ABC", 2001100, 2001100, 13, 23, 1) + "\n");
  StationTables more = load(dir.file("b.wfdisc"), problems);
  for (std::int64_t day :
       {2000366, 2001001, 2001049, 2001050, 2001080, 2001081, 2001100, 2001101}) {
    SCOPED_TRACE(day);
    auto counted = more.find("ABC", "BHZ", day), fast = more.find("ABC", "BHZ", day, false);
    EXPECT_EQ(counted.placement.latitude, fast.placement.latitude);
    EXPECT_EQ(fast.disagreeing, 0);
  }
  EXPECT_EQ(*more.find("ABC", "BHZ", 2001060, false).placement.latitude, 11);
  EXPECT_EQ(*more.find("ABC", "BHZ", 2001081, false).placement.latitude, 12);
  EXPECT_EQ(*more.find("ABC", "BHZ", 2001100, false).placement.latitude, 13);
}

// A line longer than 1024 bytes (a sparse or binary file) or more than 256 MiB of inflated text
// refuses the table whole, after reading no more than that.
TEST(StationTables, HostileTablesAreRefusedWhole) {
  testing::TempDir dir;
  std::string good = site("ABC", 2001001, -1, 10, 20, 1);
  dir.write("a.site", good + "\n" + std::string(1025, 'x') + "\n");
  dir.write("b.site", good + "\r\n" + good.substr(0, 6) + std::string(1018, ' ') + "\r\n");
  gzFile gz = gzopen(dir.file("c.site.gz").c_str(), "wb");
  std::string newlines(1 << 20, '\n');
  gzwrite(gz, good.data(), static_cast<unsigned>(good.size()));
  for (int i = 0; i < 257; ++i)
    gzwrite(gz, newlines.data(), static_cast<unsigned>(newlines.size()));
  gzclose(gz);
  struct Case {
    const char* header;
    std::string problem;  // empty: read
  } cases[] = {
      {"a.wfdisc", dir.file("a.site") + ": line 2 is longer than 1024 bytes, table ignored"},
      {"b.wfdisc", ""},  // 1024 bytes and CR LF: the longest line there may be
      {"c.wfdisc", dir.file("c.site.gz") + ": holds more than 256 MiB, table ignored"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.header);
    std::vector<std::string> problems;
    bool refused = false;
    StationTables tables = load(dir.file(c.header), problems, &refused);
    EXPECT_EQ(refused, !c.problem.empty());
    EXPECT_EQ(tables.find("ABC", "BHZ", 2001060).located, c.problem.empty());
    if (c.problem.empty()) {
      EXPECT_EQ(problems.size(), 1u);  // its second line does not read
    } else {
      EXPECT_EQ(problems, std::vector<std::string>{c.problem});
    }
  }
}

}  // namespace
}  // namespace wavconv::css
