#include "driver/options.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "test_support.h"

namespace wavconv::driver {
namespace {

TEST(Options, RequestsAndWhatTheyTakePrecedenceOver) {
  struct Case {
    std::vector<std::string> args;
    Action action;
  } cases[] = {
      // clang-format off
      {{}, Action::kShowUsage},                 {{"?"}, Action::kShowUsage},
      {{"?abc", "x"}, Action::kShowUsage},      {{"x", "/J5", "-h"}, Action::kShowUsage},
      {{"-o", "x", "--help", "--version"}, Action::kShowUsage},
      {{"-o", "--version", "/Jx"}, Action::kShowVersion},
      {{"/J10"}, Action::kShowUsageFailed},     {{"/", "/I"}, Action::kShowUsageFailed},
      {{"--"}, Action::kShowUsageFailed},       {{"x", "-o", "y"}, Action::kUnknownOption},
      {{"-", "x?"}, Action::kConvert},          {{"x", "--", "--"}, Action::kConvert},
      {{"--", "-h", "?x", "/abs/x"}, Action::kConvert},
      {{"h", "/data/gse/out.gse"}, Action::kPathArgument},
      {{"h", "/data/x", "-h"}, Action::kShowUsage},
      {{"h", "/J", "60"}, Action::kNoValue},    {{"h", "/l ", "-5"}, Action::kNoValue},
      {{"h", "/J", "--version"}, Action::kShowVersion},
      {{"h", "/J", "60x"}, Action::kConvert},   {{"h", "/J", "--", "60"}, Action::kConvert},
      {{"h", "/J", "/L60"}, Action::kConvert},  {{"h", "/R", "2"}, Action::kConvert},
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.empty() ? "none" : c.args[0]);
    EXPECT_EQ(parse_options(c.args).action, c.action);
  }
}

TEST(Options, NamesAfterDashesAndIgnoredOptions) {
  Settings s = parse_options({"/data", "-", "/", "--", "/abs/h", "-o", "x"});
  EXPECT_EQ(s.InHFile, "-");
  EXPECT_EQ(s.OutFile, "/abs/h");
  EXPECT_EQ(s.ignored, (std::vector<std::string>{"/data", "/"}));
  EXPECT_EQ(parse_options({"/a/b", "x"}).paths, (std::vector<std::string>{"/a/b"}));
  EXPECT_EQ(s.ignored_names, (std::vector<std::string>{"-o", "x"}));
  EXPECT_EQ(parse_options({"x", "/a/b", "/c/d"}).paths, (std::vector<std::string>{"/a/b", "/c/d"}));
  EXPECT_EQ(parse_options({"x", "/l", "+7"}).no_value, "/l");
  EXPECT_EQ(parse_options({"x", "-q", "-r"}).unknown, "-q");
}

// Before "--" a path is never taken for an option, whatever its second letter: the output would
// go elsewhere, or record mode or /M would start.
TEST(Options, PathsAreNeverOptions) {
  struct Case {
    std::string arg;
    bool path;
  } cases[] = {
      // clang-format off
      {"/scratch/gse/out.gse", true}, {"/srv/x", true},   {"/run/x.gse", true},
      {"/mnt/data/", true},           {"/media/x", true}, {"/lustre/a", true},
      {"/fast/a", true},              {"/J60/x", true},   {"/L600/", true},
      {"/P2/x", true},                {"/Q/x", true},     {"/F/x", true},
      {"/tmp/x.gse", true},           {"/Tcm6/x", true},  {"/data/css/h", true},
      {"/J60", false}, {"/L600", false}, {"/R", false},   {"/R3", false}, {"/P2", false},
      {"/F", false},   {"/Q", false},    {"/S", false},   {"/M", false},  {"/Tcm6", false},
      {"/Txyz", false}, {"/I/data/css/", false}, {"/Odata/", false},   {"/x5", false},
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arg);
    Settings s = parse_options({"h.wfdisc", c.arg});
    EXPECT_EQ(s.paths.size(), c.path ? 1u : 0u);
    EXPECT_EQ(s.action == Action::kPathArgument, c.path);
  }
  // After "--" every argument is a name.
  EXPECT_EQ(parse_options({"--", "h.wfdisc", "/scratch/out.gse"}).OutFile, "/scratch/out.gse");
}

