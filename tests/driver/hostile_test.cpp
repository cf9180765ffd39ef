// Hostile inputs, one row each: what the run must print, its exit status, and that it leaves
// every existing file as it was and creates nothing but the named output.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <map>

#include "test_support.h"

namespace wavconv::testing {
namespace {

namespace fs = std::filesystem;

const std::string kDone = " \r\n";
const std::string kHeaderOpen =
    "Error opening CSS-header of input file\r\nStop - Program terminated.\r\n\r\n";
const std::string kHeaderRead =
    "Error reading CSS-header of input file\r\nStop - Program terminated.\r\n\r\n";
const std::string kOpenOutput = " Error opening output GSE file\r\n";
const std::string kWriteOutput = " Error writing output GSE file\r\n";

std::string fatal_open(const std::string& unit) {
  return "\r\nrun-time error F6416: OPEN(" + unit + ")\r\n- ";
}
const std::string kFatalRead = "\r\nrun-time error F6502: READ(internal)\r\n- ";
const std::string kFatalMath = "\r\nrun-time error M";

struct Row {
  const char* name;
  std::function<void(const TempDir&)> setup;
  std::vector<std::string> args;
  std::string out;       // standard output, exactly
  std::string err_head;  // how standard error begins; empty: nothing on it
  int status;
  std::vector<std::string> created;  // files the run creates or replaces
  bool needs_permissions = false;    // meaningless for root, who reads and writes anything
};

void make_inputs(const TempDir& dir, const Header& h, const std::vector<int>& samples) {
  dir.write("hdr.wfdisc", h.line() + "\n");
  dir.write(h.dfile.substr(0, h.dfile.find_first_of(std::string(" \0", 2))),
            sample_bytes(samples));
}

void standard(const TempDir& dir) { make_inputs(dir, Header(), {1, -2, 3}); }

template <typename F>
std::function<void(const TempDir&)> with_header(F change) {
  return [change](const TempDir& dir) {
    Header h;
    change(h);
    make_inputs(dir, h, {1, -2, 3});
  };
}

// The standard inputs with `text` written over the header from column `first` (from 1).
std::function<void(const TempDir&)> with_columns(std::size_t first, std::string text) {
  return [first, text](const TempDir& dir) {
    standard(dir);
    std::string line = Header().line();
    dir.write("hdr.wfdisc", line.replace(first - 1, text.size(), text));
  };
}

std::map<std::string, std::string> snapshot(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    std::error_code error;
    if (it->is_symlink()) {
      files[it->path().filename().string()] = "-> " + fs::read_symlink(it->path()).string();
    } else if (it->is_regular_file(error) && it->file_size() < 1000000) {
      files[fs::relative(it->path(), root).string()] = read_file(it->path());
    } else if (it->is_regular_file(error)) {
      files[fs::relative(it->path(), root).string()] = std::to_string(it->file_size());
    }
  }
  return files;
}

const std::vector<Row>& rows() {
  static const std::vector<Row> table = {
      {"header missing", [](const TempDir&) {}, {"hdr.wfdisc"}, kHeaderOpen, "", 1, {}},
      {"header is a directory", [](const TempDir& d) { fs::create_directory(d.file("hdr.wfdisc")); },
       {"hdr.wfdisc"}, kHeaderOpen, "", 1, {}},
      {"header unreadable",
       [](const TempDir& d) {
         standard(d);
         fs::permissions(d.file("hdr.wfdisc"), fs::perms::none);
       },
       {"hdr.wfdisc"}, kHeaderOpen, "", 1, {}, true},
      {"header empty", [](const TempDir& d) { d.write("hdr.wfdisc", ""); }, {"hdr.wfdisc"},
       kHeaderRead, "", 1, {}},
      {"header binary garbage",
       [](const TempDir& d) { d.write("hdr.wfdisc", std::string("\x7f\x01\xfe\x80ZZ\0\0", 8) +
                                                        std::string(400, '\x9c')); },
       {"hdr.wfdisc"}, kHeaderRead, "", 1, {}},
      {"header one 10 MB line",
       [](const TempDir& d) {
         standard(d);
         d.write("hdr.wfdisc", Header().line() + std::string(10 << 20, 'x'));
       },
       {"hdr.wfdisc"}, kDone, "", 0, {"abc_043.gse"}},
      {"header with NUL bytes in dfile",
       [](const TempDir& d) {
         std::string line = Header().line();
         line[215] = '\0';  // dfile "ab" NUL ".w"
         d.write("hdr.wfdisc", line);
         d.write("ab", sample_bytes({4, 5}));
       },
       {"hdr.wfdisc"}, kDone, "", 0, {"ab_043.gse"}},
      {"header with CR-only line ends",
       [](const TempDir& d) {
         standard(d);
         d.write("hdr.wfdisc", Header().line() + "\r" + Header().line() + "\r");
       },
       {"hdr.wfdisc"}, kDone, "", 0, {"abc_043.gse"}},
      {"dfile with shell metacharacters",
       with_header([](Header& h) { h.dfile = "a;b|c$(touch_x)`id`&.w"; }), {"hdr.wfdisc"}, kDone,
       "", 0, {"a;b|c$(touch_x)`id`&_043.gse"}},
      {"dir with shell metacharacters",
       with_header([](Header& h) { h.dir = "$(mkdir_x);|&`id`/"; }), {"hdr.wfdisc"}, "",
       fatal_open("$(mkdir_x);|&`id`/abc.w"), 1, {}},
      {"sample file missing", [](const TempDir& d) { d.write("hdr.wfdisc", Header().line()); },
       {"hdr.wfdisc"}, "", fatal_open("abc.w"), 1, {}},
      {"sample file is a directory",
       [](const TempDir& d) {
         d.write("hdr.wfdisc", Header().line());
         fs::create_directory(d.file("abc.w"));
       },
       {"hdr.wfdisc"}, "", fatal_open("abc.w"), 1, {}},
      {"sample file unreadable",
       [](const TempDir& d) {
         standard(d);
         fs::permissions(d.file("abc.w"), fs::perms::none);
       },
       {"hdr.wfdisc"}, "", fatal_open("abc.w"), 1, {}, true},
      {"sample file missing and samprate 0",
       [](const TempDir& d) {
         Header h;
         h.samprate = 0;
         d.write("hdr.wfdisc", h.line());
       },
       {"hdr.wfdisc"}, "", fatal_open("abc.w"), 1, {}},
      {"sample file empty", [](const TempDir& d) { make_inputs(d, Header(), {}); }, {"hdr.wfdisc"},
       kDone, "", 0, {"abc_043.gse"}},
      {"sample file of 3 bytes",
       [](const TempDir& d) {
         standard(d);
         d.write("abc.w", "abc");
       },
       {"hdr.wfdisc"}, kDone, "", 0, {"abc_043.gse"}},
      {"sample file huge and sparse",
       [](const TempDir& d) {
         standard(d);
         fs::resize_file(d.file("abc.w"), 400'000'000);
       },
       {"hdr.wfdisc"}, " Sample file too large for one GSE block\r\n", "", 1, {}},
      {"option value not a number", standard, {"hdr.wfdisc", "/Jabc"}, "", kFatalRead, 1, {}},
      {"option values overlong and beyond 32 bits", standard,
       {"hdr.wfdisc", "/J99999999999", "/L2147483648"}, kDone, "", 0, {"abc_043.gse"}},
      {"option values negative", standard, {"hdr.wfdisc", "/J-5", "/L-5"}, kDone, "", 0,
       {"abc_043.gse"}},
      {"name with a blank", standard, {"hdr.wfdisc trailing", "out put.gse"}, kDone, "", 0,
       {"out"}},
      {"empty header name", standard, {""}, kHeaderOpen, "", 1, {}},
      {"output into a missing directory", standard, {"hdr.wfdisc", "/Onone/"}, kOpenOutput, "", 1,
       {}},
      {"output onto a directory",
       [](const TempDir& d) {
         standard(d);
         fs::create_directory(d.file("out.gse"));
       },
       {"hdr.wfdisc", "out.gse"}, kOpenOutput, "", 1, {}},
      {"output onto the header through a link",
       [](const TempDir& d) {
         standard(d);
         fs::create_symlink("hdr.wfdisc", d.file("link.gse"));
       },
       {"hdr.wfdisc", "link.gse"}, kOpenOutput, "", 1, {}},
      {"output onto a read-only file", standard, {"hdr.wfdisc", "version", "/O/proc/"},
       kWriteOutput, "", 1, {}},
      {"output onto a read-only file of the user's",
       [](const TempDir& d) {
         standard(d);
         d.write("out.gse", "keep");
         fs::permissions(d.file("out.gse"), fs::perms::owner_read);
       },
       {"hdr.wfdisc", "out.gse"}, kWriteOutput, "", 1, {}, true},
      {"output onto a full device", standard, {"hdr.wfdisc", "full", "/O/dev/"}, kWriteOutput, "",
       1, {}},
      {"samprate 0", with_header([](Header& h) { h.samprate = 0; }), {"hdr.wfdisc"}, "",
       kFatalMath, 1, {}},
      {"samprate negative", with_header([](Header& h) { h.samprate = -20; }),
       {"hdr.wfdisc", "/J1"}, kDone, "", 0, {"abc_043.gse"}},
      {"samprate huge", with_columns(89, "    1.0E+30"), {"hdr.wfdisc", "/J1"}, "", kFatalMath, 1,
       {}},
      {"time huge", with_columns(17, "         1.0E+19 "), {"hdr.wfdisc"}, "", kFatalMath, 1, {}},
      {"time negative", with_header([](Header& h) { h.time = -1e9; }), {"hdr.wfdisc"}, kDone, "",
       0, {"abc_114.gse"}},  // 1938-04-24
      {"calib and calper overflow their fields",
       with_header([](Header& h) { h.calib = h.calper = 1e8; }), {"hdr.wfdisc"}, kDone, "", 0,
       {"abc_043.gse"}},
  };
  return table;
}

TEST(HostileInput, EachRowEndsAsRequired) {
  for (const Row& row : rows()) {
    SCOPED_TRACE(row.name);
    if (row.needs_permissions && ::geteuid() == 0) continue;
    TempDir dir;
    row.setup(dir);
    std::map<std::string, std::string> before = snapshot(dir.path());
    RunResult result = run_binary(dir.path(), row.args);
    EXPECT_EQ(result.out, row.out);
    EXPECT_EQ(result.err.substr(0, row.err_head.size()), row.err_head);
    if (row.err_head.empty()) {
      EXPECT_EQ(result.err, "");
    }
    EXPECT_EQ(result.status, row.status);
    std::map<std::string, std::string> after = snapshot(dir.path());
    for (const std::string& name : row.created) {
      ASSERT_TRUE(after.count(name)) << name;
      EXPECT_EQ(after[name].substr(0, 4), "WID1") << name;
      after.erase(name);
    }
    EXPECT_EQ(after, before);
  }
}

}  // namespace
}  // namespace wavconv::testing
