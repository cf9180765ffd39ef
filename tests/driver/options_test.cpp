#include "driver/options.h"

#include <gtest/gtest.h>

#include <sstream>

#include "driver/run.h"
#include "test_support.h"

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

// The usage screen's bytes, as the golden run without arguments holds them.
std::string usage_bytes() {
  return testing::read_file(std::filesystem::path(WAVCONV_GOLDEN_DIR) / "usage_no_arguments" /
                            "stdout");
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
