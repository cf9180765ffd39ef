// Whole runs of the built program against the cases under tests/golden/<case>/:
//   args    one argument a line ("<empty>" for an empty argument)
//   in/     the files the run starts with (copied into a fresh directory)
//   expect/ the files the run writes or replaces; every other file must stay as it was
//   stdout, stderr, status   the expected bytes and exit status
// WAVCONV_UPDATE_GOLDEN=1 rewrites stdout, stderr, status and expect/ from the actual run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>

#include "test_support.h"

namespace wavconv::testing {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> case_args(const fs::path& file) {
  std::vector<std::string> args;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) args.push_back(line == "<empty>" ? "" : line);
  return args;
}

class GoldenRun : public ::testing::TestWithParam<std::string> {};

TEST_P(GoldenRun, MatchesItsGoldenFiles) {
  fs::path golden = fs::path(WAVCONV_GOLDEN_DIR) / GetParam();
  TempDir work;
  if (fs::exists(golden / "in")) fs::copy(golden / "in", work.path(), fs::copy_options::recursive);
  std::map<std::string, std::string> before = snapshot(work.path());

  RunResult result = run_binary(work.path(), case_args(golden / "args"));
  std::map<std::string, std::string> after = snapshot(work.path());
  std::map<std::string, std::string> written;
  for (const auto& [name, bytes] : after) {
    auto old = before.find(name);
    if (old == before.end() || old->second != bytes) written[name] = bytes;
  }

  if (std::getenv("WAVCONV_UPDATE_GOLDEN")) {
    write_file(golden / "stdout", result.out);
    write_file(golden / "stderr", result.err);
    write_file(golden / "status", std::to_string(result.status) + "\n");
    fs::remove_all(golden / "expect");
    for (const auto& [name, bytes] : written) write_file(golden / "expect" / name, bytes);
    return;
  }
  EXPECT_EQ(result.out, read_file(golden / "stdout"));
  EXPECT_EQ(result.err, read_file(golden / "stderr"));
  EXPECT_EQ(std::to_string(result.status) + "\n", read_file(golden / "status"));
  for (const auto& [name, bytes] : before) EXPECT_TRUE(after.count(name)) << name << " removed";
  std::map<std::string, std::string> expected = snapshot(golden / "expect");
  EXPECT_EQ(written.size(), expected.size());
  for (const auto& [name, bytes] : expected) {
    auto actual = written.find(name);
    ASSERT_NE(actual, written.end()) << name << " not written";
    EXPECT_TRUE(actual->second == bytes) << name << " differs";
  }
  for (const auto& [name, bytes] : written) EXPECT_TRUE(expected.count(name)) << name;
}

std::vector<std::string> golden_cases() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(WAVCONV_GOLDEN_DIR)) {
    if (fs::exists(entry.path() / "args")) names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

INSTANTIATE_TEST_SUITE_P(Cases, GoldenRun, ::testing::ValuesIn(golden_cases()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace wavconv::testing
