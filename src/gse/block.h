#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/calendar.h"
#include "common/files.h"
#include "css/wfdisc.h"
#include "gse/window.h"

namespace wavconv::gse {

// The date and time of the window's first sample, `time` + (first - 1) / `samprate`, to the
// nearest second, or with `milliseconds` to the nearest millisecond (halves away from zero). A
// time beyond the 64-bit range ends the run with the floating-point fatal report.
common::Calendar block_start(double time, float samprate, const Window& window,
                             bool milliseconds = false);

// The samples of the window, from all the segment's samples (counted from 0).
std::span<const std::int32_t> block_samples(std::span<const std::int32_t> segment,
                                            const Window& window);

// The WID1 line: start date and time, day text, sample count, station, channel code,
// samprate, instrument type, "INT8" and "0"; 80 columns. A NUL in a text field is written
// as a blank.
std::string wid1_line(const common::Calendar& start, std::string_view day_text, std::int64_t count,
                      const css::Wfdisc& record);

// The second header line: calib, calper and the fixed fields; 80 columns.
std::string calibration_line(const css::Wfdisc& record);

// "CHK1" with the checksum in columns 10-24; 80 columns.
std::string checksum_line(std::int64_t checksum);

struct BlockResult {
  bool written;           // false: a write failed; the sink holds what was written before
  std::int64_t too_wide;  // samples written as asterisks
};

// The whole waveform block of `samples`: WID1, the calibration line, DAT1, data lines, CHK1
// with their checksum, and (unless more blocks follow in the same file) STOP.
BlockResult write_block(const css::Wfdisc& record, const common::Calendar& start,
                        std::string_view day_text, std::span<const std::int32_t> samples,
                        common::LineSink& sink, bool stop_line = true);

// The STOP line that ends a file of blocks.
std::string stop_line();

}  // namespace wavconv::gse
