#include "gse/block.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

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

std::optional<common::Calendar> block_start(double time, double samprate, const Window& window,
                                            bool milliseconds) {
  double offset = static_cast<double>(window.first - 1) / samprate;
  std::optional<std::int64_t> start =
      common::to_nearest_integer(milliseconds ? (time + offset) * 1000.0 : time + offset);
  if (!start) return std::nullopt;
  return milliseconds ? common::to_calendar_milliseconds(*start) : common::to_calendar(*start);
}

std::span<const std::int32_t> block_samples(std::span<const std::int32_t> segment,
                                            const Window& window) {
  if (window.count() == 0) return {};
  return segment.subspan(static_cast<std::size_t>(window.first - 1),
                         static_cast<std::size_t>(window.count()));
}

std::string wid1_line(const common::Trace& trace, std::int64_t count) {
  const common::Calendar& start = trace.to_the_millisecond ? trace.start : trace.whole_second_start;
  std::string line(kLineLength, ' ');
  place(line, 1, "WID1");
  place(line, 7, common::edit_integer(start.year, 4));
  place(line, 11, std::string_view(trace.day_text).substr(0, 3));
  place(line, 15, common::edit_integer(start.hour, 2));
  place(line, 18, common::edit_integer(start.minute, 2));
  place(line, 21, common::edit_integer(start.second, 2));
  place(line, 24, common::edit_integer(start.millisecond, 3));
  place(line, 28, common::edit_integer(count, 8));
  place(line, 37, text_field(trace.sta, 6));
  std::string channel = text_field(trace.chan, 3);
  place(line, 44, channel);
  place(line, 53, channel.substr(0, 1));
  place(line, 54, channel.substr(2, 1));
  // The default run shows the samprate as a 32-bit real, as its files always had it.
  place(line, 56,
        trace.to_the_millisecond ? common::edit_real(trace.samprate, 11, 7, 16)
                                 : common::edit_real(static_cast<float>(trace.samprate), 11, 7));
  place(line, 68, text_field(trace.instype, 6));
  place(line, 75, "INT8");
  place(line, 80, "0");
  return line;
}

std::string calibration_line(const common::Trace& trace) {
  std::string line(kLineLength, ' ');
  place(line, 1, common::edit_real(trace.calib, 9, 6));
  place(line, 10, "1");
  place(line, 11, common::edit_real(trace.calper, 7, 4));
  // Latitude, longitude, elevation and emplacement depth, then hang and vang, where the station
  // tables gave them; 0.0 and -1.0 otherwise.
  const common::Placement& p = trace.placement;
  std::optional<double> places[] = {p.latitude, p.longitude, p.elevation, p.depth};
  std::size_t columns[] = {19, 29, 39, 49};
  for (std::size_t i = 0; i < 4; ++i) {
    place(line, columns[i], common::edit_real(static_cast<float>(places[i].value_or(0.0)), 9, 4));
  }
  place(line, 59, common::edit_real(static_cast<float>(p.hang.value_or(-1.0)), 7, 2));
  place(line, 67, common::edit_real(static_cast<float>(p.vang.value_or(-1.0)), 7, 2));
  place(line, 75, common::edit_real(-1.0f, 6, 1));
  return line;
}

std::string checksum_line(std::int64_t checksum) {
  std::string line = marker_line("CHK1");
  place(line, 10, common::edit_integer(checksum, 15));
  return line;
}

std::string stop_line() { return marker_line("STOP"); }

namespace {

// GSE1.0 blocks with INT8 data, every line ended by CR LF; STOP ends the file. A sample too wide
// for 8 columns is written as eight asterisks (and counted), its true value in the checksum.
class Gse1Writer : public Writer {
 public:
  SampleLimit sample_limit() const override { return {-9'999'999, 99'999'999, "8 columns"}; }
  std::optional<std::string> refusal(const common::Trace&) const override { return {}; }
  std::optional<double> calib_loss(double calib) const override {
    std::string text = common::edit_real(static_cast<float>(calib), 9, 6);
    char* end = nullptr;
    double shown = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || calib == 0 || shown == 0) return std::nullopt;
    return std::fabs(shown - calib) / std::fabs(calib);
  }
  bool start_file(common::Sink&, std::string_view) override { return true; }
  BlockResult write_block(const common::Trace& trace, common::Sink& sink) override {
    BlockResult result{false, 0};
    if (!sink.put_line(wid1_line(trace, static_cast<std::int64_t>(trace.samples.size())))) {
      return result;
    }
    if (!sink.put_line(calibration_line(trace))) return result;
    if (!sink.put_line(marker_line("DAT1"))) return result;
    Checksum checksum;
    if (!write_data_lines(trace.samples, sink, checksum, result.too_wide)) return result;
    if (!sink.put_line(checksum_line(checksum.value()))) return result;
    result.written = true;
    return result;
  }
  bool end_file(common::Sink& sink) override { return sink.put_line(stop_line()); }
};

}  // namespace

std::unique_ptr<Writer> make_gse1_writer(const WriterOptions&) {
  return std::make_unique<Gse1Writer>();
}

}  // namespace wavconv::gse
