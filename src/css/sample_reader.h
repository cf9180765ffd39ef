#pragma once

#include <zlib.h>

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "common/files.h"
#include "common/trace.h"
#include "css/datatype.h"
#include "css/gzip_file.h"
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

// What went wrong with a sample file, for a run that reports each kind its own way.
enum class Failure {
  kRefused,     // the record cannot be converted (its data, its datatype, its length)
  kCannotOpen,  // the file cannot be opened (system_error)
  kNotRegular,  // it is no regular file
  kCannotRead,  // a read failed (system_error) or the file ended early
  kNoMemory,    // no memory for the samples
};

// Why a record is not converted; `system_error` is the system's reason for a failed call on
// `path`, when that was the cause.
struct Refusal {
  Refusal(std::string why, int system_error = 0, std::string path = {},
          Failure failure = Failure::kRefused)
      : why(std::move(why)), system_error(system_error), path(std::move(path)), failure(failure) {}
  std::string why;
  int system_error;
  std::string path;
  Failure failure;
  std::string detail;  // for kCannotRead: what happened, without the file's name
};

// How float samples were rounded to whole counts.
struct Rounding {
  std::int64_t changed = 0;
  double largest = 0;  // the largest change of one sample
};

// The samples of one record, opened and measured, read on demand: the one reader of both ways
// of running (the default run describes its sample file as i4 from byte 0, to its end). A gzipped
// file is inflated only as far as the record needs (the whole stream only when nsamp is not given,
// and then at most to the largest record one block can hold).
class SampleReader {
 public:
  // A refusal, in this order, when the file cannot be opened, its datatype is not one that is
  // read, its gzip data is damaged, or it holds fewer than foff + nsamp x width bytes (for a
  // gzipped file the last is found by read()). With `streams`, a gzip stream is shared with the
  // records before and after.
  static std::variant<SampleReader, Refusal> open(const SampleSource& source,
                                                  GzipStreams* streams = nullptr);

  // The record's sample count: nsamp, or the whole samples after foff (for more than one block
  // can hold, kMaxSamples + 1).
  std::int64_t nsamp() const { return nsamp_; }

  // Samples first..first + count - 1 (from 1), decoded. Each must lie within `limit` (the output
  // format's); a float sample must be finite and whole, or is rounded (halves away from zero)
  // when `round`. e1 and c0 samples are decoded and checked to the last of nsamp, and only the
  // window's are kept.
  std::variant<Samples, Refusal> read(std::int64_t first, std::int64_t count, bool round,
                                      Rounding& rounding,
                                      const common::SampleLimit& limit = common::kInt32Limit);

  // Whether the samples are floats.
  bool is_real() const;
  // Bytes a sample of the datatype takes (of e1 and c0, the 4 of a decoded one).
  std::size_t sample_width() const { return width(type_); }

  // Samples first..first + count - 1 of a float datatype as they are, for scaling; a refusal
  // for one that is not finite.
  std::variant<std::vector<double>, Refusal> read_reals(std::int64_t first, std::int64_t count);

 private:
  SampleReader(const SampleSource& source, Datatype type, common::FileHandle file,
               std::shared_ptr<GzipFile> gz)
      : source_(source), type_(type), file_(std::move(file)), gz_(std::move(gz)) {}
  // Reads up to `size` bytes from byte `position` of the data; the count read, less only at its
  // end.
  std::size_t read_bytes(std::int64_t position, unsigned char* data, std::size_t size);
  // For a gzipped file: whether its data reaches byte `position`; when not, the stream's size.
  bool reaches(std::int64_t position, std::int64_t& size);
  // The refusal of a file of `size` bytes that holds fewer than the record needs (`fits`: the
  // record's byte count could be computed at all).
  Refusal too_short(std::int64_t size, bool fits) const;
  Refusal damaged() const;
  Refusal no_memory(std::int64_t count) const;
  // The raw bytes of `n` fixed-width samples from sample `first` (from 1) into `raw`, and the
  // length a gzipped record needs checked; the refusal when either fails.
  std::optional<Refusal> read_window(std::int64_t first, std::size_t n, unsigned char* raw);
  // The refusal of a window read short: `got` of `wanted` bytes.
  Refusal short_read(std::size_t got, std::size_t wanted) const;
  // read() for e1 and c0.
  std::variant<Samples, Refusal> read_packed(std::int64_t first, std::int64_t count,
                                             const common::SampleLimit& limit);

  SampleSource source_;
  Datatype type_;
  common::FileHandle file_;  // a plain file
  std::shared_ptr<GzipFile> gz_;
  bool damaged_ = false;  // the gzip stream ended early or its data is damaged
  int read_error_ = 0;    // the system's reason for a failed read of a plain file
  std::int64_t nsamp_ = 0;
};

}  // namespace wavconv::css
