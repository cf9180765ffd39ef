#pragma once

// What the operating system does differently: POSIX systems in platform_posix.cpp, Windows in
// platform_windows.cpp. Everything else uses the descriptor calls both offer (read, write,
// close, fstat, stat, unlink) through this header.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace wavconv::common::platform {

// Opens `path` with `flags` (O_RDONLY, or O_WRONLY with O_CREAT), in binary mode, not inherited
// by other programs, and without waiting on a FIFO that has no partner. -1 with errno set.
int open_file(const std::string& path, int flags, int mode = 0666);

// The path with its symbolic links followed (a link to a missing file gives that file's path).
std::string follow_links(std::string path);

// Creates a new file exclusively from `name` ending in "XXXXXX.tmp", whose X's it replaces.
// -1 with errno set.
int create_unique(std::string& name);

// Gives the new file at `fd` the permission bits (and, for root, the owner) of `replaced`, the
// file it is to replace, or those of an ordinary creation when there is none.
void take_mode(int fd, const struct stat* replaced);

// Puts the file `temporary` at `target` in one step. False with errno set.
bool replace_file(const std::string& temporary, const std::string& target, bool target_exists);

// Reads up to `size` bytes from byte `offset` of `fd`; the count read, -1 on an error.
long long read_at(int fd, void* data, std::size_t size, std::int64_t offset);

// Asks for huge pages behind a large allocation, where the system offers them.
void advise_huge_pages(void* data, std::size_t size);

// Identifies a file whatever the path that names it; nothing when it does not exist.
std::optional<std::pair<std::uint64_t, std::uint64_t>> file_identity(const std::string& path);

// Standard output and error as bytes; a write to a reader that has gone fails instead of
// ending the process; `on_interrupt` runs on SIGINT, SIGTERM and (where there is one) SIGHUP.
void prepare_process(void (*on_interrupt)(int));

// While one lives, the interrupting signals wait.
class InterruptsHeld {
 public:
  InterruptsHeld();
  ~InterruptsHeld();
  InterruptsHeld(const InterruptsHeld&) = delete;
  InterruptsHeld& operator=(const InterruptsHeld&) = delete;

 private:
  unsigned char saved_[256];
};

}  // namespace wavconv::common::platform
