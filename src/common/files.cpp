#include "common/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace wavconv::common {

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.release();
  }
  return *this;
}

FileHandle::~FileHandle() { close(); }

int FileHandle::release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

bool FileHandle::close() {
  if (fd_ < 0) return true;
  int result = ::close(release());
  return result == 0;
}

namespace {

// Opens with O_NONBLOCK so that a FIFO without a partner does not hang the run, then returns
// the descriptor to blocking mode for the reads and writes.
int open_nonblocking(const std::string& path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  int current = ::fcntl(fd, F_GETFL);
  if (current >= 0) ::fcntl(fd, F_SETFL, current & ~O_NONBLOCK);
  return fd;
}

}  // namespace

FileHandle open_for_reading(const std::string& path) {
  if (path.empty()) {
    errno = ENOENT;
    return FileHandle();
  }
  FileHandle file(open_nonblocking(path, O_RDONLY));
  if (!file.valid()) return file;
  struct stat info;
  if (::fstat(file.get(), &info) != 0) return FileHandle();
  if (S_ISDIR(info.st_mode)) {
    errno = EISDIR;
    return FileHandle();
  }
  return file;
}

std::size_t read_fully(int fd, char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    std::size_t chunk = std::min<std::size_t>(size - done, 1 << 30);
    ssize_t got = ::read(fd, data + done, chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

bool TextReader::fill() {
  if (eof_) return false;
  ssize_t got;
  do {
    got = ::read(file_.get(), buffer_, sizeof buffer_);
  } while (got < 0 && errno == EINTR);
  if (got <= 0) {
    eof_ = true;
    failed_ = got < 0;
    return false;
  }
  begin_ = 0;
  end_ = static_cast<std::size_t>(got);
  return true;
}

std::optional<std::string_view> TextReader::next_record() {
  line_.clear();
  std::size_t length = 0;  // of the whole line, kept or not
  bool any = false;
  while (true) {
    if (begin_ == end_ && !fill()) {
      if (failed_ || !any) return std::nullopt;
      return std::string_view(line_);
    }
    any = true;
    const char* start = buffer_ + begin_;
    const char* newline = static_cast<const char*>(std::memchr(start, '\n', end_ - begin_));
    std::size_t count = newline ? static_cast<std::size_t>(newline - start) : end_ - begin_;
    if (line_.size() < kMaxKept) line_.append(start, std::min(count, kMaxKept - line_.size()));
    length += count;
    begin_ += count;
    if (newline) {
      ++begin_;
      // A CR right before the LF belongs to the line end.
      if (length == line_.size() && !line_.empty() && line_.back() == '\r') line_.pop_back();
      return std::string_view(line_);
    }
  }
}

OutputFile::OutputFile(FileHandle file, bool writable)
    : file_(std::move(file)), buffer_(new char[kBufferSize]), ok_(writable) {}

OutputFile::~OutputFile() {
  // Lines written before a failure stop stay in the file.
  if (ok_) flush();
}

OutputFile::Open OutputFile::open(const std::string& path, std::unique_ptr<OutputFile>& file) {
  file.reset();
  if (path.empty()) return Open::kFailed;
  FileHandle handle(open_nonblocking(path, O_WRONLY | O_CREAT, 0666));
  if (handle.valid()) {
    struct stat info;
    if (::fstat(handle.get(), &info) != 0 || S_ISDIR(info.st_mode)) return Open::kFailed;
    file.reset(new OutputFile(std::move(handle), true));
    return Open::kOpened;
  }
  // An existing file that can only be read is still opened; its first write fails.
  struct stat info;
  if ((errno == EACCES || errno == EPERM || errno == EROFS) && ::stat(path.c_str(), &info) == 0 &&
      S_ISREG(info.st_mode)) {
    file.reset(new OutputFile(FileHandle(), false));
    return Open::kWriteFails;
  }
  return Open::kFailed;
}

bool OutputFile::write_out(const char* data, std::size_t size) {
  if (!cut_) {
    // The first write cuts an existing file at its beginning.
    cut_ = true;
    struct stat info;
    if (::fstat(file_.get(), &info) != 0) return ok_ = false;
    if (S_ISREG(info.st_mode) && info.st_size > 0 && ::ftruncate(file_.get(), 0) != 0) {
      return ok_ = false;
    }
  }
  while (size > 0) {
    ssize_t done = ::write(file_.get(), data, size);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return ok_ = false;
    data += done;
    size -= static_cast<std::size_t>(done);
  }
  return true;
}

bool OutputFile::flush() {
  if (!ok_) return false;
  std::size_t used = used_;
  used_ = 0;
  return used == 0 || write_out(buffer_.get(), used);
}

bool OutputFile::put_lines(std::string_view text) {
  if (!ok_) return false;
  // Large pieces go straight to the file, behind what is buffered.
  if (text.size() >= kBufferSize / 2) return flush() && write_out(text.data(), text.size());
  if (used_ + text.size() <= kBufferSize) {
    std::memcpy(buffer_.get() + used_, text.data(), text.size());
    used_ += text.size();
    return true;
  }
  if (!flush()) return false;
  std::memcpy(buffer_.get(), text.data(), text.size());
  used_ = text.size();
  return true;
}

bool OutputFile::put_line(std::string_view line) { return put_lines(line) && put_lines("\r\n"); }

bool OutputFile::close() {
  bool flushed = flush();
  bool closed = file_.close();
  bool result = ok_ && flushed && closed;
  ok_ = false;
  return result;
}

}  // namespace wavconv::common
