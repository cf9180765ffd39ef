#pragma once

#include <zlib.h>

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

#include "common/files.h"
#include "css/datatype.h"
#include "css/samples.h"

namespace wavconv::css {

// How one record's samples are found and decoded.
struct SampleSource {
  std::string path;  // as resolved; read through zlib when `gzip`
  bool gzip = false;
  std::int64_t foff = 0;   // bytes of the (uncompressed) data before the first sample
  std::int64_t nsamp = 0;  // 0 or less: every whole sample after foff
  std::string datatype;    // the record's field, as read
};

// Why a record is not converted; `system_error` is the system's reason for a failed call on
// `path`, when that was the cause.
struct Refusal {
  Refusal(std::string why, int system_error = 0, std::string path = {})
      : why(std::move(why)), system_error(system_error), path(std::move(path)) {}
  std::string why;
  int system_error;
  std::string path;
};

// How float samples were rounded to whole counts.
struct Rounding {
  std::int64_t changed = 0;
  double largest = 0;  // the largest change of one sample
};

// The samples of one record, opened and measured, read on demand.
class RecordSampleFile {
 public:
  // A refusal, in this order, when the file cannot be opened, its datatype is not one that is
  // read, its gzip data is damaged, or it holds fewer than foff + nsamp x width bytes.
  static std::variant<RecordSampleFile, Refusal> open(const SampleSource& source);

  // The record's sample count: nsamp, or the whole samples after foff.
  std::int64_t nsamp() const { return nsamp_; }

  // Samples first..first + count - 1 (from 1), decoded. Each must fit an 8-column field; a float
  // sample must be finite and whole, or is rounded (halves away from zero) when `round`.
  std::variant<Samples, Refusal> read(std::int64_t first, std::int64_t count, bool round,
                                      Rounding& rounding);

 private:
  struct GzClose {
    void operator()(gzFile file) const { gzclose(file); }
  };

  RecordSampleFile(const SampleSource& source, Datatype type, common::FileHandle file,
                   std::unique_ptr<gzFile_s, GzClose> gz)
      : source_(source), type_(type), file_(std::move(file)), gz_(std::move(gz)) {}
  // Reads up to `size` bytes from byte `position` of the data; the count read, less only at its
  // end.
  std::size_t read_bytes(std::int64_t position, unsigned char* data, std::size_t size);
  // read() for e1 and c0: all nsamp samples decoded from foff, the window's kept.
  std::variant<Samples, Refusal> read_packed(std::int64_t first, std::int64_t count);

  SampleSource source_;
  Datatype type_;
  common::FileHandle file_;  // a plain file
  std::unique_ptr<gzFile_s, GzClose> gz_;
  std::int64_t nsamp_ = 0;
};

}  // namespace wavconv::css
