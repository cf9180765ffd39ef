#ifndef _WIN32

#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>
#include <vector>

#include "common/platform.h"

namespace wavconv::common::platform {

int open_file(const std::string& path, int flags, int mode) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  // Back to blocking mode for the reads and writes.
  int current = ::fcntl(fd, F_GETFL);
  if (current >= 0) ::fcntl(fd, F_SETFL, current & ~O_NONBLOCK);
  return fd;
}

namespace {

// Whether the kernel's protection against planted links would refuse to follow the link
// `info` (from lstat) in `folder`: a sticky, world-writable folder, and the link belongs neither
// to this user nor to the folder's owner.
bool planted(const struct stat& info, const std::string& folder) {
  struct stat folder_info;
  return ::stat(folder.c_str(), &folder_info) == 0 && (folder_info.st_mode & S_ISVTX) &&
         (folder_info.st_mode & S_IWOTH) && info.st_uid != ::geteuid() &&
         info.st_uid != folder_info.st_uid;
}

}  // namespace

std::optional<std::string> follow_links(std::string path) {
  // The path component by component, every link on the way followed (and judged) where it
  // stands; what does not exist is kept as it is.
  std::string done = !path.empty() && path[0] == '/' ? "/" : "";
  std::vector<std::string> rest;  // the components still to walk, the next one last
  auto push = [&rest](std::string_view text) {
    std::vector<std::string> parts;
    for (std::size_t start = 0; start <= text.size();) {
      std::size_t end = std::min(text.find('/', start), text.size());
      if (end > start) parts.emplace_back(text.substr(start, end - start));
      start = end + 1;
    }
    rest.insert(rest.end(), parts.rbegin(), parts.rend());
  };
  push(path);
  int links = 0;
  while (!rest.empty()) {
    std::string part = std::move(rest.back());
    rest.pop_back();
    if (part == ".") continue;
    std::string candidate = done;
    if (!candidate.empty() && candidate.back() != '/') candidate.push_back('/');
    candidate.append(part);
    struct stat info;
    if (part == ".." || ::lstat(candidate.c_str(), &info) != 0 || !S_ISLNK(info.st_mode) ||
        ++links > 40) {
      done = std::move(candidate);
      continue;
    }
    if (planted(info, done.empty() ? "." : done)) return std::nullopt;
    std::string target(4096, '\0');
    ssize_t length = ::readlink(candidate.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) {
      done = std::move(candidate);
      continue;
    }
    target.resize(static_cast<std::size_t>(length));
    if (target[0] == '/') done.assign(1, '/');
    push(target);
  }
  return done.empty() ? std::string(".") : done;
}

int named_descriptor(const std::string& path) {
  if (path == "/dev/stdout") return 1;
  if (path == "/dev/stderr") return 2;
  std::string_view number;
  for (std::string_view prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    if (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0) {
      number = std::string_view(path).substr(prefix.size());
    }
  }
  if (number.empty() || number.size() > 9) return -1;
  int fd = 0;
  for (char c : number) {
    if (c < '0' || c > '9') return -1;
    fd = fd * 10 + (c - '0');
  }
  return fd;
}

bool may_create_in(const std::string& folder) { return ::access(folder.c_str(), W_OK | X_OK) == 0; }

int duplicate(int fd) { return ::fcntl(fd, F_DUPFD_CLOEXEC, 3); }

