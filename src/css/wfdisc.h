#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/files.h"
#include "common/trace.h"

namespace wavconv::css {

// One CSS 3.0 wfdisc record. Text fields keep their column widths, blank-padded.
struct Wfdisc {
  std::string sta = std::string(6, ' ');
  std::string chan = std::string(8, ' ');
  double time = 0;  // epoch seconds of the first sample
  std::int32_t wfid = 0;
  std::int32_t chanid = 0;
  std::int32_t jdate = 0;  // year x 1000 + day of year
  double endtime = 0;
  std::int32_t nsamp = 0;     // the default run takes the count from the sample file instead
  double samprate = 0;        // samples per second, as read
  float single_samprate = 0;  // the same read as a 32-bit real (the default run's GSE1.0 block)
  float calib = 0;
  float calper = 0;  // seconds
  std::string instype = std::string(6, ' ');
  std::string segtype = std::string(1, ' ');
  std::string datatype = std::string(2, ' ');
  std::string clip = std::string(1, ' ');
  std::string dir = std::string(64, ' ');
  std::string dfile = std::string(32, ' ');
  std::int64_t foff = 0;  // bytes; the default run reads it as 32 bits and does not use it
  std::int32_t commid = 0;
  std::string lddate = std::string(17, ' ');
};

enum class HeaderError { kNone, kOpen, kRead };

// The header reader's console messages.
inline constexpr const char* kOpenMessage = "Error opening CSS-header of input file";
inline constexpr const char* kReadMessage = "Error reading CSS-header of input file";

// Reads one header line (283 columns; a short line reads as if filled with blanks) into
// `record`. False when a numeric field does not read; fields read before it keep their values.
bool parse_wfdisc(std::string_view line, Wfdisc& record);

// Reads the first line of the header file into `record`. `system_error` is the system's reason
// when opening or reading the file failed, 0 otherwise.
HeaderError read_wfdisc(const std::string& path, Wfdisc& record, int& system_error);

// A field of a record that does not read: its name, its columns (from 1) and its text.
struct FieldError {
  std::string name;
  int first, last;
  std::string text;
  // `name (columns first-last) does not read: "text"`, the text without its outer blanks.
  std::string message() const;
};

// Reads one record for record mode: a line of exactly 287 characters in the NNSA KB Core layout,
// any other in the 283-column layout. Only the fields a conversion uses are read (`wfid`,
// `chanid`, `jdate`, `endtime`, `commid` and `lddate` are not). A number is read as written: one
// without a decimal point is a whole number (`20` is 20.0), not one with implied decimals. The
// first field that does not read, if any.
std::optional<FieldError> parse_record(std::string_view line, Wfdisc& record);

// The records of a header file: its lines that hold anything but blanks, numbered from 1.
class WfdiscRecords {
 public:
  // Nothing when the file cannot be opened; `system_error` holds the reason.
  static std::optional<WfdiscRecords> open(const std::string& path, int& system_error);

  // The next record's line, or nothing at the end; `number` is its number from 1.
  std::optional<std::string_view> next(std::int64_t& number);

 private:
  explicit WfdiscRecords(common::FileHandle file) : reader_(std::move(file)) {}
  common::TextReader reader_;
  std::int64_t number_ = 0;
};

// A trace with the record's station, channel, instrument and calibration; its start and samples
// are the caller's to fill.
common::Trace trace_of(const Wfdisc& record);

// The sample file's path: `dir` then `dfile`, each cut at its first blank or NUL; when `dir`
// begins with a blank, "-" or ".", the header path's directory (up to its last "/" or "\")
// then `dfile`. No separator is inserted.
std::string sample_path(const std::string& header_path, const Wfdisc& record);

// The sample file's path in record mode: an absolute `dfile` as it is; otherwise `dir` (blank,
// "-" or "." for the header path's directory; an absolute one as it is; any other relative to
// the header's directory) joined to `dfile` with one "/" unless `dir` ends with "/" or "\".
// Each is cut at its first blank or NUL.
std::string record_sample_path(const std::string& header_path, const Wfdisc& record);

}  // namespace wavconv::css
