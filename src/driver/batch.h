#pragma once

#include "common/console.h"
#include "driver/options.h"

namespace wavconv::driver {

// /M: every name a header, each converted as a run with that name alone would convert it, by
// several threads; what each says goes to standard error in the order of the names, and one
// stop line ends the run. Ends by throwing a Stop.
[[noreturn]] void convert_many(const Settings& settings, common::Console& console);

}  // namespace wavconv::driver
