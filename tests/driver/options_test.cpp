#include "driver/options.h"

#include <gtest/gtest.h>

#include <sstream>

#include "driver/run.h"

namespace wavconv::driver {
namespace {

struct Outcome {
  std::string out, err;
  int status;
};

Outcome run_args(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  common::Console console(out, err);
  int status = run(args, console);
  return {out.str(), err.str(), status};
}

Settings settings_of(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  common::Console console(out, err);
  return parse_options(args, console);
}

std::string usage_bytes() {
  const char* lines[] = {
      " WAVCONV v2.1  -  CSS to GSE1.0 conversion program        ",
      " COMMAND MODE:                                            ",
      " Call : WAVCONV InHFile OutFile /Options                  ",
      " Where:                                                   ",
      " InHFile : Name of the input CSS header file              ",
      " OutFile : Name of the output GSE file [InDFile_DOY.GSE]  ",
      " Options : /Jn /Ln /Idirin /Odirout                       ",
      " Jn      : jump n seconds from file begin [0]             ",
      " Ln      : retain n seconds as total file length [99999]  ",
      " Idirin  : set the path of the input file to dirin [.]    ",
      " Odirout : set the path of the output file to dirout [.]  ",
      " Output format is uncompressed 0 differences, INT8        "};
  std::string bytes = "\r\n" + std::string(lines[0] + 1) + "  \r\n";
  for (int i = 1; i < 12; ++i) bytes += "\r\n" + std::string(lines[i] + 1) + "  ";
  return bytes + "\r\n" + std::string(57, ' ') + "\r\n\r\n";
}

TEST(Usage, ShownWithoutANameOrWhenAskedFor) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"/J10"}, {"?"}, {"?abc", "x"}, {"--help"}, {"-h"}, {"/", "/I"}}) {
    SCOPED_TRACE(args.empty() ? "none" : args[0]);
    Outcome outcome = run_args(args);
    EXPECT_EQ(outcome.out, usage_bytes());
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(outcome.status, 0);
  }
}

TEST(Options, JumpAndLengthValues) {
  struct Case {
    std::vector<std::string> args;
    int jump, length;
  } cases[] = {
      {{"h", "/j30"}, 30, 99999},        {{"h", "/J30"}, 30, 99999},
      {{"h", "/J"}, 0, 99999},           {{"h", "/J1234567"}, 0, 99999},
      {{"h", "/J12345"}, 12345, 99999},  {{"h", "/L0"}, 0, 99999},
      {{"h", "/L99999"}, 0, 99999},      {{"h", "/L100000"}, 0, 99999},
      {{"h", "/L-5"}, 0, -5},            {{"h", "/J 7 "}, 7, 99999},
      {{"h", "/J5", "/j9", "/l20"}, 9, 20}, {{"h", "/x3", "/L7"}, 0, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    Settings s = settings_of(c.args);
    EXPECT_EQ(s.jump, c.jump);
    EXPECT_EQ(s.length, c.length);
  }
}

TEST(Options, NamesAndDirectoriesTakenWhole) {
  std::string long_name(80, 'n');
  Settings s = settings_of({long_name, "/Iin/dir/", "out.gse", "third", "/o" + long_name});
  EXPECT_EQ(s.InHFile, long_name);
  EXPECT_EQ(s.OutFile, "out.gse");
  EXPECT_EQ(s.dirin, "in/dir/");
  EXPECT_EQ(s.dirout, long_name);
  EXPECT_FALSE(settings_of({"h"}).OutFile.has_value());
}

TEST(Options, ValueThatIsNotANumberIsFatal) {
  Outcome outcome = run_args({"h", "/Jx"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err.substr(0, 30), "\r\nrun-time error F6502: READ(i");
}

}  // namespace
}  // namespace wavconv::driver
