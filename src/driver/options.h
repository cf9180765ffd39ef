#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/console.h"

namespace wavconv::driver {

// The run settings from the command line.
struct Settings {
  std::string InHFile;                 // the first name
  std::optional<std::string> OutFile;  // the second name, when two or more are given
  std::int32_t jump = 0;               // seconds skipped at the start
  std::int32_t length = 99999;         // seconds kept; 99999: to the end
  std::string dirin;                   // prefixes of the header and output paths; a first
  std::string dirout;                  // blank or NUL, or none, means none
};

// Sorts the arguments (without the program name) into names and options and reads the
// options. Shows the usage screen and stops when no name is given or the first name begins
// with "?" or is "-h" or "--help". A J or L value that is not a number ends the run with the
// fatal report.
Settings parse_options(const std::vector<std::string>& args, common::Console& console);

}  // namespace wavconv::driver
