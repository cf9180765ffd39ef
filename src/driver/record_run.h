#pragma once

#include <cstdint>
#include <string>

#include "common/console.h"
#include "css/sample_reader.h"
#include "css/wfdisc.h"

namespace wavconv::driver {

// What the runs over a header's records (record mode, a window) share.

// Where a record's samples are: the resolved path, or the same with ".gz" when only that
// exists; read through zlib when the name ends in ".gz".
css::SampleSource locate(const std::string& header_path, const css::Wfdisc& record);

// A record's refusal: the system's reason on standard error when a call failed, then the
// record's line (`label` is " Record n (STA CHAN): ").
void report_refusal(common::Console& console, const std::string& label,
                    const css::Refusal& refusal);

// Ends a run over `total` records of which `refused` were not converted (with /Q, `query`:
// could not be); a refused station table fails a run that converted every record.
[[noreturn]] void end_records_run(std::int64_t refused, std::int64_t total, bool query,
                                  bool table_refused);

}  // namespace wavconv::driver
