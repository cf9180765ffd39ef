#include "css/wfdisc.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "common/stop.h"
#include "css/samples.h"
#include "test_support.h"

namespace wavconv::css {
namespace {

using testing::Header;
using testing::TempDir;

TEST(WfdiscRead, ReadsTheFirstRecordOfSeveral) {
  TempDir dir;
  int error = 0;
  Header second;
  second.sta = "XYZ";
  dir.write("h.wfdisc", Header().line() + "\n" + second.line() + "\n");
  Wfdisc record;
  ASSERT_EQ(read_wfdisc(dir.file("h.wfdisc"), record, error), HeaderError::kNone);
  EXPECT_EQ(record.sta, "ABC   ");
  EXPECT_EQ(record.jdate, 2001043);
  EXPECT_EQ(record.lddate, "2001/02/12       ");
}

TEST(WfdiscRead, CrBeforeLfEndsTheLineNotTheName) {
  TempDir dir;
  int error = 0;
  dir.write("b.wfdisc", Header().line().substr(0, 216) + "\r\n");
  Wfdisc b;
  ASSERT_EQ(read_wfdisc(dir.file("b.wfdisc"), b, error), HeaderError::kNone);
  EXPECT_EQ(b.dfile, "abc" + std::string(29, ' '));
}

// The sample path of the default run (no separator inserted, a dir beginning with "-" or "."
// meaning none) and of record mode (a relative dir below the header's directory, joined with
// "/"), for the same fields.
TEST(SamplePath, DefaultRunAndRecordMode) {
  struct Case {
    const char *header, *dir, *dfile, *run, *record;
  } cases[] = {
      // clang-format off
      {"d:\\css\\x.wfdisc", "-", "x.w", "d:\\css\\x.w", "d:\\css\\x.w"},
      {"d:\\css\\x.wfdisc", ".", "x.w", "d:\\css\\x.w", "d:\\css\\x.w"},
      {"x.wfdisc", "-", "x.w", "x.w", "x.w"},
      {"css/x.wfdisc", "", "x.w", "css/x.w", "css/x.w"},
      {"css/x.wfdisc", "..\\wave\\", "x.w", "css/x.w", "css/..\\wave\\x.w"},
      {"css/x.wfdisc", "./wfbeams", "x.w", "css/x.w", "css/./wfbeams/x.w"},
      {"x.wfdisc", "d:\\wave\\", "x.w", "d:\\wave\\x.w", "d:\\wave\\x.w"},
      {"x.wfdisc", "d:\\wave", "x.w", "d:\\wavex.w", "d:\\wave/x.w"},
      {"css/x.wfdisc", "/data/wf", "x.w", "/data/wfx.w", "/data/wf/x.w"},
      {"css/x.wfdisc", "/data/wf", "/abs/x.w", "/data/wf/abs/x.w", "/abs/x.w"},
      {"x.wfdisc", "data/", "my file.w", "data/my", "data/my"},
      {"in/x.wfdisc", "", "", "in/", "in/"},
      {"x.wfdisc", "a;b|$(c)&`d`/", "e.w", "a;b|$(c)&`d`/e.w", "a;b|$(c)&`d`/e.w"},
      {"in/x.wfdisc", "@in/", "x.w", "x.w", "in/x.w"},  // "@": a NUL, no blank but the end of dir
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.dir) + " " + c.dfile);
    Wfdisc record;
    std::string dir = c.dir;
    if (!dir.empty() && dir[0] == '@') dir[0] = '\0';
    record.dir = dir + std::string(64 - dir.size(), ' ');
    record.dfile = std::string(c.dfile) + std::string(32 - std::strlen(c.dfile), ' ');
    EXPECT_EQ(sample_path(c.header, record), c.run);
    EXPECT_EQ(record_sample_path(c.header, record), c.record);
  }
}

TEST(RecordRead, BothLayoutsFieldsNotUsedNeverRead) {
  // 283 columns with letters in wfid, chanid, jdate and endtime; then 287 columns (KB Core),
  // whose fields after time sit one column further right.
  std::string css = Header().line();
  css.replace(34, 44, std::string(44, 'x'));
  std::string kb = css.substr(0, 33) + " " + css.substr(33, 245) + "  ";
  kb.resize(287, ' ');
  kb.replace(79, 9, "     4800");
  kb.replace(247, 10, "     19200");
  Wfdisc a, b;
  ASSERT_FALSE(parse_record(css, a));
  ASSERT_FALSE(parse_record(kb, b));
  EXPECT_EQ(a.foff, 0);
  EXPECT_EQ(b.nsamp, 4800);
  EXPECT_EQ(b.foff, 19200);
  EXPECT_FLOAT_EQ(b.samprate, 20.0f);
  EXPECT_EQ(b.datatype, "i4");
  EXPECT_EQ(b.dfile, std::string("abc.w") + std::string(27, ' '));
  EXPECT_EQ(parse_record(css.replace(80, 3, "abc"), a)->message(),  // nsamp is used
            "nsamp (columns 80-87) does not read: \"abc   0\"");
}

// Only a line of exactly 287 characters is read in the KB Core layout.
TEST(RecordRead, LayoutChosenByExactLength) {
  for (std::size_t length : {286u, 287u, 288u}) {
    SCOPED_TRACE(length);
    std::string line = Header().line();
    line.resize(length, ' ');
    line.replace(79, 9, " 12345678");  // nsamp in 283 columns ends at 87, in KB Core at 88
    Wfdisc record;
    ASSERT_FALSE(parse_record(line, record));
    EXPECT_EQ(record.nsamp, length == 287 ? 12345678 : 1234567);
  }
}

// Numbers are read as written: without a decimal point a number is whole (no implied decimals);
// a field that does not read is named with its columns, in either layout.
TEST(RecordRead, NumbersAsWrittenAndFieldsThatDoNotRead) {
  std::string line = Header().line();
  line.replace(16, 17, "        981947229");
  line.replace(88, 11, "         20");
  line.replace(100, 16, "            1E-3");
  Wfdisc record;
  ASSERT_FALSE(parse_record(line, record));
  EXPECT_EQ(record.time, 981947229.0);
  EXPECT_EQ(record.samprate, 20.0f);
  EXPECT_FLOAT_EQ(record.calib, 0.001f);
  EXPECT_EQ(parse_record(line.replace(88, 11, "       2O.0"), record)->message(),
            "samprate (columns 89-99) does not read: \"2O.0\"");
  std::string kb = Header().line();
  kb.resize(287, ' ');
  kb.replace(246, 10, "       1x0");
  EXPECT_EQ(parse_record(kb, record)->message(), "foff (columns 248-257) does not read: \"1x0\"");
}

TEST(RecordRead, LinesOfBlanksAreNoRecords) {
  TempDir dir;
  dir.write("h.wfdisc", "a\n   \n\r\nb\r\n\nc");
  int error = 0;
  std::optional<WfdiscRecords> records = WfdiscRecords::open(dir.file("h.wfdisc"), error);
  ASSERT_TRUE(records.has_value());
  std::int64_t number = 0;
  std::string seen;
  while (auto line = records->next(number)) seen += std::string(*line) + std::to_string(number);
  EXPECT_EQ(seen, "a1b2c3");
  EXPECT_FALSE(WfdiscRecords::open(dir.file("none"), error).has_value());
  EXPECT_EQ(error, ENOENT);
}

}  // namespace
}  // namespace wavconv::css
