// How runs behave in a batch: killed, run side by side onto one name, or read by a reader that
// goes away. Each case starts the built program itself.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "test_support.h"

namespace wavconv::testing {
namespace {

namespace fs = std::filesystem;

int temporary_files(const fs::path& dir) {
  int count = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    std::string name = entry.path().filename().string();
    count += name[0] == '.' && name.size() > 4 && name.substr(name.size() - 4) == ".tmp";
  }
  return count;
}

bool has_temporary_file(const fs::path& dir) { return temporary_files(dir) > 0; }

// A large conversion in `dir` (hdr.wfdisc, 10 million zero samples, 82 MB of text).
void write_large_segment(const TempDir& dir) {
  dir.write("hdr.wfdisc", Header().line());
  dir.write("abc.w", "");
  fs::resize_file(dir.file("abc.w"), 40'000'000);
}

// `count` headers h<first>.wfdisc, h<first + 1>.wfdisc, ... in `dir`, each naming one sparse
// sample file big.w of `bytes` zero bytes; their names appended to `args`.
void write_headers_of_one_file(const TempDir& dir, std::vector<std::string>& args, int count,
                               int first, std::uintmax_t bytes) {
  Header header;
  header.dfile = "big.w";
  for (int i = first; i < first + count; ++i) {
    std::string name = std::string("h").append(std::to_string(i)).append(".wfdisc");
    dir.write(name, header.line());
    args.push_back(name);
  }
  dir.write("big.w", "");
  fs::resize_file(dir.file("big.w"), bytes);
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
      "while kill -0 $p 2>/dev/null && ! ls -a | grep -q '^\\.out\\.gse\\..*\\.tmp$'; do :; done; ";
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
// them open, whichever are closed. While the one output is open the run prints on both: a
// rounded float record's line, then a refused record's system error.
TEST(Batch, ClosedStandardDescriptorsKeepConsoleTextOutOfTheOutput) {
  TempDir dir;
  Header floats, missing;
  floats.datatype = "f4";
  floats.dfile = "f.w";
  missing.dfile = "missing.w";
  dir.write("hdr.wfdisc", floats.line() + "\n" + missing.line() + "\n" + Header().line() + "\n");
  dir.write("f.w", std::string("\0\0\x20\x40\0\0\x80\x3f", 8));  // 2.5, 1.0
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

// /dev/stdout is written through the descriptor as it is: appended to, or into a pipe. The
// stream holds only the file; the console lines go to standard error ("-" names it too).
TEST(Batch, StandardOutputAsTheOutputAppendsOrPipes) {
  TempDir dir;
  dir.write("hdr.wfdisc", Header().line());
  dir.write("abc.w", sample_bytes({1, 2, 3}));
  ASSERT_EQ(run_shell(dir.path(), "\"$W\" hdr.wfdisc one.gse").status, 0);
  std::string block = dir.read("one.gse");
  dir.write("log.gse", "WID1 earlier\r\n");
  RunResult appended = run_shell(dir.path(),
                                 "\"$W\" -- hdr.wfdisc /dev/stdout >> log.gse && "
                                 "\"$W\" -- hdr.wfdisc /dev/stdout >> log.gse");
  EXPECT_EQ(appended.status, 0);
  EXPECT_EQ(dir.read("log.gse"), "WID1 earlier\r\n" + block + block);
  EXPECT_EQ(appended.err, " \r\n \r\n");
  ASSERT_EQ(run_shell(dir.path(), "\"$W\" /R /Tcm6 hdr.wfdisc cm6.gse").status, 0);
  struct Case {
    const char* script;
    std::string file;
  } cases[] = {
      {"\"$W\" -- hdr.wfdisc /dev/stdout | cat", block},
      {"\"$W\" hdr.wfdisc - /Ogse/ | cat", block},
      {"\"$W\" /Tcm6 /R -- hdr.wfdisc /dev/fd/1 | cat", dir.read("cm6.gse")},
      {"\"$W\" /Tcm6 /R hdr.wfdisc - | cat", dir.read("cm6.gse")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    RunResult piped = run_shell(dir.path(), c.script);
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.out, c.file);
    EXPECT_EQ(piped.err, " \r\n");
  }
  EXPECT_FALSE(fs::exists(dir.file("-")));
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
  // A planted link to a folder, anywhere on the output's path, is judged the same way.
  fs::create_directory(dir.file("victim"));
  ASSERT_EQ(::chown(dir.file("victim").c_str(), kVictim, kVictim), 0);
  fs::create_symlink("victim", dir.file("d"));
  ASSERT_EQ(::lchown(dir.file("d").c_str(), kAttacker, kAttacker), 0);
  for (const char* output : {"d/out.gse", "./d/../d/out.gse"}) {
    SCOPED_TRACE(output);
    RunResult through = run_binary(dir.path(), {"hdr.wfdisc", output}, {.user = kVictim});
    EXPECT_EQ(through.status, 1);
    EXPECT_EQ(through.err, std::string("wavconv: ") + output +
                               ": link in a shared folder owned by another user, not followed\n");
    EXPECT_FALSE(fs::exists(dir.file("victim/out.gse")));
  }
  RunResult attacker = run_binary(dir.path(), {"hdr.wfdisc", "d/out.gse"}, {.user = kAttacker});
  EXPECT_NE(attacker.status, 0);  // its own link, but no right to write in the folder
  fs::permissions(dir.file("victim"), fs::perms::all);
  RunResult followed = run_binary(dir.path(), {"hdr.wfdisc", "d/out.gse"}, {.user = kAttacker});
  EXPECT_EQ(followed.status, 0);
  EXPECT_EQ(dir.read("victim/out.gse").substr(0, 4), "WID1");
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

namespace wavconv::testing {
namespace {

// Standard error with the amount and time of the summary line left out.
std::string without_amounts(std::string text) {
  std::size_t at = text.find(" MB in ");
  if (at == std::string::npos) return text;
  std::size_t begin = text.rfind("; ", at) + 2, end = text.find(" s\n", at) + 2;
  return text.replace(begin, end - begin, "# MB in # s");
}

// /M: what each header says comes out in the order of the names whatever the threads do; a
// header whose output an earlier one wrote is refused; the outputs are those of separate runs.
TEST(ManyHeaders, MessagesInTheOrderOfTheNamesAndCollisionsRefused) {
  TempDir dir;
  std::vector<std::string> names;
  std::string expected_err;
  int failures = 0;
  for (int i = 0; i < 40; ++i) {
    std::string name = "h" + std::to_string(i) + ".wfdisc";
    // Headers 12, 25 and 38 name sub/s0.w, whose output name is header 0's: they are refused
    // even though header 0, with far more samples, finishes after them.
    Header header;
    header.dfile = i % 7 == 3     ? "missing.w"
                   : i % 13 == 12 ? "sub/s0.w"
                                  : "s" + std::to_string(i) + ".w";
    dir.write(name, header.line());
    dir.write("s" + std::to_string(i) + ".w",
              sample_bytes(std::vector<int>(i == 0 ? 1'000'000 : 100 + i, i)));
    names.push_back(name);
    if (i % 7 == 3) {
      expected_err += "wavconv: " + name +
                      ": missing.w: No such file or directory\n"
                      "wavconv: " +
                      name +
                      ": run-time error F6416: OPEN(missing.w)\n"
                      "wavconv: " +
                      name +
                      ": - sample file cannot be opened: No such file or "
                      "directory\n";
      ++failures;
    } else if (i % 13 == 12) {
      expected_err += "wavconv: " + name +
                      ": s0_043.gse: written by an earlier header, not "
                      "replaced\nwavconv: " +
                      name + ": Error opening output GSE file\n";
      ++failures;
    }
  }
  expected_err += "wavconv: " + std::to_string(40 - failures) + " of 40 headers converted, " +
                  std::to_string(failures) + " refused; # MB in # s\n";
  dir.write("sub/s0.w", sample_bytes({1, 2, 3}));
  std::vector<std::string> args = {"/M", "/P4", "--"};
  args.insert(args.end(), names.begin(), names.end());
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE(round);
    for (const auto& entry : fs::directory_iterator(dir.path())) {
      if (entry.path().extension() == ".gse") fs::remove(entry.path());
    }
    RunResult result = run_binary(dir.path(), args);
    ASSERT_EQ(result.status, 1);
    EXPECT_EQ(result.out,
              " Error: " + std::to_string(failures) + " of 40 headers not converted\r\n");
    EXPECT_EQ(without_amounts(result.err), expected_err);
  }
  // Each output is what a run of its header alone writes.
  TempDir alone;
  Header h1;
  h1.dfile = "s1.w";
  alone.write("h1.wfdisc", h1.line());
  alone.write("s1.w", sample_bytes(std::vector<int>(101, 1)));
  ASSERT_EQ(run_binary(alone.path(), {"h1.wfdisc"}).status, 0);
  EXPECT_EQ(dir.read("s1_043.gse"), alone.read("s1_043.gse"));
}

// A signal during /M ends the run by it, says after which header, and leaves no temporary.
TEST(ManyHeaders, InterruptedRunSaysWhereItStopped) {
  TempDir dir;
  std::vector<std::string> args = {"/M", "/P1", "--"};
  write_headers_of_one_file(dir, args, 6, 0, 40'000'000);
  TempDir capture;
  int err_fd = ::open(capture.file("err").c_str(), O_WRONLY | O_CREAT, 0644);
  pid_t pid = start_binary(dir.path(), args, -1, err_fd);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!has_temporary_file(dir.path()) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  ::kill(pid, SIGTERM);
  EXPECT_EQ(wait_binary(pid), 128 + SIGTERM);
  ::close(err_fd);
  EXPECT_FALSE(has_temporary_file(dir.path()));
  EXPECT_EQ(capture.read("err").rfind("wavconv: interrupted after header ", 0), 0u)
      << capture.read("err");
}

// The progress line is drawn only on a terminal; the summary line ends every run of many.
TEST(ManyHeaders, ProgressOnlyOnATerminalAndTheSummary) {
  TempDir dir;
  dir.write("hdr.wfdisc", Header().line() + "\n" + Header().line() + "\n");
  dir.write("abc.w", sample_bytes({1, 2, 3}));
  int controller = -1, terminal = -1;
  ASSERT_EQ(::openpty(&controller, &terminal, nullptr, nullptr, nullptr), 0);
  pid_t pid = start_binary(dir.path(), {"/R", "/Oout/", "hdr.wfdisc"}, -1, terminal);
  ::close(terminal);
  std::string seen;
  char buffer[4096];
  for (ssize_t got; (got = ::read(controller, buffer, sizeof buffer)) > 0;)
    seen.append(buffer, got);
  ::close(controller);
  EXPECT_EQ(wait_binary(pid), 1);  // out/ does not exist
  fs::create_directory(dir.file("out"));
  ASSERT_EQ(::openpty(&controller, &terminal, nullptr, nullptr, nullptr), 0);
  pid = start_binary(dir.path(), {"/R", "/Oout/", "hdr.wfdisc"}, -1, terminal);
  ::close(terminal);
  seen.clear();
  for (ssize_t got; (got = ::read(controller, buffer, sizeof buffer)) > 0;)
    seen.append(buffer, got);
  ::close(controller);
  EXPECT_EQ(wait_binary(pid), 1);  // the second record has the first one's name
  EXPECT_NE(seen.find("\r1/2 records, "), std::string::npos) << seen;
  EXPECT_NE(seen.find("1 of 2 records converted, 1 refused; "), std::string::npos) << seen;
  RunResult piped = run_binary(dir.path(), {"/R", "/Oout/", "hdr.wfdisc"});
  EXPECT_EQ(piped.err.find('\r'), std::string::npos);
  EXPECT_EQ(without_amounts(piped.err),
            "wavconv: 1 of 2 records converted, 1 refused; # MB in # s\n");
}

}  // namespace
}  // namespace wavconv::testing

namespace wavconv::testing {
namespace {

// The summary counts records under /R and the megabytes of the outputs kept (not those of a
// header refused after writing); in a log of both streams every line stands on its own.
TEST(ManyHeaders, SummaryOfRecordsAndOfWhatWasKept) {
  TempDir dir;
  Header other;
  other.sta = "XYZ";
  dir.write("a.wfdisc", Header().line() + "\n" + Header().line() + "\n");
  dir.write("b.wfdisc", Header().line());
  dir.write("c.wfdisc", other.line() + "\n" + other.line() + "\n" + other.line() + "\n");
  dir.write("abc.w", sample_bytes(std::vector<int>(100'000, 1)));
  // a and c: each later record has the first one's name; b: its one record's name is a's, taken
  // by an earlier header after b wrote it (which stops b).
  RunResult records =
      run_binary(dir.path(), {"/M", "/R", "--", "a.wfdisc", "b.wfdisc", "c.wfdisc"});
  EXPECT_EQ(records.status, 1);
  EXPECT_NE(records.err.find("wavconv: 2 of 6 records converted, 4 refused; 1.6 MB in "),
            std::string::npos)
      << records.err;
  // Both headers write abc_043.gse (820 kB); the second is refused after writing it.
  RunResult kept = run_binary(dir.path(), {"/M", "--", "a.wfdisc", "b.wfdisc"});
  EXPECT_EQ(kept.status, 1);
  EXPECT_NE(kept.err.find("wavconv: 1 of 2 headers converted, 1 refused; 0.8 MB in "),
            std::string::npos)
      << kept.err;
  RunResult log = run_shell(dir.path(), "\"$W\" /R /Tcm6 a.wfdisc > log 2>&1; cat log");
  EXPECT_NE(log.out.find("this run\r\nwavconv: 1 of 2 records converted"), std::string::npos)
      << log.out;
}

}  // namespace
}  // namespace wavconv::testing

namespace wavconv::testing {
namespace {

// /M with fewer threads than asked for (a user's process limit, a container's pids.max): the run
// goes on with those it could start, or in its own thread, says so once, and converts every
// header as before.
TEST(ManyHeaders, ThreadsThatCannotStartLeaveTheRunWithThoseThatCould) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run as a user with a process limit";
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the leak checker needs a thread of its own at the end";
#endif
  TempDir dir;
  std::vector<std::string> args = {"/M", "/P8", "--"};
  for (int i = 0; i < 5; ++i) {
    Header header;
    header.dfile = std::string("s").append(std::to_string(i)).append(".w");
    std::string name = std::string("h").append(std::to_string(i)).append(".wfdisc");
    dir.write(name, header.line());
    dir.write(header.dfile, sample_bytes({i, 2, 3}));
    args.push_back(name);
  }
  struct Case {
    long limit;
    std::string note;
  } cases[] = {
      {1,
       "wavconv: started 0 of 5 threads (Resource temporarily unavailable); converting with "
       "this one\n"},
      // One more may start when a worker that finished all the work has ended.
      {2, "wavconv: started "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.limit);
    // A user of its own: the limit counts every process of the user, other tests' too.
    constexpr int kLimitedUser = 61003;
    ASSERT_EQ(::chown(dir.path().c_str(), kLimitedUser, kLimitedUser), 0);
    RunOptions options;
    options.user = kLimitedUser;
    options.process_limit = c.limit;
    RunResult result = run_binary(dir.path(), args, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, " \r\n");
    EXPECT_EQ(result.err.substr(0, c.note.size()), c.note);
    EXPECT_NE(result.err.find("threads (Resource temporarily unavailable); converting with "),
              std::string::npos);
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 2);  // and the summary
    for (int i = 0; i < 5; ++i) {
      std::string output = std::string("s").append(std::to_string(i)).append("_043.gse");
      EXPECT_EQ(dir.read(output).substr(0, 4), "WID1");
      fs::remove(dir.file(output));
    }
  }
}

}  // namespace
}  // namespace wavconv::testing

namespace wavconv::testing {
namespace {

// SIGTERM while many threads of /P200 (64, the most) write temporary files: the handler knows
// each of them, and none is left.
TEST(ManyHeaders, TerminatedWithManyThreadsWritingLeavesNoTemporary) {
  TempDir dir;
  std::vector<std::string> args = {"/M", "/P200", "--"};
  write_headers_of_one_file(dir, args, 400, 1000, 800'000);  // 1.6 MB blocks
  // Run whole, at most 64 threads (and temporary files) at a time, far fewer than the handler
  // knows.
  pid_t whole = start_binary(dir.path(), args);
  int most = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (::waitpid(whole, nullptr, WNOHANG) == 0) {
    most = std::max(most, temporary_files(dir.path()));
    if (std::chrono::steady_clock::now() > deadline) ::kill(whole, SIGKILL);
  }
  EXPECT_LE(most, 64);
  fs::remove(dir.file("big_043.gse"));
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    pid_t pid = start_binary(dir.path(), args);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int most = 0;
    while (most < 8 && std::chrono::steady_clock::now() < deadline) {
      most = std::max(most, temporary_files(dir.path()));
    }
    ::kill(pid, SIGTERM);
    EXPECT_EQ(wait_binary(pid), 128 + SIGTERM) << most << " temporary files seen";
    EXPECT_EQ(temporary_files(dir.path()), 0);
    fs::remove(dir.file("big_043.gse"));
  }
}

}  // namespace
}  // namespace wavconv::testing

namespace wavconv::testing {
namespace {

// /R with several threads writes the files, messages and status of one thread, byte for byte:
// per-record files (a later record of a name taken is refused, in record order), one output,
// a listing; big-endian, gzipped and float records; more records than a batch holds.
TEST(RecordThreads, SameBytesAsOneThread) {
  TempDir dir;
  const fs::path archive = fs::path(WAVCONV_SOURCE_DIR) / "examples" / "archive";
  for (const char* name : {"three.w", "quiet.w.gz", "float.w"}) {
    fs::copy_file(archive / name, dir.path() / name);
  }
  // Three records (of 283 characters and a line end) of one sample file many times (each
  // batch holds some of one name), then
  // every record of the archive.
  const std::string lines = read_file(archive / "archive.wfdisc");
  std::string header;
  for (int i = 0; i < 50; ++i) header += lines.substr(0, 3 * 284);
  header += lines;
  dir.write("hdr.wfdisc", header);
  // What is in the output folder before the run.
  struct Case {
    std::vector<std::string> args;
    std::map<std::string, std::string> files;  // a name ending in "/" is a folder
    std::string said;                          // in what one thread writes on either stream
  } cases[] = {
      {{"/R", "/F", "/Oout/", "hdr.wfdisc"}, {}, "was written by this run"},
      {{"/R", "/S", "/Tcm6", "hdr.wfdisc", "out/all.gse"}, {}, "scaled by"},
      {{"/R", "/Q", "/Tims", "/Oout/", "hdr.wfdisc"}, {}, "was written by this run"},
      // Every record of a name that an existing file, not GSE, holds is refused for that (not
      // as written by this run, though an earlier record of the batch took its turn first).
      {{"/R", "/F", "/Oout/", "hdr.wfdisc"},
       {{"WVC01_HHN_2001043_030709.gse", "notes"}},
       "Record 5 (WVC01 HHN): output out/WVC01_HHN_2001043_030709.gse: not a GSE file"},
      // A record whose file cannot be created ends the run where one thread ends it: the
      // records before it in place, none after it.
      {{"/R", "/F", "/Oout/", "hdr.wfdisc"},
       {{"WVC01_HHE_2001043_030709.gse/", ""}},
       "WVC01_HHE_2001043_030709.gse: Is a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1] + " " + c.args[2] + " " + std::to_string(c.files.size()));
    std::map<std::string, std::string> files[2];
    RunResult results[2];
    for (int i = 0; i < 2; ++i) {
      fs::remove_all(dir.file("out"));
      fs::create_directory(dir.file("out"));
      for (const auto& [name, text] : c.files) {
        if (name.back() == '/') {
          fs::create_directory(dir.file("out/" + name));
        } else {
          dir.write("out/" + name, text);
        }
      }
      std::vector<std::string> args = c.args;
      args.insert(args.begin(), i == 0 ? "/P1" : "/P4");
      results[i] = run_binary(dir.path(), args);
      files[i] = snapshot(dir.file("out"));
    }
    EXPECT_EQ(results[1].status, results[0].status);
    EXPECT_EQ(results[1].out, results[0].out);
    EXPECT_EQ(without_amounts(results[1].err), without_amounts(results[0].err));
    EXPECT_EQ(files[1], files[0]);
    EXPECT_NE((results[0].out + results[0].err).find(c.said), std::string::npos)
        << results[0].out << results[0].err;
  }
}

}  // namespace
}  // namespace wavconv::testing

namespace wavconv::testing {
namespace {

// A run ended by SIGTERM dies by that signal, as a batch tool sees it: xargs stops, 125 (a run
// that exited 143 instead would let it go on, 123).
TEST(Batch, XargsSeesTheSignal) {
  TempDir dir;
  ASSERT_EQ(::mkfifo(dir.file("f.wfdisc").c_str(), 0600), 0);
  RunResult result = run_shell(
      dir.path(),
      "exec 3<>f.wfdisc; "  // a writer that never writes: the run waits for its header
      "printf 'f.wfdisc\\n' | xargs -n1 sh -c 'echo $$ > pid; exec \"$W\" \"$0\" out.gse' & x=$!; "
      "n=0; while [ ! -s pid ] && [ $n -lt 2000 ]; do sleep 0.01; n=$((n+1)); done; sleep 0.2; "
      "kill -TERM $(cat pid); wait $x; echo $?");
  EXPECT_EQ(result.out, "125\n");
}

// An existing output is replaced only after the new file's data is on the disk.
TEST(Batch, ReplacedOutputFlushedBeforeItTakesTheName) {
  if (::system("strace -V > /dev/null 2>&1") != 0) GTEST_SKIP() << "no strace here";
  TempDir dir;
  dir.write("hdr.wfdisc", Header().line());
  dir.write("abc.w", sample_bytes({1, 2, 3}));
  dir.write("out.gse", "WID1 old");
  RunResult result = run_shell(dir.path(),
                               // (the leak checker of a sanitizer build cannot run traced)
                               "ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" "
                               "strace -f -e trace=fdatasync,rename,renameat,renameat2 -o calls "
                               "\"$W\" hdr.wfdisc out.gse && cat calls");
  ASSERT_EQ(result.status, 0) << result.err;
  std::size_t flushed = result.out.find("fdatasync(");
  std::size_t renamed = result.out.find("rename");
  EXPECT_NE(flushed, std::string::npos) << result.out;
  EXPECT_NE(renamed, std::string::npos) << result.out;
  EXPECT_LT(flushed, renamed) << result.out;
}

}  // namespace
}  // namespace wavconv::testing

namespace wavconv::testing {
namespace {

// A header that reads what an earlier header of the run writes is refused, and so is an output
// that would replace what an earlier header read: the same verdicts whatever the threads do.
TEST(ManyHeaders, OutputsAndInputsOfOtherHeadersKeptApart) {
  TempDir dir;
  Header reads_output;
  reads_output.dfile = "abc_043.gse";  // the output of a.wfdisc
  dir.write("a.wfdisc", Header().line());
  dir.write("b.wfdisc", reads_output.line());
  dir.write("abc.w", sample_bytes({1, 2, 3}));
  const std::string old_output;  // an earlier run's (empty) output, read as samples by b
  struct Case {
    std::vector<std::string> names;
    std::string err;
  } cases[] = {
      {{"a.wfdisc", "b.wfdisc"},
       "wavconv: b.wfdisc: abc_043_043.gse: not written: this header reads the output of an "
       "earlier header\nwavconv: b.wfdisc: Error opening output GSE file\n"},
      {{"b.wfdisc", "a.wfdisc"},
       "wavconv: a.wfdisc: abc_043.gse: an input of an earlier header, not replaced\n"
       "wavconv: a.wfdisc: Error opening output GSE file\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.names[0]);
    for (int round = 0; round < 8; ++round) {
      dir.write("abc_043.gse", old_output);
      fs::remove(dir.file("abc_043_043.gse"));
      std::vector<std::string> args = {"/M", "/P2", "--"};
      args.insert(args.end(), c.names.begin(), c.names.end());
      RunResult result = run_binary(dir.path(), args);
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(without_amounts(result.err),
                c.err + "wavconv: 1 of 2 headers converted, 1 refused; # MB in # s\n");
      // What the refused header would have written is not there; the other's is.
      const bool b_first = c.names[0] == "b.wfdisc";
      EXPECT_EQ(fs::exists(dir.file("abc_043_043.gse")), b_first);
      EXPECT_EQ(dir.read("abc_043.gse") == old_output, b_first);
    }
  }
}

}  // namespace
}  // namespace wavconv::testing
