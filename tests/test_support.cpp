#include "test_support.h"

#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>

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

std::string sample_bytes(const std::vector<int>& samples) {
  std::string bytes;
  for (int v : samples) {
    auto u = static_cast<unsigned>(v);
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<char>(u >> shift));
  }
  return bytes;
}

RunResult run_binary(const std::filesystem::path& dir, const std::vector<std::string>& args,
                     RunOptions options) {
  namespace fs = std::filesystem;
  constexpr uid_t kNobody = 65534;
  TempDir capture;
  std::string out = capture.file("stdout"), err = capture.file("stderr");
  std::string binary = WAVCONV_BINARY;
  bool drop = options.unprivileged && ::geteuid() == 0;
  if (drop) {
    fs::permissions(capture.path(), fs::perms::owner_all | fs::perms::group_read |
                                        fs::perms::group_exec | fs::perms::others_read |
                                        fs::perms::others_exec);
    binary = capture.file("wavconv");
    fs::copy_file(WAVCONV_BINARY, binary);
    if (::chown(dir.c_str(), kNobody, kNobody) != 0) return {"", "chown failed", -1};
  }
  pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(dir.c_str()) != 0) ::_exit(127);
    std::freopen(out.c_str(), "wb", stdout);
    std::freopen(err.c_str(), "wb", stderr);
    if (drop &&
        (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
      ::_exit(126);
    }
    if (options.file_size_limit > 0) {
      struct rlimit limit = {static_cast<rlim_t>(options.file_size_limit),
                             static_cast<rlim_t>(options.file_size_limit)};
      ::setrlimit(RLIMIT_FSIZE, &limit);
      std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
    }
    std::vector<char*> argv{binary.data()};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(binary.c_str(), argv.data());
    ::_exit(127);
  }
  int wait_status = 0;
  ::waitpid(pid, &wait_status, 0);
  int status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
  return {read_file(out), read_file(err), status};
}

}  // namespace wavconv::testing
