#include "common/files.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>

#include "common/platform.h"
#include "common/stop.h"

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

FileHandle open_for_reading(const std::string& path) {
  if (path.empty()) {
    errno = ENOENT;
    return FileHandle();
  }
  FileHandle file(platform::open_file(path, O_RDONLY));
  if (!file.valid()) return file;
  struct stat info;
  if (::fstat(file.get(), &info) != 0) return FileHandle();
  if (S_ISDIR(info.st_mode)) {
    errno = EISDIR;
    return FileHandle();
  }
  return file;
}

std::size_t read_fully(int fd, char* data, std::size_t size, int& error) {
  std::size_t done = 0;
  error = 0;
  while (done < size) {
    std::size_t chunk = std::min<std::size_t>(size - done, 1 << 30);
    ssize_t got = ::read(fd, data + done, chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) error = errno;
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
    error_ = got < 0 ? errno : 0;
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
      if (error_ != 0 || !any) return std::nullopt;
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

namespace {

// Temporary output files, known to the signal handler. A slot is claimed (0 -> 1) atomically,
// its path written, then marked ready (2); the handler removes the ready ones. A run holds at
// most 128 temporary files at a time (record mode's batch of files of their own, or one a
// thread of /M's at most 64), fewer than the slots.
constexpr int kSignalSlots = 256;
constexpr std::size_t kSlotPath = 1024;
char slot_paths[kSignalSlots][kSlotPath];  // the file's name in its folder (see removal_name)
int slot_folders[kSignalSlots];            // the folder's descriptor
std::atomic<int> slot_state[kSignalSlots];
static_assert(std::atomic<int>::is_always_lock_free);

// What the handler says before the process ends: the unit and number of the last item done.
std::atomic<long long> interrupted_after{-1};
std::atomic<const char*> interrupted_unit{nullptr};
std::atomic<std::uint64_t> bytes_written_total{0};
std::atomic<std::uint64_t> bytes_kept_total{0};
// Temporary files being created and registered now, and whether the process is ending by a
// signal (then none is created any more).
std::atomic<int> creating{0};
std::atomic<bool> dying{false};

int take_signal_slot(int folder, const std::string& path) {
  if (path.size() >= kSlotPath) return -1;
  for (int i = 0; i < kSignalSlots; ++i) {
    int expected = 0;
    if (!slot_state[i].compare_exchange_strong(expected, 1)) continue;
    std::memcpy(slot_paths[i], path.c_str(), path.size() + 1);
    slot_folders[i] = folder;
    slot_state[i].store(2);
    return i;
  }
  return -1;
}

// Writes `text` and a decimal number to standard error from a signal handler.
void say_interrupted(const char* unit, long long number) {
  char text[96] = "wavconv: interrupted after ";
  std::size_t n = std::strlen(text);
  for (const char* c = unit; *c && n < 60; ++c) text[n++] = *c;
  text[n++] = ' ';
  char digits[24];
  int d = 0;
  do {
    digits[d++] = static_cast<char>('0' + number % 10);
    number /= 10;
  } while (number > 0 && d < 20);
  while (d > 0) text[n++] = digits[--d];
  for (char c : kAddedLineEnd) text[n++] = c;
  [[maybe_unused]] auto ignored = ::write(2, text, n);
}

extern "C" void remove_temporaries_and_end(int signal) {
  dying.store(true);
  // A thread creating a temporary file (never this one: the signals are held there) registers
  // it first.
  while (creating.load() > 0) {
  }
  for (int i = 0; i < kSignalSlots; ++i) {
    if (slot_state[i].load() == 2) platform::remove_named(slot_folders[i], slot_paths[i]);
  }
  const char* unit = interrupted_unit.load();
  long long after = interrupted_after.load();
  if (unit && after >= 0) say_interrupted(unit, after);
  platform::end_by_signal(signal);
}

bool holds_gse(std::string_view head) {
  for (std::string_view key : {"WID1", "WID2", "BEGIN", "DATA_TYPE"}) {
    if (head.substr(0, key.size()) == key) return true;
  }
  return false;
}

// True when the file at `path` is empty or begins as a file of `kind` does; `error` is the
// system's reason when it cannot be read.
bool holds_kind(const std::string& path, const FileKind& kind, int& error) {
  FileHandle file(platform::open_file(path, O_RDONLY));
  if (!file.valid()) {
    error = errno;
    return false;
  }
  std::string head(kind.head, '\0');
  std::size_t got = read_fully(file.get(), head.data(), head.size(), error);
  if (error != 0) return false;
  head.resize(got);
  return head.empty() || kind.holds(head);
}

// The temporary file's name beside the file `name`: ".<name>.XXXXXX.tmp", the name shortened
// when the whole would be longer than a directory entry may be.
std::string temporary_name(std::string name) {
  constexpr std::size_t kAdded = std::string_view("..XXXXXX.tmp").size();
  if (name.size() + kAdded > platform::kMaxNameLength) {
    name.resize(platform::kMaxNameLength - kAdded);
  }
  return "." + name + ".XXXXXX.tmp";
}

}  // namespace

const FileKind kGseFile = {"GSE", 9, holds_gse};

void prepare_process() { platform::prepare_process(remove_temporaries_and_end); }

OutputFile::OutputFile(FileHandle file, std::string target, bool target_existed,
                       platform::Folder folder, std::string temporary, std::string target_name)
    : file_(std::move(file)),
      target_(std::move(target)),
      folder_(std::move(folder)),
      temporary_(std::move(temporary)),
      target_name_(std::move(target_name)),
      target_existed_(target_existed),
      signal_slot_(temporary_.empty()
                       ? -1
                       : take_signal_slot(folder_.fd, platform::removal_name(folder_, temporary_))),
      buffer_(new char[kBufferSize]) {}

OutputFile::~OutputFile() {
  remove_temporary();
  platform::close_folder(folder_);
}

void OutputFile::remove_temporary() {
  if (temporary_.empty()) return;
  file_.close();
  platform::remove_named(folder_.fd, platform::removal_name(folder_, temporary_).c_str());
  forget_temporary();
}

void OutputFile::forget_temporary() {
  temporary_.clear();
  if (signal_slot_ >= 0) slot_state[signal_slot_].store(0);
  signal_slot_ = -1;
}

void note_progress(const char* unit, long long done) {
  interrupted_unit.store(unit);
  interrupted_after.store(done);
}

std::uint64_t bytes_written() { return bytes_written_total.load(); }

std::uint64_t bytes_kept() { return bytes_kept_total.load(); }

thread_local std::function<int(const std::string&)> before_replace_hook;

void set_before_replace(std::function<int(const std::string&)> hook) {
  before_replace_hook = std::move(hook);
}

OutputFile::Open OutputFile::examine(const std::string& path, const FileKind& kind, Target& target,
                                     int& error) {
  error = 0;
  if (path.empty()) {
    error = ENOENT;
    return Open::kFailed;
  }
  target.named = platform::named_descriptor(path);
  if (target.named >= 0) {
    if (::fstat(target.named, &target.info) != 0) {
      error = errno;
      return Open::kFailed;
    }
    return Open::kOpened;
  }
  std::optional<std::string> followed = platform::follow_links(path);
  if (!followed) return Open::kSharedLink;
  target.path = std::move(*followed);
  target.exists = ::stat(target.path.c_str(), &target.info) == 0;
  if (!target.exists) return Open::kOpened;
  if (S_ISDIR(target.info.st_mode)) {
    error = EISDIR;
    return Open::kFailed;
  }
  if (!S_ISREG(target.info.st_mode)) return Open::kOpened;
  // Only a file that this program or its peers could have written is replaced.
  if (!holds_kind(target.path, kind, error)) return error != 0 ? Open::kFailed : Open::kNotOfKind;
  // A file that may not be written is refused now: a rename over it would not notice.
  FileHandle probe(platform::open_file(target.path, O_WRONLY | O_CREAT));
  if (!probe.valid()) {
    error = errno;
    return error == EACCES || error == EPERM || error == EROFS ? Open::kWriteFails : Open::kFailed;
  }
  return Open::kOpened;
}

OutputFile::Open OutputFile::check(const std::string& path, const FileKind& kind, int& error) {
  Target target;
  Open result = examine(path, kind, target, error);
  if (result != Open::kOpened || target.named >= 0) return result;
  if (target.exists && !S_ISREG(target.info.st_mode)) {
    FileHandle handle(platform::open_file(target.path, O_WRONLY));
    error = handle.valid() ? 0 : errno;
    return handle.valid() ? Open::kOpened : Open::kFailed;
  }
  // The temporary file is created in the target's directory.
  std::size_t slash = target.path.find_last_of("/\\");
  std::string folder = slash == std::string::npos ? "." : target.path.substr(0, slash + 1);
  struct stat info;
  if (::stat(folder.c_str(), &info) != 0) {
    error = errno;
    return Open::kFailed;
  }
  if (!S_ISDIR(info.st_mode)) {
    error = ENOTDIR;
    return Open::kFailed;
  }
  if (!platform::may_create_in(folder)) {
    error = errno;
    return Open::kFailed;
  }
  return Open::kOpened;
}

OutputFile::Open OutputFile::open(const std::string& path, const FileKind& kind,
                                  std::unique_ptr<OutputFile>& file, int& error) {
  file.reset();
  Target target;
  Open result = examine(path, kind, target, error);
  if (result == Open::kWriteFails) {
    file.reset(new OutputFile(FileHandle(), target.path, true));
    file->fail(error);
    return result;
  }
  if (result != Open::kOpened) return result;
  if (target.named >= 0) {
    // Written through the descriptor as it is: into a pipe, or appended where it appends.
    FileHandle handle(platform::duplicate(target.named));
    if (!handle.valid()) {
      error = errno;
      return Open::kFailed;
    }
    file.reset(new OutputFile(std::move(handle), path, true));
    return Open::kOpened;
  }
  if (target.exists && !S_ISREG(target.info.st_mode)) {
    FileHandle handle(platform::open_file(target.path, O_WRONLY));
    if (!handle.valid()) {
      error = errno;
      return Open::kFailed;
    }
    file.reset(new OutputFile(std::move(handle), target.path, true));
    return Open::kOpened;
  }
  // The temporary file is made in the target's folder, by name: the whole path may be as long
  // as the system allows for the target's.
  std::size_t slash = target.path.find_last_of(platform::kPathSeparators);
  std::string name = slash == std::string::npos ? target.path : target.path.substr(slash + 1);
  platform::Folder folder =
      platform::open_folder(slash == std::string::npos ? "" : target.path.substr(0, slash + 1));
#ifndef _WIN32
  if (folder.fd < 0) {
    error = errno;
    return Open::kFailed;
  }
#endif
  std::string temporary = temporary_name(name);
  {
    // The signals that remove temporary files wait until this one is known to their handler:
    // in this thread they are held; a handler running in another thread waits for `creating`.
    platform::InterruptsHeld held;
    creating.fetch_add(1);
    if (dying.load()) {
      creating.fetch_sub(1);
      error = EINTR;
      return Open::kFailed;
    }
    FileHandle handle(platform::create_unique(folder, temporary));
    error = handle.valid() ? 0 : errno;
    if (handle.valid()) {
      file.reset(new OutputFile(std::move(handle), target.path, target.exists, std::move(folder),
                                temporary, name));
    }
    creating.fetch_sub(1);
  }
  if (!file) {
    platform::close_folder(folder);
    return Open::kFailed;
  }
  // The new file takes the mode an ordinary creation would give, or the replaced file's.
  platform::take_mode(file->file_.get(), target.exists ? &target.info : nullptr);
  return Open::kOpened;
}

bool OutputFile::fail(int error) {
  if (ok_) error_ = error;
  ok_ = false;
  return false;
}

bool OutputFile::write_out(const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t done = ::write(file_.get(), data, size);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return fail(done < 0 ? errno : EIO);
    data += done;
    size -= static_cast<std::size_t>(done);
    bytes_written_total.fetch_add(static_cast<std::uint64_t>(done), std::memory_order_relaxed);
    written_ += static_cast<std::uint64_t>(done);
  }
  return true;
}

bool OutputFile::flush() {
  if (!ok_) return false;
  std::size_t used = used_;
  used_ = 0;
  return used == 0 || write_out(buffer_.get(), used);
}

bool OutputFile::put_bytes(std::string_view text) {
  if (!ok_ || finished_) return false;
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

char* OutputFile::reserve(std::size_t size) {
  if (!ok_ || finished_ || size > kBufferSize) return nullptr;
  if (used_ + size > kBufferSize && !flush()) return nullptr;
  reserved_ = size;
  return buffer_.get() + used_;
}

void OutputFile::commit(std::size_t used) {
  if (used > reserved_) {
    fail(EOVERFLOW);
    return;
  }
  used_ += used;
  reserved_ = 0;
}

bool OutputFile::put_line(std::string_view line) { return put_bytes(line) && put_bytes("\r\n"); }

bool OutputFile::finish() {
  if (finished_) return ok_;
  finished_ = true;
  flush();
  // The old file goes only when the new one's data is on the disk; a new file has nothing to
  // lose and is not waited for.
  if (ok_ && target_existed_ && !temporary_.empty() && !platform::flush_data(file_.get())) {
    fail(errno);
  }
  if (!file_.close() && ok_) fail(errno);
  buffer_.reset();  // a finished file waiting for its turn holds no buffer
  return ok_;
}

bool OutputFile::close() {
  finish();
  if (ok_ && !temporary_.empty() && before_replace_hook) {
    if (int refusal = before_replace_hook(target_)) fail(refusal);
  }
  if (ok_ && !temporary_.empty()) {
    if (!platform::replace_file(folder_, temporary_, target_name_, target_existed_)) {
      fail(errno);
    } else {
      forget_temporary();
    }
  }
  remove_temporary();
  bool result = ok_;
  if (result) bytes_kept_total.fetch_add(written_, std::memory_order_relaxed);
  ok_ = false;
  return result;
}

}  // namespace wavconv::common
