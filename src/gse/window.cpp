#include "gse/window.h"

#include "common/calendar.h"

namespace wavconv::gse {

Window choose_window(std::int32_t jump, std::int32_t length, float samprate, std::int64_t nsamp) {
  double rate = samprate;
  std::int64_t first = common::nearest_integer(jump * rate, "jump x samprate") + 1;
  if (first >= nsamp) first = 1;  // a jump onto the last sample restarts too
  if (first < 1) first = 1;
  std::int64_t last = nsamp;
  if (length != kWholeSegment) {
    std::int64_t kept = common::nearest_integer(length * rate, "length x samprate");
    if (__builtin_add_overflow(first, kept, &last) || last > nsamp) last = nsamp;
  }
  return Window{first, last};
}

}  // namespace wavconv::gse
