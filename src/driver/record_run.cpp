#include "driver/record_run.h"

#include <sys/stat.h>

#include <cstdio>
#include <vector>

#include "common/stop.h"
#include "common/text.h"
#include "driver/output.h"

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

void report_rounding(common::Console& console, const std::string& label,
                     const css::Rounding& rounding) {
  if (rounding.changed == 0) return;
  char largest[32];
  std::snprintf(largest, sizeof largest, "%.6g", rounding.largest);
  console.write_line(label + std::to_string(rounding.changed) + " samples rounded, at most " +
                     largest);
}

css::StationTables load_station_tables(const std::string& header_path,
                                       const std::function<bool(std::string_view)>& wanted,
                                       common::Console& console, bool& refused) {
  std::vector<std::string> problems;
  css::StationTables tables = css::StationTables::load(header_path, wanted, problems, refused);
  for (const std::string& problem : problems) {
    console.write_error(common::error_line(common::printable(problem)));
  }
  return tables;
}

std::string names_shown(const Identity& identity, std::string_view sta, std::string_view chan) {
  auto shown = [](std::string_view a, std::string_view b) {
    return common::printable(common::cut_at_blank(a)) + " " +
           common::printable(common::cut_at_blank(b));
  };
  std::string names = shown(sta, chan);
  if (identity.renames.empty()) return names;
  auto [new_sta, new_chan] = renamed(identity.renames, sta, chan);
  std::string written = shown(new_sta, new_chan);
  return written == names ? names : names + " as " + written;
}

void stop_one_trace_per_file(const gse::OutputFormat& format, std::int64_t count,
                             const char* what) {
  common::stop_with_error(
      common::error_line(std::string("/T") + format.name + " writes one trace a file: the output " +
                         "would hold " + std::to_string(count) + " " + what +
                         "; choose one (/Rn, --sta, --chan) or leave out OutFile for a file each"),
      common::kFailure);
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

void RunFiles::add_input(const std::string& path) {
  if (auto key = identity_key(path)) inputs_.insert(*key);
}

void RunFiles::refuse_input_as_output(const std::string& path, common::Console& console) const {
  std::optional<std::uint64_t> key = identity_key(path);
  if (key && inputs_.contains(*key)) {
    console.write_error(common::error_line(common::printable(path) +
                                           ": is the header or a sample file, not replaced"));
    common::stop(kOpenOutputFailed, common::kFailure);
  }
}

std::optional<css::Refusal> RunFiles::claim(const std::string& path, std::uint64_t& key) const {
  std::optional<std::uint64_t> existing = identity_key(path);
  key = existing ? *existing : path_key(path);
  if (written_.contains(key)) return css::Refusal{"output " + path + " was written by this run"};
  if (existing && inputs_.contains(*existing)) {
    return css::Refusal{"output " + path + " would replace an input"};
  }
  return std::nullopt;
}

std::optional<css::Refusal> RunFiles::query(const std::string& path, common::Console& console) {
  std::uint64_t key = 0;
  if (std::optional<css::Refusal> refusal = claim(path, key)) return refusal;
  std::string refusal;
  if (!check_output(path, kind_, console, &refusal)) {
    return css::Refusal{"output " + path + ": " + refusal};
  }
  written_.insert(key);
  return std::nullopt;
}

void RunFiles::placed(const std::string& path, std::uint64_t key) {
  written_.insert(identity_key(path).value_or(key));
}

void OneOutput::put(common::Console& console, const std::function<bool(common::Sink&)>& put) {
  if (query_) {
    if (!checked_) checked_ = check_output(path_, kind_, console);
    return;
  }
  if (!file_) {
    file_ = open_output(path_, kind_, console);
    if (!writer_.start_file(*file_, file_name(path_))) stop_write_failed(path_, *file_, console);
  }
  if (!put(*file_)) stop_write_failed(path_, *file_, console);
}

void OneOutput::close(common::Console& console) {
  if (file_ && !(writer_.end_file(*file_) && file_->close())) {
    stop_write_failed(path_, *file_, console);
  }
}

}  // namespace wavconv::driver
