#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/calendar.h"
#include "common/files.h"
#include "common/trace.h"
#include "gse/window.h"
#include "gse/writer.h"

namespace wavconv::gse {

// The date and time of the window's first sample, `time` + (first - 1) / `samprate`, to the
// nearest second, or with `milliseconds` to the nearest millisecond (halves away from zero).
// Nothing for a time beyond the 64-bit range.
std::optional<common::Calendar> block_start(double time, double samprate, const Window& window,
                                            bool milliseconds = false);

// The samples of the window, from all the segment's samples (counted from 0).
std::span<const std::int32_t> block_samples(std::span<const std::int32_t> segment,
                                            const Window& window);

// The GSE1.0 WID1 line: start date and time, day text, sample count, station, channel code,
// samprate, instrument type, "INT8" and "0"; 80 columns. A NUL in a text field is written as a
// blank.
std::string wid1_line(const common::Trace& trace, std::int64_t count);

// The second header line: calib, calper and the fixed fields; 80 columns.
std::string calibration_line(const common::Trace& trace);

// "CHK1" with the checksum in columns 10-24; 80 columns.
std::string checksum_line(std::int64_t checksum);

// The STOP line that ends a file of blocks.
std::string stop_line();

}  // namespace wavconv::gse
