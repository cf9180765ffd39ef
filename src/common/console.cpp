#include "common/console.h"

#include <unistd.h>

#include <cerrno>

namespace wavconv::common {
namespace {
constexpr std::string_view kLineEnd = "\r\n";
}

void DescriptorSink::write(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t done = ::write(fd_, bytes.data(), bytes.size());
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(done));
  }
}

void Console::put(std::string_view bytes) { (records_to_error_ ? err_ : out_).write(bytes); }

void Console::write_line(std::string_view text) {
  if (line_pending_ && !ended_) put(kLineEnd);
  put(text);
  line_pending_ = true;
  ended_ = false;
}

void Console::write_records(const std::vector<std::string>& records) {
  for (const std::string& record : records) {
    write_line(record.empty() ? std::string_view() : std::string_view(record).substr(1));
  }
}

void Console::write_error(std::string_view text) {
  // The open console line is ended first, so that a log of both streams keeps lines apart.
  if (line_pending_ && !ended_) put(kLineEnd);
  ended_ = true;
  err_.write(text);
}

int Console::finish(const Stop& stop) {
  const bool owed = line_pending_ && !ended_;  // the last console line's end is not written yet
  if (stop.kind == Stop::Kind::kFatal) {
    err_.write(stop.text);
    if (owed) put(kLineEnd);
  } else if (stop.kind == Stop::Kind::kPlain) {
    if (owed) put(kLineEnd);
    put(stop.text);
  } else {
    if (owed) put(kLineEnd);
    put(stop.kind == Stop::Kind::kMessage ? std::string_view(stop.text)
                                          : std::string_view("Stop - Program terminated."));
    put(kLineEnd);
    // After console lines, the message is followed by an empty line.
    if (line_pending_) put(kLineEnd);
  }
  return stop.status;
}

}  // namespace wavconv::common
