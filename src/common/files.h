#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/format.h"
#include "common/platform.h"

namespace wavconv::common {

// A file descriptor closed when it goes out of scope.
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(int fd) : fd_(fd) {}
  FileHandle(FileHandle&& other) noexcept : fd_(other.release()) {}
  FileHandle& operator=(FileHandle&& other) noexcept;
  ~FileHandle();

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release();
  // Closes now; false when the system reports a failure.
  bool close();

 private:
  int fd_ = -1;
};

// Opens an existing file for reading without waiting on a FIFO that has no writer. Directories
// are refused. Returns an invalid handle on failure.
FileHandle open_for_reading(const std::string& path);

// Reads all of `size` bytes at `data`; the count actually read (less at end of file, or on an
// error, whose reason goes to `error`; 0 when there was none).
std::size_t read_fully(int fd, char* data, std::size_t size, int& error);

// The lines of a text file, each without its line end (the LF, and a CR right before it). Only
// the first `kMaxKept` characters of a line are kept; the rest is skipped.
class TextReader : public RecordSource {
 public:
  static constexpr std::size_t kMaxKept = 4096;

  explicit TextReader(FileHandle file) : file_(std::move(file)) {}
  std::optional<std::string_view> next_record() override;
  // The system's reason for a failed read (as against the end of the file); 0 if none.
  int error() const { return error_; }

 private:
  bool fill();

  FileHandle file_;
  std::string line_;
  char buffer_[65536];
  std::size_t begin_ = 0, end_ = 0;
  bool eof_ = false;
  int error_ = 0;
};

// Where an output's bytes go: a text format's lines, or a binary format's data.
class Sink {
 public:
  virtual ~Sink() = default;
  // One line followed by CR LF (GSE1.0's line end). False when the write failed.
  virtual bool put_line(std::string_view line) = 0;
  // Bytes as they are: text that already holds its line ends, or binary data.
  virtual bool put_bytes(std::string_view bytes) = 0;
  // Room for `size` bytes to be written in place and then committed, or null when the sink has
  // none (the caller then uses put_bytes()).
  virtual char* reserve(std::size_t /*size*/) { return nullptr; }
  // The first `used` bytes of the reserved room are written.
  virtual void commit(std::size_t /*used*/) {}
};

// The kind of file an output format writes, as far as an existing file's first bytes tell: only
// a file of that kind (or an empty one) is replaced by an output.
struct FileKind {
  const char* name;  // "GSE", "miniSEED", ...: "not a <name> file, not replaced"
  std::size_t head;  // bytes `holds` looks at (fewer when the file is shorter)
  bool (*holds)(std::string_view head);
};

// GSE files and messages: "WID1", "WID2", "BEGIN" or "DATA_TYPE" at the start.
extern const FileKind kGseFile;

// An output file, replaced whole or not at all. A regular or missing target is written as a
// new temporary file beside it (".<name>.XXXXXX.tmp", the name shortened if need be) that takes
// the target's name, and an existing target's permission bits, only when close() succeeds (a
// replaced file's data flushed to the disk first); on any failure the target stays as it was and
// the temporary file is removed. An existing regular target is replaced only when it is empty or
// begins as a file of the output's kind does. A target that is not a
// regular file (a device, a FIFO), or a standard descriptor named by path ("/dev/stdout",
// "/dev/fd/N", ...), is written directly. On POSIX systems a symbolic link is followed, and stays
// a link, unless the kernel's rule against planted links would refuse it.
class OutputFile : public Sink {
 public:
  enum class Open { kOpened, kWriteFails, kFailed, kNotOfKind, kSharedLink };

  // kWriteFails: an existing file that may not be written; the object exists, but its writes
  // fail. kFailed: no object; `error` holds the system's reason. kNotOfKind: an existing file that
  // is not of the output's `kind`. kSharedLink: a link that is not followed.
  static Open open(const std::string& path, const FileKind& kind, std::unique_ptr<OutputFile>& file,
                   int& error);

  // What open() would give for `path`, without creating or changing anything.
  static Open check(const std::string& path, const FileKind& kind, int& error);

  // Removes a temporary file that was not put in place.
  ~OutputFile() override;

  // Text pieces of half this size or more bypass the buffer.
  static constexpr std::size_t kBufferSize = 256 * 1024;

  // After the first failure every later write fails too.
  bool put_line(std::string_view line) override;
  bool put_bytes(std::string_view text) override;
  // Room in the buffer; null after a failure or for more than the buffer holds.
  char* reserve(std::size_t size) override;
  // More than was reserved is a fault of the caller: the file fails rather than keep it.
  void commit(std::size_t used) override;
  // Writes out what is buffered, closes the file and puts it in place.
  bool close();
  // The first half of close(), which another thread may do: writes out what is buffered, puts
  // the data on the disk when it replaces a file, and closes the descriptor. close() then only
  // puts the file in place.
  bool finish();
  // The system's reason for the first failure; 0 when there was none.
  int error() const { return error_; }

 private:
  // Where an output goes, as open() finds it.
  struct Target {
    int named = -1;    // a descriptor named by path, written as it is
    std::string path;  // links followed
    bool exists = false;
    struct stat info {};
  };
  // Every check open() makes before it creates anything; kOpened when the output may be opened.
  static Open examine(const std::string& path, const FileKind& kind, Target& target, int& error);

  // `temporary`: the name in `folder` of the file written, to take `target_name` there; empty
  // when the target is written directly.
  OutputFile(FileHandle file, std::string target, bool target_existed, platform::Folder folder = {},
             std::string temporary = {}, std::string target_name = {});
  bool fail(int error);
  bool write_out(const char* data, std::size_t size);
  bool flush();
  void remove_temporary();
  // The temporary file is no longer ours to remove (put in place, or removed).
  void forget_temporary();

  FileHandle file_;
  std::string target_;
  platform::Folder folder_;  // the target's folder, held while a temporary file is in it
  std::string temporary_;    // the temporary file's name there; empty when written directly
  std::string target_name_;  // the target's name there
  bool target_existed_;
  int signal_slot_ = -1;  // where the temporary file is known to the signal handler
  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
  std::size_t reserved_ = 0;
  bool ok_ = true;
  bool finished_ = false;
  int error_ = 0;
  std::uint64_t written_ = 0;  // bytes written to the file
};

// For the interrupt message of a run of many items: `done` items of `unit` ("record", "header")
// are finished; a negative count says nothing.
void note_progress(const char* unit, long long done);

// Bytes written to output files by this process so far.
std::uint64_t bytes_written();

// Bytes of the output files this process has closed and kept so far.
std::uint64_t bytes_kept();

// For the output files this thread closes from now on: `hook` is asked, just before a new file
// takes its target's name, whether it may: 0 when it may, else the reason (kWrittenByEarlier,
// ...) with which close() then fails, the target staying as it was. An empty hook asks nothing.
void set_before_replace(std::function<int(const std::string&)> hook);

// Prepares the program's process: closed standard descriptors opened on the null device,
// standard output and error as bytes, a write to a reader that has gone or past the file size
// limit failing, and SIGINT, SIGTERM and SIGHUP (unless ignored at start) removing every
// temporary output file before ending the process by that signal.
void prepare_process();

}  // namespace wavconv::common
