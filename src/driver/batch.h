#pragma once

#include "common/console.h"
#include "driver/options.h"

namespace wavconv::driver {

// Tells a /M run that the header converted in this thread reads `path` (a header, a sample file,
// a station table): a header that reads another's output is refused, and so is an output that
// would replace an earlier header's input. Outside /M it does nothing.
void note_input(const std::string& path);

// /M: every name a header, each converted as a run with that name alone would convert it, by
// several threads; what each says goes to standard error in the order of the names, and one
// stop line ends the run. Ends by throwing a Stop.
[[noreturn]] void convert_many(const Settings& settings, common::Console& console);

}  // namespace wavconv::driver
