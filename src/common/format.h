#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace wavconv::common {

// One descriptor of a format string, repeat counts expanded.
struct Edit {
  enum class Kind { kInteger, kReal, kText, kSkip, kNewRecord };
  Kind kind;
  int width = 0;   // 0: A without width; columns to skip for kSkip
  int digits = 0;  // d of Fw.d
};

// A parsed format string such as "(10i8)" or "(A6,1X,3(I8,1X))".
class Format {
 public:
  // A malformed format string is a programming error: std::invalid_argument.
  static Format parse(std::string_view text);

  const std::vector<Edit>& edits() const { return edits_; }
  // Where the format starts again when items remain at its end: the last group opened at
  // the outermost level, or the beginning.
  std::size_t reversion() const { return reversion_; }

 private:
  std::vector<Edit> edits_;
  std::size_t reversion_ = 0;
};

// An item to write: 32-bit integer, 32-bit real or text.
using Item = std::variant<std::int32_t, float, std::string_view>;

// The records that a write of `items` with `format` produces.
std::vector<std::string> write(const Format& format, std::span<const Item> items);
std::vector<std::string> write(const Format& format, std::initializer_list<Item> items);

// A destination to read into; a text destination keeps its length (blank-padded).
using Destination = std::variant<std::int32_t*, std::int64_t*, float*, double*, std::string*>;

enum class ReadStatus { kOk, kError, kEnd };

// Where a read takes its records from.
class RecordSource {
 public:
  virtual ~RecordSource() = default;
  // The next record without its line end, or nothing at the end of the data.
  virtual std::optional<std::string_view> next_record() = 0;
};

// Reads one statement: one or more records from `source` into `destinations`. Fields read
// before an error or the end keep their new values.
ReadStatus read(const Format& format, RecordSource& source,
                std::span<const Destination> destinations);

// Reads from an internal record (a single record).
ReadStatus read(const Format& format, std::string_view record,
                std::span<const Destination> destinations);

}  // namespace wavconv::common
