#include "driver/progress.h"

#include <unistd.h>

#include <cstdio>

#include "common/files.h"
#include "common/stop.h"

namespace wavconv::driver {

std::string megabytes(std::uint64_t bytes) {
  char text[32];
  double mb = static_cast<double>(bytes) / 1e6;
  std::snprintf(text, sizeof text, mb < 10 ? "%.1f" : "%.0f", mb);
  return text;
}

Progress::Progress(common::Console& console, const char* unit, std::int64_t total)
    : console_(console),
      unit_(unit),
      total_(total),
      shown_(total > 1 && ::isatty(2) == 1),
      bytes_at_start_(common::bytes_written()),
      kept_at_start_(common::bytes_kept()),
      start_(std::chrono::steady_clock::now()),
      last_draw_(start_ - std::chrono::seconds(1)) {
  common::note_progress(total > 1 ? unit : nullptr, 0);
}

void Progress::update(std::int64_t done) {
  if (total_ > 1) common::note_progress(unit_, done);
  if (!shown_) return;
  auto now = std::chrono::steady_clock::now();
  if (now - last_draw_ < std::chrono::milliseconds(100) && done < total_) return;
  last_draw_ = now;
  double seconds = std::chrono::duration<double>(now - start_).count();
  std::uint64_t bytes = common::bytes_written() - bytes_at_start_;
  char text[128];
  int n = std::snprintf(text, sizeof text, "\r%lld/%lld %ss, %s MB, %.1f MB/s",
                        static_cast<long long>(done), static_cast<long long>(total_), unit_,
                        megabytes(bytes).c_str(),
                        seconds > 0 ? static_cast<double>(bytes) / 1e6 / seconds : 0.0);
  std::string line(text, static_cast<std::size_t>(n));
  // Blanks over what a longer line left.
  if (line.size() - 1 < drawn_) line.append(drawn_ - (line.size() - 1), ' ');
  drawn_ = line.size() - 1;
  console_.write_error(line);
}

void Progress::clear() {
  if (!shown_ || drawn_ == 0) return;
  std::string blank(drawn_ + 2, ' ');
  blank.front() = blank.back() = '\r';
  console_.write_error(blank);
  drawn_ = 0;
  last_draw_ = std::chrono::steady_clock::now() - std::chrono::seconds(1);
}

void Progress::summary(std::int64_t converted, std::int64_t refused, const char* unit) {
  clear();
  if (total_ <= 1) return;
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  char text[160];
  std::snprintf(text, sizeof text, "%lld of %lld %ss converted, %lld refused; %s MB in %.1f s",
                static_cast<long long>(converted), static_cast<long long>(converted + refused),
                unit ? unit : unit_, static_cast<long long>(refused),
                megabytes(common::bytes_kept() - kept_at_start_).c_str(), seconds);
  console_.write_error(common::error_line(text));
  common::note_progress(nullptr, -1);
}

}  // namespace wavconv::driver
