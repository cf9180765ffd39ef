#ifdef _WIN32

#include <windows.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <random>

#include "common/platform.h"

namespace wavconv::common::platform {

int open_file(const std::string& path, int flags, int mode) {
  return ::_open(path.c_str(), flags | _O_BINARY | _O_NOINHERIT, mode);
}

std::optional<std::string> follow_links(std::string path) { return path; }

int named_descriptor(const std::string&) { return -1; }

bool may_create_in(const std::string& folder) { return ::_access(folder.c_str(), 2) == 0; }

int duplicate(int fd) { return ::_dup(fd); }

bool flush_data(int fd) { return ::_commit(fd) == 0; }

Folder open_folder(const std::string& path) {
  Folder folder;
  folder.path = path;
  return folder;
}

void close_folder(Folder&) {}

int create_unique(const Folder& folder, std::string& name) {
  // The X's become random letters; a name that exists already is tried again with others.
  static std::mt19937 random(std::random_device{}() ^ ::GetCurrentProcessId());
  const std::size_t x = name.size() - 10;
  for (int attempt = 0; attempt < 100; ++attempt) {
    for (std::size_t i = 0; i < 6; ++i) name[x + i] = "abcdefghijklmnopqrstuvwxyz"[random() % 26];
    int fd =
        ::_open((folder.path + name).c_str(),
                _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

std::string removal_name(const Folder& folder, const std::string& name) {
  return folder.path + name;
}

void remove_named(int, const char* name) { ::_unlink(name); }

void take_mode(int, const struct stat*) {}

bool replace_file(const Folder& folder, const std::string& temporary, const std::string& target,
                  bool) {
  if (::MoveFileExA((folder.path + temporary).c_str(), (folder.path + target).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  DWORD code = ::GetLastError();
  errno = code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION ? EACCES
          : code == ERROR_PATH_NOT_FOUND || code == ERROR_FILE_NOT_FOUND ? ENOENT
                                                                         : EIO;
  return false;
}

long long read_at(int fd, void* data, std::size_t size, std::int64_t offset) {
  if (::_lseeki64(fd, offset, SEEK_SET) != offset) return -1;
  long long done = 0;
  auto* bytes = static_cast<char*>(data);
  while (static_cast<std::size_t>(done) < size) {
    unsigned chunk = static_cast<unsigned>(std::min<std::size_t>(size - done, 1u << 30));
    int got = ::_read(fd, bytes + done, chunk);
    if (got < 0) return -1;
    if (got == 0) break;
    done += got;
  }
  return done;
}

void advise_huge_pages(void*, std::size_t) {}

std::optional<std::pair<std::uint64_t, std::uint64_t>> file_identity(const std::string& path) {
  HANDLE file =
      ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info;
  bool ok = ::GetFileInformationByHandle(file, &info);
  ::CloseHandle(file);
  if (!ok) return std::nullopt;
  return std::pair<std::uint64_t, std::uint64_t>{
      info.dwVolumeSerialNumber, (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

void prepare_process(void (*on_interrupt)(int)) {
  ::_setmode(1, _O_BINARY);
  ::_setmode(2, _O_BINARY);
  for (int signal : {SIGINT, SIGTERM}) {
    if (std::signal(signal, on_interrupt) == SIG_IGN) std::signal(signal, SIG_IGN);
  }
}

void end_by_signal(int signal) {
  std::signal(signal, SIG_DFL);
  std::raise(signal);
  std::_Exit(128 + signal);
}

void hold_interrupts_in_this_thread() {}

InterruptsHeld::InterruptsHeld() {}
InterruptsHeld::~InterruptsHeld() {}

}  // namespace wavconv::common::platform

#endif
