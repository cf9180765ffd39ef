#include "test_support.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

namespace wavconv::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "wavconv-test-XXXXXX").string();
  path_ = ::mkdtemp(pattern.data());
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void TempDir::write(const std::string& name, const std::string& bytes) const {
  write_file(path_ / name, bytes);
}

std::string TempDir::read(const std::string& name) const { return read_file(path_ / name); }

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::map<std::string, std::string> snapshot(const std::filesystem::path& root) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> files;
  if (!fs::exists(root)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    std::string name = entry.path().lexically_relative(root).string();
    if (entry.is_symlink()) {
      files[name] = "-> " + fs::read_symlink(entry.path()).string();
    } else if (entry.is_regular_file()) {
      files[name] = entry.file_size() <= (64u << 20) ? read_file(entry.path())
                                                     : std::to_string(entry.file_size());
    }
  }
  return files;
}

void write_file(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Header::line() const {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer,
                "%-6.6s %-8.8s %17.5f %8d %8d %8d %17.5f %8d %11.7f %16.6f %16.6f %-6.6s %-1s "
                "%-2.2s %-1s %-64.64s %-32.32s %10d %8d %-17s",
                sta.c_str(), chan.c_str(), time, 1, 1, jdate, time, nsamp, samprate, calib, calper,
                instype.c_str(), "-", datatype.c_str(), "-", dir.c_str(), dfile.c_str(), foff, -1,
                "2001/02/12");
  return buffer;
}

common::Trace example_trace(std::span<const std::int32_t> samples) {
  common::Trace trace;
  trace.sta = "ABC   ";
  trace.chan = "BHZ     ";
  trace.instype = "STS-2 ";
  trace.samprate = 20.0f;
  trace.calib = 1.0f;
  trace.calper = 1.0f;
  trace.start = common::to_calendar_milliseconds(981947229250);
  trace.whole_second_start = common::to_calendar(981947229);
  trace.day_text = "043";
  trace.samples = samples;
  return trace;
}

std::int64_t reference_checksum(std::span<const std::int32_t> values) {
  constexpr std::int64_t kModulus = 100'000'000;
  std::int64_t c = 0;
  for (std::int32_t v : values) c = (c + v % kModulus) % kModulus;
  return c < 0 ? -c : c;
}

std::vector<int> counting(int first, int count) {
  std::vector<int> v;
  for (int i = 0; i < count; ++i) v.push_back(first + i);
  return v;
}

std::vector<std::vector<int>> int_blocks(const std::string& text, std::string* lines) {
  std::vector<std::vector<int>> blocks;
  std::istringstream in(text);
  bool data = false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("DAT2", 0) == 0) {
      blocks.emplace_back();
      data = true;
    } else if (line.rfind("CHK2", 0) == 0) {
      data = false;
    } else if (data) {
      std::istringstream values(line);
      for (int v; values >> v;) blocks.back().push_back(v);
      continue;
    }
    if (lines) *lines += line + "\n";
  }
  return blocks;
}

std::string big_endian_bytes(const std::vector<int>& samples) {
  std::string bytes;
  for (int v : samples) {
    auto u = static_cast<unsigned>(v);
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<char>(u >> shift));
  }
  return bytes;
}

std::string deflated(const std::string& bytes, int window_bits, int level, int flush) {
  z_stream stream{};
  deflateInit2(&stream, level, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY);
  // A flush that is not Z_FINISH adds a few bytes beyond the bound.
  std::string out(deflateBound(&stream, bytes.size()) + 64, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, flush);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

void write_gzipped(const std::string& path, const std::string& bytes) {
  gzFile file = gzopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr) << path;
  EXPECT_EQ(gzwrite(file, bytes.data(), static_cast<unsigned>(bytes.size())),
            static_cast<int>(bytes.size()));
  gzclose(file);
}

std::string sample_bytes(const std::vector<int>& samples) {
  std::string bytes;
  for (int v : samples) {
    auto u = static_cast<unsigned>(v);
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<char>(u >> shift));
  }
  return bytes;
}

