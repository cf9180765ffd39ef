#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/stop.h"

namespace wavconv::common {

// Where console bytes go.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual void write(std::string_view bytes) = 0;
};

// A file descriptor (standard output or error), written at once; a failed write, such as to a
// reader that has gone, is dropped.
class DescriptorSink : public ByteSink {
 public:
  explicit DescriptorSink(int fd) : fd_(fd) {}
  void write(std::string_view bytes) override;

 private:
  int fd_;
};

// Bytes kept in memory.
struct StringSink : ByteSink {
  std::string text;
  void write(std::string_view bytes) override { text.append(bytes); }
};

// Standard output, one line at a time, and standard error for the fatal report. A line's CR LF
// is written when the next line or the end of the run comes.
class Console {
 public:
  Console(ByteSink& out, ByteSink& err) : out_(out), err_(err) {}

  // `text` as a new line.
  void write_line(std::string_view text);

  // Records of a field-format write: each record's text from its second character on as a new
  // line (the first character is the column that precedes every printed record).
  void write_records(const std::vector<std::string>& records);

  // Bytes for standard error, such as an error_line().
  void write_error(std::string_view text);

  // From now on the console lines go to standard error (standard output carries a file).
  void records_to_error() { records_to_error_ = true; }

  // Writes the end-of-run bytes for `stop` and returns the exit status.
  int finish(const Stop& stop);

 private:
  void put(std::string_view bytes);

  ByteSink& out_;
  ByteSink& err_;
  bool line_pending_ = false;  // a console line has been written
  bool ended_ = false;         // and its line end too (before a line on standard error)
  bool records_to_error_ = false;
};

}  // namespace wavconv::common
