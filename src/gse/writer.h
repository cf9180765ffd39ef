#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/files.h"
#include "common/trace.h"

namespace wavconv::gse {

using common::kInt32Limit;
using common::SampleLimit;

struct BlockResult {
  bool written;           // false: a write failed; the sink holds what was written before
  std::int64_t too_wide;  // samples written as asterisks
};

// What the command line sets for a format that takes it (--encoding, --reclen).
struct WriterOptions {
  std::string encoding;   // empty: the format's own default
  int record_length = 0;  // bytes; 0: the format's own default
};

// One output format: a file of blocks is start_file(), write_block() for each trace, then
// end_file(). Each format keeps its own limits.
class Writer {
 public:
  virtual ~Writer() = default;
  // Whether a float record's values are written as they are (Trace::reals), rather than as
  // counts (/S, /F).
  virtual bool takes_reals() const { return false; }
  // Whether a file holds one trace only.
  virtual bool one_trace_per_file() const { return false; }
  // What every sample must fit to be written as it is.
  virtual SampleLimit sample_limit() const = 0;
  // Why the trace cannot be written in this format at all; nothing when it can.
  virtual std::optional<std::string> refusal(const common::Trace& trace) const = 0;
  // Whether samples within sample_limit() can be written as they are (CM6: every second
  // difference within its limit).
  virtual bool samples_fit(std::span<const std::int32_t>) const { return true; }
  // How much of `calib` its field in this format loses, relative to its value; nothing when
  // the field cannot hold it at all.
  virtual std::optional<double> calib_loss(double calib) const = 0;
  // What goes before the first block; `name` is the output file's name (without folder).
  virtual bool start_file(common::Sink& sink, std::string_view name) = 0;
  virtual BlockResult write_block(const common::Trace& trace, common::Sink& sink) = 0;
  // What ends the file.
  virtual bool end_file(common::Sink& sink) = 0;
};

// The MSG_ID of a message in the file called `name`: the name up to its last ".", when that is
// at most 20 printable ASCII characters without a blank; otherwise its first 9 characters (each
// other one as "_"), "_" and 10 characters of a hash of it, so that every file gets its own.
std::string message_id(std::string_view name);

// An output format as /T names it, and what the run needs to know of its files.
struct OutputFormat {
  const char* name;              // as /T names it, lower case
  const char* title;             // as messages name it: "miniSEED"
  const char* extension;         // of default and per-record output names: "gse"
  const common::FileKind* kind;  // the existing files an output may replace
  std::unique_ptr<Writer> (*make)(const WriterOptions&);  // null: not in this build
};

// Every output format, the default first.
std::span<const OutputFormat> output_formats();

// The formats' names as the usage screen lists them: "gse1, cm6, int or ims".
std::string format_names(const char* last_separator = " or ");

// The format of `name` (any case); nothing for an unknown one.
const OutputFormat* find_output_format(std::string_view name);

}  // namespace wavconv::gse