bool flush_data(int fd) {
  int result;
  do {
    result = ::fdatasync(fd);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

Folder open_folder(const std::string& path) {
  Folder folder;
  folder.path = path;
  folder.fd = ::open(path.empty() ? "." : path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  return folder;
}

void close_folder(Folder& folder) {
  if (folder.fd >= 0) ::close(folder.fd);
  folder.fd = -1;
}

int create_unique(const Folder& folder, std::string& name) {
  // The X's become random letters; a name that exists already is tried again with others.
  static std::atomic<std::uint64_t> counter{0};
  std::uint64_t seed = (static_cast<std::uint64_t>(::getpid()) << 32) ^
                       static_cast<std::uint64_t>(::time(nullptr)) ^
                       reinterpret_cast<std::uintptr_t>(&name);
  const std::size_t x = name.size() - 10;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::uint64_t r = seed ^ (counter.fetch_add(1) * 0x9e3779b97f4a7c15ULL);
    r ^= r >> 29;
    r *= 0xbf58476d1ce4e5b9ULL;
    r ^= r >> 32;
    for (std::size_t i = 0; i < 6; ++i, r /= 52) {
      name[x + i] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"[r % 52];
    }
    int fd = ::openat(folder.fd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

std::string removal_name(const Folder&, const std::string& name) { return name; }

void remove_named(int folder_fd, const char* name) { ::unlinkat(folder_fd, name, 0); }

void take_mode(int fd, const struct stat* replaced) {
  if (!replaced) {
    // Read once: setting the mask to learn it would race with threads creating files.
    static const mode_t mask = [] {
      mode_t current = ::umask(0);
      ::umask(current);
      return current;
    }();
    ::fchmod(fd, 0666 & ~mask);
    return;
  }
  ::fchmod(fd, replaced->st_mode & 07777);
  if (::geteuid() == 0) {
    [[maybe_unused]] int ignored = ::fchown(fd, replaced->st_uid, replaced->st_gid);
  }
}

bool replace_file(const Folder& folder, const std::string& temporary, const std::string& target,
                  bool target_exists) {
  // Exchanging the names, then removing the old file under the temporary name, avoids the
  // write-out that some file systems start on a rename over an existing file.
#ifdef RENAME_EXCHANGE
  if (target_exists &&
      ::renameat2(folder.fd, temporary.c_str(), folder.fd, target.c_str(), RENAME_EXCHANGE) == 0) {
    ::unlinkat(folder.fd, temporary.c_str(), 0);
    return true;
  }
#endif
  return ::renameat(folder.fd, temporary.c_str(), folder.fd, target.c_str()) == 0;
}

long long read_at(int fd, void* data, std::size_t size, std::int64_t offset) {
  ssize_t got;
  do {
    got = ::pread(fd, data, size, static_cast<off_t>(offset));
  } while (got < 0 && errno == EINTR);
  return got;
}

void advise_huge_pages(void* data, std::size_t size) {
#ifdef MADV_HUGEPAGE
  ::madvise(data, size, MADV_HUGEPAGE);
#endif
}

std::optional<std::pair<std::uint64_t, std::uint64_t>> file_identity(const std::string& path) {
  struct stat info;
  if (path.empty() || ::stat(path.c_str(), &info) != 0) return std::nullopt;
  return std::pair<std::uint64_t, std::uint64_t>{info.st_dev, info.st_ino};
}

void prepare_process(void (*on_interrupt)(int)) {
  // A closed standard descriptor would be given to the first file opened, and console text
  // would go into it.
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
      int null_fd = ::open("/dev/null", O_RDWR);
      if (null_fd >= 0 && null_fd != fd) ::close(null_fd);
    }
  }
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction current {};
    // A signal ignored by whoever started the program (nohup, a background job) stays ignored.
    if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &action, nullptr);
  }
}

void end_by_signal(int signal) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(signal);
  ::_exit(128 + signal);
}

void hold_interrupts_in_this_thread() {
  sigset_t held;
  sigemptyset(&held);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held, signal);
  ::pthread_sigmask(SIG_BLOCK, &held, nullptr);
}

static_assert(sizeof(sigset_t) <= 256);

InterruptsHeld::InterruptsHeld() {
  sigset_t held, previous;
  sigemptyset(&held);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held, signal);
  ::pthread_sigmask(SIG_BLOCK, &held, &previous);
  std::memcpy(saved_, &previous, sizeof previous);
}

InterruptsHeld::~InterruptsHeld() {
  sigset_t previous;
  std::memcpy(&previous, saved_, sizeof previous);
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

}  // namespace wavconv::common::platform

#endif
