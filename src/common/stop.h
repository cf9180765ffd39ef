#pragma once

#include <string>
#include <string_view>

namespace wavconv::common {

// Every end of a run, success included. Thrown once where the run ends and caught once by
// the driver, which hands it to Console::finish.
struct Stop {
  enum class Kind { kMessage, kNoMessage, kFatal, kPlain };
  Kind kind;
  std::string text;  // the message, or the whole fatal report for standard error
  int status;        // process exit status
};

inline constexpr int kSuccess = 0;
inline constexpr int kFailure = 1;

// Stop with a message written as it stands (leading and trailing blanks kept).
[[noreturn]] void stop(std::string message, int status);

// Stop with `text` written to standard output as it is.
[[noreturn]] void stop_plain(std::string text, int status);

// Stop with `text` on standard error only (nothing on standard output).
[[noreturn]] void stop_with_error(std::string text, int status);

// The end of a line the program adds on standard error (and of --version): LF on POSIX
// systems, CR LF on Windows.
#ifdef _WIN32
inline constexpr std::string_view kAddedLineEnd = "\r\n";
#else
inline constexpr std::string_view kAddedLineEnd = "\n";
#endif

// A line for standard error: "wavconv: " and `text`, with kAddedLineEnd.
std::string error_line(std::string_view text);

// A reason of the program's own in place of a system error number: a device where a file was
// expected.
inline constexpr int kNotRegularFile = -1;
// More of the program's reasons, in a /M run: an output that an earlier header wrote; an output
// that is an input of an earlier header; an output of a header that reads an earlier one's.
inline constexpr int kWrittenByEarlier = -2;
inline constexpr int kInputOfEarlier = -3;
inline constexpr int kReadsAnOutput = -4;

// The line for a failed system call on a file: "wavconv: <path>: <the system's reason>"; the
// path's control characters shown as "?", an empty path as missing; kNotRegularFile as "not a
// regular file".
std::string system_error_line(std::string_view path, int error);

// Stop without a message: "Stop - Program terminated.".
[[noreturn]] void stop_without_message(int status);

// Statement part of the fatal report for an input or output failure.
enum class Statement { kRead, kWrite, kOpen, kClose };

// Error numbers of the fatal report.
enum class FatalError {
  kOpenFailed = 6416,    // F: a file could not be opened
  kEndOfFile = 6501,     // F: a read ran past the end of the data
  kBadInteger = 6502,    // F: an integer field did not read
  kNoMemory = 6700,      // F: no memory for the data to be read
  kDivideByZero = 1201,  // M: floating-point division by zero
  kOverflow = 1202,      // M: floating-point overflow in a conversion to integer
};

// Ends the run with the fatal report for an unhandled input or output failure on `unit`
// (a file name, or "internal"). A `system_error` other than 0 puts the system error line for
// `unit` before the report.
[[noreturn]] void fatal(Statement statement, std::string_view unit, FatalError error,
                        std::string_view message, int system_error = 0);

// Ends the run with the fatal report for a trapped floating-point condition.
[[noreturn]] void fatal_math(FatalError error, std::string_view message);

}  // namespace wavconv::common
