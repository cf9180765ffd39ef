#pragma once

#include <string>
#include <vector>

#include "common/console.h"
#include "driver/options.h"

namespace wavconv::driver {

// One whole conversion from the arguments (without the program name). Every end of the run
// goes through `console`; returns the exit status.
int run(const std::vector<std::string>& args, common::Console& console);

// The default run of one header: its first record, the whole sample file as little-endian
// 32-bit integers, one block. Ends by throwing a Stop.
[[noreturn]] void convert_default(const Settings& settings, common::Console& console);

}  // namespace wavconv::driver
