#pragma once

#include "common/console.h"
#include "driver/options.h"

namespace wavconv::driver {

// Record mode (/R): every selected record of the header file converted as it describes itself,
// or refused with a message line; with /Q only listed. Ends by throwing a Stop.
[[noreturn]] void convert_records(const Settings& settings, common::Console& console);

}  // namespace wavconv::driver
