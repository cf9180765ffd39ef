#include "common/stop.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/text.h"

namespace wavconv::common {
namespace {

std::string error_code(char kind, FatalError error) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%04d", static_cast<int>(error) % 10000);
  return std::string(1, kind) + digits;
}

const char* statement_text(Statement statement) {
  switch (statement) {
    case Statement::kRead:
      return ": READ(";
    case Statement::kWrite:
      return ": WRITE(";
    case Statement::kOpen:
      return ": OPEN(";
    case Statement::kClose:
      return ": CLOSE(";
  }
  return ": READ(";
}

}  // namespace

void stop(std::string message, int status) {
  throw Stop{Stop::Kind::kMessage, std::move(message), status};
}

void stop_plain(std::string text, int status) {
  throw Stop{Stop::Kind::kPlain, std::move(text), status};
}

void stop_with_error(std::string text, int status) {
  throw Stop{Stop::Kind::kFatal, std::move(text), status};
}

std::string error_line(std::string_view text) {
  return std::string("wavconv: ").append(text).append(kAddedLineEnd);
}

std::string system_error_line(std::string_view path, int error) {
  if (path.empty()) error = ENOENT;
  return error_line(printable(path) + ": " +
                    (error == kNotRegularFile     ? "not a regular file"
                     : error == kWrittenByEarlier ? "written by an earlier header, not replaced"
                     : error == kInputOfEarlier   ? "an input of an earlier header, not replaced"
                     : error == kReadsAnOutput
                         ? "not written: this header reads the output of an earlier header"
                         : std::strerror(error)));
}

void stop_without_message(int status) { throw Stop{Stop::Kind::kNoMessage, {}, status}; }

void fatal(Statement statement, std::string_view unit, FatalError error, std::string_view message,
           int system_error) {
  std::string report = system_error != 0 ? system_error_line(unit, system_error) : "";
  report += "\r\nrun-time error " + error_code('F', error) + statement_text(statement) +
            printable(unit) + ")\r\n- " + printable(message) + "\r\n";
  throw Stop{Stop::Kind::kFatal, std::move(report), kFailure};
}

void fatal_math(FatalError error, std::string_view message) {
  std::string report =
      "\r\nrun-time error " + error_code('M', error) + ": MATH\r\n- " + printable(message) + "\r\n";
  throw Stop{Stop::Kind::kFatal, std::move(report), kFailure};
}

}  // namespace wavconv::common
