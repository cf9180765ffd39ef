#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "common/files.h"
#include "common/trace.h"

namespace wavconv::testing {

// Lines kept in memory; with `fail_after` of 0 or more, writes fail after that many pieces.
struct StringLineSink : common::Sink {
  std::string text;
  int fail_after = -1;
  bool put_line(std::string_view line) override { return put_bytes(std::string(line) + "\r\n"); }
  bool put_bytes(std::string_view lines) override {
    if (fail_after == 0) return false;
    if (fail_after > 0) --fail_after;
    text += lines;
    return true;
  }
};

// A fresh directory under the system's temporary directory, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  void write(const std::string& name, const std::string& bytes) const;
  std::string read(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

std::string read_file(const std::filesystem::path& path);

// Every file below `root` (none when it does not exist) with its bytes; a file over 64 MiB by
// its size, a link by its target.
std::map<std::string, std::string> snapshot(const std::filesystem::path& root);
void write_file(const std::filesystem::path& path, const std::string& bytes);

// A header line in the wfdisc layout (283 columns) with the fields a conversion uses.
struct Header {
  std::string sta = "ABC";
  std::string chan = "BHZ";
  double time = 981947229.0;  // 2001-02-12 03:07:09
  int jdate = 2001043;
  int nsamp = 0;
  double samprate = 20.0;
  double calib = 1.0;
  double calper = 1.0;
  std::string instype = "STS-2";
  std::string datatype = "i4";
  std::string dir = "-";
  std::string dfile = "abc.w";
  int foff = 0;
  std::string line() const;
};

// A trace of station ABC, channel BHZ, STS-2, 20 samples a second, calib and calper 1, starting
// 2001-02-12 03:07:09.250 (day 043), with `samples`.
common::Trace example_trace(std::span<const std::int32_t> samples = {});

// The GSE checksum by its definition: each sample and the running sum reduced modulo 10^8
// toward zero, the absolute value of the sum.
std::int64_t reference_checksum(std::span<const std::int32_t> values);

// Little-endian bytes of the samples.
std::string sample_bytes(const std::vector<int>& samples);

// first, first + 1, ..., count of them.
std::vector<int> counting(int first, int count);

// The samples of the INT blocks (GSE2.0 data lines between DAT2 and CHK2) of a file, block by
// block; with `lines`, every other line of it, each ending in "\n".
std::vector<std::vector<int>> int_blocks(const std::string& text, std::string* lines = nullptr);

// Big-endian bytes of the samples.
std::string big_endian_bytes(const std::vector<int>& samples);

// `bytes` compressed by one deflate() call with `flush` (Z_FINISH, Z_FULL_FLUSH, ...) at `level`;
// `window_bits` chooses the framing as deflateInit2() takes it: 15 + 16 a gzip member, -15 raw
// deflate data.
std::string deflated(const std::string& bytes, int window_bits, int level, int flush);

// Writes `bytes` gzipped to `path` (a test fails when it cannot).
void write_gzipped(const std::string& path, const std::string& bytes);

struct RunResult {
  std::string out;
  std::string err;
  int status;
};

struct RunOptions {
  // A run by root is made as user and group 65534 (nobody), owning the directory, from a copy of
  // the program that user may run.
  bool unprivileged = false;
  long file_size_limit = 0;  // bytes a written file may reach (RLIMIT_FSIZE); 0: no limit
  int user = -1;             // a run by root is made as this user and group id, when 0 or more
  long process_limit = 0;    // processes and threads its user may have (RLIMIT_NPROC); 0: any
};

// Starts the built program in `dir` with `args`, its standard output and error going to the
// given descriptors (-1: nowhere). Returns the process, or -1.
pid_t start_binary(const std::filesystem::path& dir, const std::vector<std::string>& args,
                   int out_fd = -1, int err_fd = -1, RunOptions options = {});

// The exit status of a started program (128 + the signal when one ended it). A program still
// running after two minutes is killed (with its process group) and the test fails.
int wait_binary(pid_t pid);

// Runs the built program in `dir` with `args`.
RunResult run_binary(const std::filesystem::path& dir, const std::vector<std::string>& args,
                     RunOptions options = {});

// Runs `script` with /bin/sh in `dir`, the built program's path in $W.
RunResult run_shell(const std::filesystem::path& dir, const std::string& script);

}  // namespace wavconv::testing
