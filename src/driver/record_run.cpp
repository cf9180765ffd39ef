#include "driver/record_run.h"

#include <sys/stat.h>

#include "common/stop.h"
#include "common/text.h"

namespace wavconv::driver {

css::SampleSource locate(const std::string& header_path, const css::Wfdisc& record) {
  css::SampleSource source;
  source.path = css::record_sample_path(header_path, record);
  struct stat info;
  if (::stat(source.path.c_str(), &info) != 0 &&
      ::stat((source.path + ".gz").c_str(), &info) == 0) {
    source.path += ".gz";
  }
  source.gzip =
      source.path.size() >= 3 && source.path.compare(source.path.size() - 3, 3, ".gz") == 0;
  source.foff = record.foff;
  source.nsamp = record.nsamp;
  source.datatype = record.datatype;
  return source;
}

void report_refusal(common::Console& console, const std::string& label,
                    const css::Refusal& refusal) {
  if (refusal.system_error != 0) {
    console.write_error(common::system_error_line(refusal.path, refusal.system_error));
  }
  console.write_line(label + common::printable(refusal.why));
}

void end_records_run(std::int64_t refused, std::int64_t total, bool query, bool table_refused) {
  if (refused > 0) {
    common::stop(" Error: " + std::to_string(refused) + " of " + std::to_string(total) +
                     (query ? " records cannot be converted" : " records not converted"),
                 common::kFailure);
  }
  if (table_refused) {
    common::stop(" Error: a station table was refused; the records converted without it",
                 common::kFailure);
  }
  common::stop(" ", common::kSuccess);
}

}  // namespace wavconv::driver
