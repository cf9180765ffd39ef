#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/format.h"

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

// Reads all of `size` bytes at `data`; the count actually read (less at end of file or on an
// error).
std::size_t read_fully(int fd, char* data, std::size_t size);

// The lines of a text file, each without its line end (the LF, and a CR right before it). Only
// the first `kMaxKept` characters of a line are kept; the rest is skipped.
class TextReader : public RecordSource {
 public:
  static constexpr std::size_t kMaxKept = 4096;

  explicit TextReader(FileHandle file) : file_(std::move(file)) {}
  std::optional<std::string_view> next_record() override;
  // True when the system reported a read error (as against the end of the file).
  bool failed() const { return failed_; }

 private:
  bool fill();

  FileHandle file_;
  std::string line_;
  char buffer_[65536];
  std::size_t begin_ = 0, end_ = 0;
  bool eof_ = false, failed_ = false;
};

// Where output lines go.
class LineSink {
 public:
  virtual ~LineSink() = default;
  // One line followed by CR LF. False when the write failed.
  virtual bool put_line(std::string_view line) = 0;
  // Text that already holds whole lines with their CR LF.
  virtual bool put_lines(std::string_view text) = 0;
};

// An output file: created if missing; an existing regular file is cut to zero at the first
// write. Lines are buffered and written in large pieces.
class OutputFile : public LineSink {
 public:
  enum class Open { kOpened, kWriteFails, kFailed };

  // kWriteFails: an existing file that can only be read; the file object exists, but its
  // first write fails and leaves the file as it was.
  static Open open(const std::string& path, std::unique_ptr<OutputFile>& file);

  ~OutputFile() override;

  // Text pieces of half this size or more bypass the buffer.
  static constexpr std::size_t kBufferSize = 256 * 1024;

  // After the first failure every later write fails too.
  bool put_line(std::string_view line) override;
  bool put_lines(std::string_view text) override;
  // Writes out what is buffered and closes the file.
  bool close();

 private:
  explicit OutputFile(FileHandle file, bool writable);
  bool write_out(const char* data, std::size_t size);
  bool flush();

  FileHandle file_;
  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
  bool ok_;
  bool cut_ = false;
};

}  // namespace wavconv::common
