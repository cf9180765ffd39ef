#include "gse/block.h"

#include <algorithm>

#include "common/field_edit.h"
#include "gse/data_lines.h"

namespace wavconv::gse {
namespace {

constexpr std::size_t kLineLength = 80;

// Puts `text` into columns first..first+size-1 (from 1) of `line`.
void place(std::string& line, std::size_t first, std::string_view text) {
  std::copy(text.begin(), text.end(), line.begin() + (first - 1));
}

std::string marker_line(std::string_view marker) {
  std::string line(kLineLength, ' ');
  place(line, 1, marker);
  return line;
}

// A text field in `width` columns, each NUL written as a blank.
std::string text_field(std::string_view text, int width) {
  std::string field = common::edit_text(text, width);
  for (char& c : field) {
    if (c == '\0') c = ' ';
  }
  return field;
}

}  // namespace

common::Calendar block_start(double time, float samprate, const Window& window, bool milliseconds) {
  double offset = static_cast<double>(window.first - 1) / static_cast<double>(samprate);
  if (!milliseconds) {
    return common::to_calendar(common::nearest_integer(time + offset, "the start time"));
  }
  return common::to_calendar_milliseconds(
      common::nearest_integer((time + offset) * 1000.0, "the start time"));
}

std::span<const std::int32_t> block_samples(std::span<const std::int32_t> segment,
                                            const Window& window) {
  if (window.count() == 0) return {};
  return segment.subspan(static_cast<std::size_t>(window.first - 1),
                         static_cast<std::size_t>(window.count()));
}

std::string wid1_line(const common::Calendar& start, std::string_view day_text, std::int64_t count,
                      const css::Wfdisc& record) {
  std::string line(kLineLength, ' ');
  place(line, 1, "WID1");
  place(line, 7, common::edit_integer(start.year, 4));
  place(line, 11, day_text.substr(0, 3));
  place(line, 15, common::edit_integer(start.hour, 2));
  place(line, 18, common::edit_integer(start.minute, 2));
  place(line, 21, common::edit_integer(start.second, 2));
  place(line, 24, common::edit_integer(start.millisecond, 3));
  place(line, 28, common::edit_integer(count, 8));
  place(line, 37, text_field(record.sta, 6));
  std::string channel = text_field(record.chan, 3);
  place(line, 44, channel);
  place(line, 53, channel.substr(0, 1));
  place(line, 54, channel.substr(2, 1));
  place(line, 56, common::edit_real(record.samprate, 11, 7));
  place(line, 68, text_field(record.instype, 6));
  place(line, 75, "INT8");
  place(line, 80, "0");
  return line;
}

std::string calibration_line(const css::Wfdisc& record) {
  std::string line(kLineLength, ' ');
  place(line, 1, common::edit_real(record.calib, 9, 6));
  place(line, 10, "1");
  place(line, 11, common::edit_real(record.calper, 7, 4));
  for (std::size_t column : {19, 29, 39, 49}) place(line, column, common::edit_real(0.0f, 9, 4));
  place(line, 59, common::edit_real(-1.0f, 7, 2));
  place(line, 67, common::edit_real(-1.0f, 7, 2));
  place(line, 75, common::edit_real(-1.0f, 6, 1));
  return line;
}

std::string checksum_line(std::int64_t checksum) {
  std::string line = marker_line("CHK1");
  place(line, 10, common::edit_integer(checksum, 15));
  return line;
}

BlockResult write_block(const css::Wfdisc& record, const common::Calendar& start,
                        std::string_view day_text, std::span<const std::int32_t> samples,
                        common::LineSink& sink, bool stop) {
  BlockResult result{false, 0};
  if (!sink.put_line(wid1_line(start, day_text, samples.size(), record))) return result;
  if (!sink.put_line(calibration_line(record))) return result;
  if (!sink.put_line(marker_line("DAT1"))) return result;
  Checksum checksum;
  if (!write_data_lines(samples, sink, checksum, result.too_wide)) return result;
  if (!sink.put_line(checksum_line(checksum.value()))) return result;
  if (stop && !sink.put_line(stop_line())) return result;
  result.written = true;
  return result;
}

std::string stop_line() { return marker_line("STOP"); }

}  // namespace wavconv::gse
