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

// The characters that separate the components of a path.
#ifdef _WIN32
inline constexpr const char* kPathSeparators = "/\\";
#else
inline constexpr const char* kPathSeparators = "/";
#endif

// Opens `path` with `flags` (O_RDONLY, or O_WRONLY with O_CREAT), in binary mode, not inherited
// by other programs, and without waiting on a FIFO that has no partner. -1 with errno set.
int open_file(const std::string& path, int flags, int mode = 0666);

// The path with its symbolic links followed (a link to a missing file gives that file's path).
// Nothing when a link on the way is one the kernel's protection against planted links would not
// follow: it lies in a sticky, world-writable directory and belongs neither to the user running
// the program nor to the directory's owner.
std::optional<std::string> follow_links(std::string path);

// The descriptor that `path` names as it is ("/dev/stdout", "/dev/stderr", "/dev/fd/N",
// "/proc/self/fd/N"), or -1 for any other path.
int named_descriptor(const std::string& path);

// A new descriptor for the file open at `fd`, not inherited by other programs; -1 with errno set.
int duplicate(int fd);

// The longest name of one directory entry, in bytes.
inline constexpr std::size_t kMaxNameLength = 255;

// Whether this user may create files in the directory `folder`; false with errno set.
bool may_create_in(const std::string& folder);

// Writes the file's data at `fd` through to the disk. False with errno set.
bool flush_data(int fd);

// A folder in which files are made, put in place and removed by their names alone, so that a
// path as long as the system accepts is not made too long by a temporary name beside it. On
// POSIX systems the folder is held open (`fd`); elsewhere its path is kept.
struct Folder {
  int fd = -1;
  std::string path;  // with its separator at the end, or empty for the current folder
};

// The folder `path` (empty: the current one); fd -1 with errno set when it cannot be opened.
Folder open_folder(const std::string& path);
void close_folder(Folder& folder);

// Creates a new file exclusively in `folder` from `name` ending in "XXXXXX.tmp", whose X's it
// replaces. -1 with errno set.
int create_unique(const Folder& folder, std::string& name);

// The text that names the file `name` of `folder` to remove_named() in a signal handler.
std::string removal_name(const Folder& folder, const std::string& name);

// Removes the file that removal_name() named, `folder_fd` being the folder's; safe in a signal
// handler.
void remove_named(int folder_fd, const char* name);

// Gives the new file at `fd` the permission bits (and, for root, the owner) of `replaced`, the
// file it is to replace, or those of an ordinary creation when there is none.
void take_mode(int fd, const struct stat* replaced);

// Puts the file `temporary` of `folder` at its `target` there in one step. False with errno set.
bool replace_file(const Folder& folder, const std::string& temporary, const std::string& target,
                  bool target_exists);

// Reads up to `size` bytes from byte `offset` of `fd`; the count read, -1 on an error.
long long read_at(int fd, void* data, std::size_t size, std::int64_t offset);

// Asks for huge pages behind a large allocation, where the system offers them.
void advise_huge_pages(void* data, std::size_t size);

// Identifies a file whatever the path that names it; nothing when it does not exist.
std::optional<std::pair<std::uint64_t, std::uint64_t>> file_identity(const std::string& path);

// Standard input, output and error open (on the null device when they were closed), output
// and error as bytes; a write to a reader that has gone, or past the file size limit, fails
// instead of ending the process; `on_interrupt` runs on SIGINT, SIGTERM and (where there is one)
// SIGHUP, each unless it was ignored when the program started.
void prepare_process(void (*on_interrupt)(int));

// Ends the process by `signal` with its default action (after an interrupt handler's work).
[[noreturn]] void end_by_signal(int signal);

// The interrupting signals go to other threads than this one from now on (for worker threads).
void hold_interrupts_in_this_thread();

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
