#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "common/stop.h"

namespace wavconv::common {

// Standard output with carriage control, and standard error for the fatal report. The first
// character of each record is the control character; a record's line end is written when the
// next record or the end of the run comes.
class Console {
 public:
  Console(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

  void write(std::string_view record);
  void write(const std::vector<std::string>& records);

  // A list write of one text item: the text on a line of its own.
  void list_write(std::string_view text);

  // Writes the end-of-run bytes for `stop` and returns the exit status.
  int finish(const Stop& stop);

  bool line_pending() const { return line_pending_; }

 private:
  void put(std::string_view bytes);

  std::ostream& out_;
  std::ostream& err_;
  bool line_pending_ = false;
};

}  // namespace wavconv::common
