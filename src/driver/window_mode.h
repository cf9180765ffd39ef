#pragma once

#include "common/console.h"
#include "driver/options.h"

namespace wavconv::driver {

// A window cut out of the archive (--from, --to, --sta, --chan): the samples of every selected
// record within it, records of one station and channel that continue each other joined into
// one block, written in order of station, channel and time; with /Q only listed. Ends by
// throwing a Stop.
[[noreturn]] void convert_window(const Settings& settings, common::Console& console);

// The answer to a REQUEST message (--request): a DATA message with a section of waveforms for
// each WAVEFORM line (its window cut as convert_window() cuts it) and an ERROR_LOG section for
// the lines not answered, to OutFile or standard output. Ends by throwing a Stop.
[[noreturn]] void answer_request(const Settings& settings, common::Console& console);

}  // namespace wavconv::driver
