#pragma once

#include <string>
#include <vector>

#include "common/console.h"

namespace wavconv::driver {

// One whole conversion from the arguments (without the program name). Every end of the run
// goes through `console`; returns the exit status.
int run(const std::vector<std::string>& args, common::Console& console);

}  // namespace wavconv::driver