// /I and /O are paths when their first component is a directory at the root of the file system
// (/opt, /Oracle), prefixes otherwise (/Odata/ while there is no /Odata).
TEST(Options, InputAndOutputPrefixesAgainstTheRoot) {
  namespace fs = std::filesystem;
  const std::string name = std::string("wavconv-test-").append(std::to_string(::getpid()));
  for (const char* letter : {"I", "O", "i", "o"}) {
    const std::string folder = std::string("/").append(letter).append(name);
    const std::string arg = folder + "/gse/";
    SCOPED_TRACE(arg);
    EXPECT_TRUE(parse_options({"h.wfdisc", arg}).paths.empty());
    std::error_code error;
    if (!fs::create_directory(folder, error)) continue;  // not root
    EXPECT_EQ(parse_options({"h.wfdisc", arg}).paths, std::vector<std::string>{arg});
    fs::remove(folder);
  }
  if (fs::is_directory("/opt")) {
    EXPECT_EQ(parse_options({"h.wfdisc", "/opt/gse/out.gse"}).action, Action::kPathArgument);
  }
}

// /Q, /S and /F need record mode (with or without /M), /P needs /M or /R; the first one given is
// named.
TEST(Options, OptionsThatNeedAnother) {
  struct Case {
    std::vector<std::string> args;
    std::string needs;
  } cases[] = {
      {{"h", "/Q"}, "/Q needs /R (record mode)"},
      {{"h", "/s", "/q"}, "/S needs /R (record mode)"},
      {{"/M", "/F", "h"}, "/F needs /R (record mode)"},
      {{"/P2", "h"}, "/P needs /M (many headers) or /R (record mode)"},
      {{"/R", "/P2", "h"}, ""},
      {{"/R", "/Q", "/S", "/F", "h"}, ""},
      {{"/M", "/R", "/P2", "/Q", "h"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.needs);
    Settings s = parse_options(c.args);
    EXPECT_EQ(s.needs, c.needs);
    EXPECT_EQ(s.action == Action::kNeedsOption, !c.needs.empty());
  }
}

TEST(Options, JumpAndLengthValues) {
  struct Case {
    std::vector<std::string> args;
    int jump, length;
  } cases[] = {
      // clang-format off
      {{"h", "/j30"}, 30, 99999},        {{"h", "/J30"}, 30, 99999},
      {{"h", "/J"}, 0, 99999},           {{"h", "/J1234567"}, 0, 99999},
      {{"h", "/J12345"}, 12345, 99999},  {{"h", "/L0"}, 0, 99999},
      {{"h", "/L99999"}, 0, 99999},      {{"h", "/L100000"}, 0, 99999},
      {{"h", "/L-5"}, 0, -5},            {{"h", "/J 7 "}, 7, 99999},
      {{"h", "/J5", "/j9", "/l20"}, 9, 20}, {{"h", "/x3", "/L7"}, 0, 7},
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    Settings s = parse_options(c.args);
    EXPECT_EQ(s.jump, c.jump);
    EXPECT_EQ(s.length, c.length);
  }
}

TEST(Options, NamesAndDirectoriesTakenWhole) {
  std::string long_name(80, 'n');
  Settings s = parse_options({long_name, "/Iin/dir/", "out.gse", "third", "/o" + long_name});
  EXPECT_EQ(s.InHFile, long_name);
  EXPECT_EQ(s.OutFile, "out.gse");
  EXPECT_EQ(s.dirin, "in/dir/");
  EXPECT_EQ(s.dirout, long_name);
  EXPECT_FALSE(parse_options({"h"}).OutFile.has_value());
}

TEST(Options, EveryOneIsInTheManualPage) {
  std::string page = testing::read_file(WAVCONV_MAN_PAGE);
  for (char letter : kOptionLetters) {
    SCOPED_TRACE(letter);
    EXPECT_NE(page.find(std::string("/") + letter), std::string::npos);
  }
  for (const char* request : {"\\-\\-version", "\\-\\-help", "\\-h", ".B \\-\\-\n"}) {
    EXPECT_NE(page.find(request), std::string::npos) << request;
  }
}

// Every long option is in the usage screen, the README and the manual page.
TEST(Options, EveryLongOneIsInHelpReadmeAndManualPage) {
  std::string page = testing::read_file(WAVCONV_MAN_PAGE);
  std::string readme = testing::read_file(
      std::filesystem::path(WAVCONV_MAN_PAGE).parent_path().parent_path() / "README.md");
  testing::TempDir dir;
  std::string usage = testing::run_binary(dir.path(), {"--help"}).out;
  for (std::string name : value_options()) {
    SCOPED_TRACE(name);
    EXPECT_NE(usage.find(name), std::string::npos);
    EXPECT_NE(readme.find("`" + name), std::string::npos);
    EXPECT_NE(page.find("\\-\\-" + name.substr(2)), std::string::npos);
  }
}

}  // namespace
}  // namespace wavconv::driver
