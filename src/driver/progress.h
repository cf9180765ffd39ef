#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "common/console.h"

namespace wavconv::driver {

// How a run of many records or headers goes: a progress line on standard error while it is a
// terminal (redrawn at most ten times a second, cleared at the end), the item the interrupt
// message names, and the summary line at the end.
class Progress {
 public:
  // `unit` is "record" or "header"; `total` the number of items.
  Progress(common::Console& console, const char* unit, std::int64_t total);
  // A run that ends early leaves no progress line behind.
  ~Progress() { clear(); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // `done` items are finished.
  void update(std::int64_t done);
  // Clears the progress line, for other lines to be written.
  void clear();
  // Clears the progress line and writes "wavconv: k of n <unit>s converted, r refused; X MB in
  // T s" (n = k + r, the megabytes of the outputs kept); `unit` when it is not the progress's.
  void summary(std::int64_t converted, std::int64_t refused, const char* unit = nullptr);

 private:
  common::Console& console_;
  const char* unit_;
  std::int64_t total_;
  bool shown_;             // a terminal, and more than one item
  std::size_t drawn_ = 0;  // characters of the line on the terminal
  std::uint64_t bytes_at_start_, kept_at_start_;
  std::chrono::steady_clock::time_point start_, last_draw_;
};

// The megabytes of `bytes` as the summary writes them.
std::string megabytes(std::uint64_t bytes);

}  // namespace wavconv::driver
