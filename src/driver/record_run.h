#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "common/console.h"
#include "common/files.h"
#include "css/sample_reader.h"
#include "css/site.h"
#include "css/wfdisc.h"
#include "driver/file_keys.h"
#include "driver/identity.h"
#include "gse/writer.h"

namespace wavconv::driver {

// What the runs over a header's records (record mode, a window) share.

// Where a record's samples are: the resolved path, or the same with ".gz" when only that
// exists; read through zlib when the name ends in ".gz".
css::SampleSource locate(const std::string& header_path, const css::Wfdisc& record);

// A record's refusal: the system's reason on standard error when a call failed, then the
// record's line (`label` is " Record n (STA CHAN): ").
void report_refusal(common::Console& console, const std::string& label,
                    const css::Refusal& refusal);

// The line that says how many of a record's float samples were rounded (/F), when any were.
void report_rounding(common::Console& console, const std::string& label,
                     const css::Rounding& rounding);

// The header's station tables, keeping the stations `wanted` names; each problem with them on
// standard error, and `refused` set when a table was refused whole.
css::StationTables load_station_tables(const std::string& header_path,
                                       const std::function<bool(std::string_view)>& wanted,
                                       common::Console& console, bool& refused);

// " STA CHAN" of a record as messages name it: with " as STA CHAN" when --rename renames it.
std::string names_shown(const Identity& identity, std::string_view sta, std::string_view chan);

// Stops a run whose one output would hold `count` traces (records or blocks) in a format that
// holds one trace a file.
[[noreturn]] void stop_one_trace_per_file(const gse::OutputFormat& format, std::int64_t count,
                                          const char* what);

// Ends a run over `total` records of which `refused` were not converted (with /Q, `query`:
// could not be); a refused station table fails a run that converted every record.
[[noreturn]] void end_records_run(std::int64_t refused, std::int64_t total, bool query,
                                  bool table_refused);

// The files a run reads and writes, by key: an output of its own never replaces one of them nor
// an output this run put in place (with /Q: would have).
class RunFiles {
 public:
  // Outputs replace only existing files of `kind` (the output format's).
  explicit RunFiles(const common::FileKind& kind) : kind_(kind) {}
  // The file at `path`, when it exists, is one the run reads.
  void add_input(const std::string& path);
  // Stops the run (" Error opening output GSE file") when the one output named is an input.
  void refuse_input_as_output(const std::string& path, common::Console& console) const;
  // The checks of a file of its own at `path` that this run decides: why it may not be written,
  // if so; `key` is its key for placed().
  std::optional<css::Refusal> claim(const std::string& path, std::uint64_t& key) const;
  // With /Q: claim(), then what opening it would say; the file then counts as written.
  std::optional<css::Refusal> query(const std::string& path, common::Console& console);
  // The file of key `key` is now in place at `path`.
  void placed(const std::string& path, std::uint64_t key);

 private:
  const common::FileKind& kind_;
  FileKeys inputs_, written_;
};

// The one output file of a run (OutFile), opened before its first block is written; with /Q
// only checked, once.
class OneOutput {
 public:
  OneOutput(std::string path, gse::Writer& writer, const common::FileKind& kind, bool query)
      : path_(std::move(path)), writer_(writer), kind_(kind), query_(query) {}
  const std::string& path() const { return path_; }
  // Writes a block through `put`; the run stops when the file cannot be opened or written.
  void put(common::Console& console, const std::function<bool(common::Sink&)>& put);
  // Ends and closes the file, when it was opened; the run stops when that fails.
  void close(common::Console& console);

 private:
  std::string path_;
  gse::Writer& writer_;
  const common::FileKind& kind_;
  bool query_;
  bool checked_ = false;
  std::unique_ptr<common::OutputFile> file_;
};

}  // namespace wavconv::driver
