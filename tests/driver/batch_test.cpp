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

// A large conversion in `dir` (hdr.wfdisc, 10 million zero samples, 82 MB of text).
void write_large_segment(const TempDir& dir) {
  dir.write("hdr.wfdisc", Header().line());
  dir.write("abc.w", "");
  fs::resize_file(dir.file("abc.w"), 40'000'000);
}

// The run ends by the signal itself, so that a shell or xargs sees an interruption.
TEST(Batch, TerminatedRunEndsByItsSignalLeavingTheOldFileAndNoTemporary) {
  TempDir dir;
  write_large_segment(dir);
  dir.write("out.gse", "WID1 keep");
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(signal);
    pid_t pid = start_binary(dir.path(), {"hdr.wfdisc", "out.gse"});
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!has_temporary_file(dir.path()) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ASSERT_TRUE(has_temporary_file(dir.path()));
    ::kill(pid, signal);
    EXPECT_EQ(wait_binary(pid), 128 + signal);
    EXPECT_FALSE(has_temporary_file(dir.path()));
    EXPECT_EQ(dir.read("out.gse"), "WID1 keep");
  }
}

// From a shell: SIGTERM gives 143; a job started with SIGINT ignored (a script's "&") keeps
// ignoring it and converts.
TEST(Batch, ShellSeesTheSignalAndIgnoredSignalsStayIgnored) {
  TempDir dir;
  write_large_segment(dir);
  const std::string wait_for_temporary =
      "while ! ls -a | grep -q '^\\.out\\.gse\\..*\\.tmp$'; do :; done; ";
  RunResult killed =
      run_shell(dir.path(), "\"$W\" hdr.wfdisc out.gse & p=$!; " + wait_for_temporary +
                                "kill -TERM $p; wait $p; echo $?");
  EXPECT_EQ(killed.out, "143\n");
  EXPECT_FALSE(fs::exists(dir.file("out.gse")));
  RunResult ignored =
      run_shell(dir.path(), "trap '' INT; \"$W\" hdr.wfdisc out.gse & p=$!; " + wait_for_temporary +
                                "kill -INT $p; wait $p; echo $?");
  EXPECT_EQ(ignored.out, " \r\n0\n");
  EXPECT_EQ(fs::file_size(dir.file("out.gse")), 82'000'410u);
  EXPECT_FALSE(has_temporary_file(dir.path()));
}

// Closed standard descriptors are never given to an output file: the file is the same as with
// them open, whichever are closed. The run prints on both (one record refused, one converted).
TEST(Batch, ClosedStandardDescriptorsKeepConsoleTextOutOfTheOutput) {
  TempDir dir;
  Header missing;
  missing.dfile = "missing.w";
  dir.write("hdr.wfdisc", missing.line() + "\n" + Header().line() + "\n");
  dir.write("abc.w", sample_bytes({1, 2, 3}));
  RunResult reference = run_shell(dir.path(), "\"$W\" /R /F hdr.wfdisc ref.gse");
  ASSERT_EQ(reference.status, 1);
  ASSERT_NE(reference.err, "");
  for (const char* closing : {"<&-", ">&-", "2>&-", "<&- >&- 2>&-"}) {
    SCOPED_TRACE(closing);
    RunResult result =
        run_shell(dir.path(), std::string("\"$W\" /R /F hdr.wfdisc out.gse ") + closing);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(dir.read("out.gse"), dir.read("ref.gse"));
  }
}

// /dev/stdout is written through the descriptor as it is: appended to, or into a pipe.
TEST(Batch, StandardOutputAsTheOutputAppendsOrPipes) {
  TempDir dir;
  dir.write("hdr.wfdisc", Header().line());
  dir.write("abc.w", sample_bytes({1, 2, 3}));
  ASSERT_EQ(run_shell(dir.path(), "\"$W\" hdr.wfdisc one.gse").status, 0);
  std::string block = dir.read("one.gse") + " \r\n";
  dir.write("log.gse", "WID1 earlier\r\n");
  RunResult appended = run_shell(dir.path(),
                                 "\"$W\" -- hdr.wfdisc /dev/stdout >> log.gse && "
                                 "\"$W\" -- hdr.wfdisc /dev/stdout >> log.gse");
  EXPECT_EQ(appended.status, 0);
  EXPECT_EQ(dir.read("log.gse"), "WID1 earlier\r\n" + block + block);
  RunResult piped = run_shell(dir.path(), "\"$W\" -- hdr.wfdisc /dev/stdout | cat");
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.out, block);
}

// The link rule run as two users without special rights: a link that one of them planted in
// a shared sticky folder is not followed for the other, and is for its owner.
TEST(Batch, PlantedLinkInASharedFolderIsNotFollowed) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run as two users";
  constexpr int kAttacker = 61001, kVictim = 61002;
  TempDir dir;
  fs::permissions(dir.path(), fs::perms::all | fs::perms::sticky_bit);
  dir.write("hdr.wfdisc", Header().line());
  dir.write("abc.w", sample_bytes({1, 2, 3}));
  dir.write("precious.gse", "WID1 precious");
  ASSERT_EQ(::chown(dir.file("precious.gse").c_str(), kVictim, kVictim), 0);
  fs::create_symlink("precious.gse", dir.file("out.gse"));
  ASSERT_EQ(::lchown(dir.file("out.gse").c_str(), kAttacker, kAttacker), 0);
  RunResult victim = run_binary(dir.path(), {"hdr.wfdisc", "out.gse"}, {.user = kVictim});
  EXPECT_EQ(victim.status, 1);
  EXPECT_EQ(victim.out, " Error opening output GSE file\r\n");
  EXPECT_EQ(victim.err,
            "wavconv: out.gse: link in a shared folder owned by another user, not followed\n");
  EXPECT_EQ(dir.read("precious.gse"), "WID1 precious");
  ASSERT_EQ(::chown(dir.file("precious.gse").c_str(), kAttacker, kAttacker), 0);
  RunResult owner = run_binary(dir.path(), {"hdr.wfdisc", "out.gse"}, {.user = kAttacker});
  EXPECT_EQ(owner.status, 0);
  EXPECT_EQ(dir.read("precious.gse").substr(0, 4), "WID1");
  EXPECT_NE(dir.read("precious.gse"), "WID1 precious");
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