pid_t start_binary(const std::filesystem::path& dir, const std::vector<std::string>& args,
                   int out_fd, int err_fd, RunOptions options) {
  namespace fs = std::filesystem;
  constexpr uid_t kNobody = 65534;
  std::string binary = WAVCONV_BINARY;
  bool drop = (options.unprivileged || options.user >= 0) && ::geteuid() == 0;
  uid_t user = options.user >= 0 ? static_cast<uid_t>(options.user) : kNobody;
  if (drop) {
    static const TempDir copy_dir;  // a copy of the program that the unprivileged user may run
    fs::permissions(copy_dir.path(), fs::perms::owner_all | fs::perms::group_read |
                                         fs::perms::group_exec | fs::perms::others_read |
                                         fs::perms::others_exec);
    binary = copy_dir.file("wavconv");
    fs::copy_file(WAVCONV_BINARY, binary, fs::copy_options::overwrite_existing);
    if (options.unprivileged && ::chown(dir.c_str(), kNobody, kNobody) != 0) return -1;
  }
  pid_t pid = ::fork();
  if (pid == 0) {
    int null_fd = ::open("/dev/null", O_WRONLY);
    if (::chdir(dir.c_str()) != 0 || ::dup2(out_fd < 0 ? null_fd : out_fd, 1) < 0 ||
        ::dup2(err_fd < 0 ? null_fd : err_fd, 2) < 0) {
      ::_exit(127);
    }
    if (options.process_limit > 0) {
      struct rlimit limit = {static_cast<rlim_t>(options.process_limit),
                             static_cast<rlim_t>(options.process_limit)};
      ::setrlimit(RLIMIT_NPROC, &limit);
    }
    if (drop && (::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0)) {
      ::_exit(126);
    }
    if (options.file_size_limit > 0) {
      struct rlimit limit = {static_cast<rlim_t>(options.file_size_limit),
                             static_cast<rlim_t>(options.file_size_limit)};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::vector<char*> argv{binary.data()};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(binary.c_str(), argv.data());
    ::_exit(127);
  }
  return pid;
}

int wait_binary(pid_t pid) {
  // A run that hangs is killed after the deadline, and the test fails on its status.
  constexpr auto kDeadline = std::chrono::seconds(120);
  const auto start = std::chrono::steady_clock::now();
  int wait_status = 0;
  if (pid < 0) return -1;
  for (;;) {
    pid_t done = ::waitpid(pid, &wait_status, WNOHANG);
    if (done == pid) break;
    if (done < 0) return -1;
    if (std::chrono::steady_clock::now() - start > kDeadline) {
      ADD_FAILURE() << "a run did not end within " << kDeadline.count() << " s: killed";
      ::kill(-pid, SIGKILL);  // its process group, when it leads one
      ::kill(pid, SIGKILL);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
}

RunResult run_binary(const std::filesystem::path& dir, const std::vector<std::string>& args,
                     RunOptions options) {
  TempDir capture;
  std::string out = capture.file("stdout"), err = capture.file("stderr");
  int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  int status = wait_binary(start_binary(dir, args, out_fd, err_fd, options));
  ::close(out_fd);
  ::close(err_fd);
  return {read_file(out), read_file(err), status};
}

RunResult run_shell(const std::filesystem::path& dir, const std::string& script) {
  TempDir capture;
  std::string out = capture.file("stdout"), err = capture.file("stderr");
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);  // the script and what it starts can be ended together
    int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT, 0644);
    int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT, 0644);
    if (::chdir(dir.c_str()) != 0 || ::dup2(out_fd, 1) < 0 || ::dup2(err_fd, 2) < 0) ::_exit(127);
    ::setenv("W", WAVCONV_BINARY, 1);
    ::execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = wait_binary(pid);
  return {read_file(out), read_file(err), status};
}

}  // namespace wavconv::testing
