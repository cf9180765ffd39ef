#include "gse/window.h"

#include "common/calendar.h"

namespace wavconv::gse {

std::optional<Window> choose_window(std::int32_t jump, std::int32_t length, double samprate,
                                    std::int64_t nsamp, const char** overflow) {
  double rate = samprate;
  std::optional<std::int64_t> jumped = common::to_nearest_integer(jump * rate);
  if (!jumped) {
    if (overflow) *overflow = "jump x samprate";
    return std::nullopt;
  }
  std::int64_t first = *jumped + 1;
  if (first >= nsamp) first = 1;  // a jump onto the last sample restarts too
  if (first < 1) first = 1;
  std::int64_t last = nsamp;
  if (length != kWholeSegment) {
    std::optional<std::int64_t> kept = common::to_nearest_integer(length * rate);
    if (!kept) {
      if (overflow) *overflow = "length x samprate";
      return std::nullopt;
    }
    if (__builtin_add_overflow(first, *kept, &last) || last > nsamp) last = nsamp;
  }
  return Window{first, last};
}

}  // namespace wavconv::gse
