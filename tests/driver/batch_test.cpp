// How runs behave in a batch: killed, run side by side onto one name, or read by a reader that
// goes away. Each case starts the built program itself.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "test_support.h"

namespace wavconv::testing {
namespace {

namespace fs = std::filesystem;

bool has_temporary_file(const fs::path& dir) {
  for (const auto& entry : fs::directory_iterator(dir)) {
    std::string name = entry.path().filename().string();
    if (name[0] == '.' && name.size() > 4 && name.substr(name.size() - 4) == ".tmp") return true;
  }
  return false;
}

TEST(Batch, TerminatedRunLeavesTheOldFileAndNoTemporary) {
  TempDir dir;
  dir.write("hdr.wfdisc", Header().line());
  dir.write("out.gse", "keep");
  dir.write("abc.w", "");
  fs::resize_file(dir.file("abc.w"), 40'000'000);  // 10 million zero samples, 82 MB of text
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(signal);
    pid_t pid = start_binary(dir.path(), {"hdr.wfdisc", "out.gse"});
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!has_temporary_file(dir.path()) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ::kill(pid, signal);
    EXPECT_EQ(wait_binary(pid), 1);
    EXPECT_FALSE(has_temporary_file(dir.path()));
    EXPECT_EQ(dir.read("out.gse"), "keep");
  }
}

TEST(Batch, ParallelRunsOntoOneNameLeaveOneWholeBlock) {
  TempDir dir;
  Header long_header;
  long_header.dfile = "long.w";
  dir.write("short.wfdisc", Header().line());
  dir.write("abc.w", sample_bytes({1, 2, 3}));
  dir.write("long.wfdisc", long_header.line());
  dir.write("long.w", sample_bytes(std::vector<int>(30000, 123456)));
  std::vector<std::string> blocks;
  for (const char* header : {"short.wfdisc", "long.wfdisc"}) {
    ASSERT_EQ(wait_binary(start_binary(dir.path(), {header, "out.gse"})), 0);
    blocks.push_back(dir.read("out.gse"));
  }
  for (int round = 0; round < 25; ++round) {
    std::vector<pid_t> runs;
    for (int i = 0; i < 16; ++i) {
      runs.push_back(start_binary(dir.path(), {i % 2 ? "short.wfdisc" : "long.wfdisc", "out.gse"}));
    }
    for (pid_t pid : runs) EXPECT_EQ(wait_binary(pid), 0);
    std::string result = dir.read("out.gse");
    ASSERT_TRUE(result == blocks[0] || result == blocks[1]) << "round " << round;
    ASSERT_FALSE(has_temporary_file(dir.path()));
  }
}

TEST(Batch, ReaderOfStandardOutputGoneIsNoFailure) {
  TempDir dir;
  dir.write("hdr.wfdisc", Header().line());
  dir.write("abc.w", sample_bytes({1, 2, 3}));
  int pipe_ends[2];
  ASSERT_EQ(::pipe(pipe_ends), 0);
  ::close(pipe_ends[0]);
  pid_t pid = start_binary(dir.path(), {"hdr.wfdisc", "out.gse"}, pipe_ends[1]);
  ::close(pipe_ends[1]);
  EXPECT_EQ(wait_binary(pid), 0);
  EXPECT_EQ(dir.read("out.gse").substr(0, 4), "WID1");
}

}  // namespace
}  // namespace wavconv::testing
