#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gse/window.h"
#include "gse/writer.h"

namespace wavconv::driver {

// The letters of the "/" options, in upper case (either case is read).
inline constexpr std::string_view kOptionLetters = "JLIORFQTSMP";

// What the command line asks for.
enum class Action {
  kConvert,
  kShowUsage,        // no argument, a first name beginning with "?", -h or --help: status 0
  kShowUsageFailed,  // arguments without a name: the usage screen, status 1
  kShowVersion,      // --version
  kUnknownOption,    // an argument beginning with "-" before "--": `unknown` names it
  kNoValue,          // /J or /L without a value, then a number: `no_value` names the option
  kPathArgument,     // a path before "--" taken for an option: `path_argument` names it
  kUnknownFormat,    // /T with a value that is no output format: `unknown_format` names it
};

// The run settings from the command line.
struct Settings {
  Action action = Action::kConvert;
  std::string InHFile;                       // the first name
  std::optional<std::string> OutFile;        // the second name, when two or more are given
  std::int32_t jump = 0;                     // seconds skipped at the start
  std::int32_t length = gse::kWholeSegment;  // seconds kept
  std::string dirin;                         // prefixes of the header and output paths; a
  std::string dirout;                        // first blank or NUL, or none, means none
  bool record_mode = false;                  // /R given
  std::int32_t record = 0;                   // the record to convert; 0 or less: every one
  bool round_floats = false;                 // /F: round float samples (record mode)
  bool query = false;                        // /Q: list the records, convert none (record mode)
  bool scale_floats = false;                 // /S: scale float samples into counts (record mode)
  bool many = false;                         // /M: every name is a header
  std::int32_t threads = 0;                  // /Pn with /M: n worker threads; 0 or less: one a core
  std::vector<std::string> names;            // every name given
  bool in_batch = false;                     // one header of a /M run (no progress, no summary)
  const gse::OutputFormat* format = &gse::output_formats()[0];  // /T: the output format
  std::string unknown_format;              // a /T option whose value is no format, as given
  std::vector<std::string> ignored;        // "/" arguments whose letter is no option's, paths too
  std::vector<std::string> ignored_names;  // names after the second
  std::string unknown;                     // the first unknown "-" argument
  std::string path_argument;  // the first "/" argument that is no option and holds a further "/"
  std::string no_value;       // the first /J or /L without a value followed by a number
};

// Sorts the arguments (without the program name) into names and options and reads the
// options. Before "--", an argument beginning with "/" is an option, and "-h", "--help",
// "--version" and other "-" arguments (but a lone "-") are requests; after it every argument is
// a name. A J, L or R value that is not a number ends the run with the fatal report.
// A "/" argument that is no option but a path (it holds a further "/"), or a /J or /L without a
// value directly followed by a name made only of digits, makes the run fail before it starts
// (`path_argument`, `no_value`): its output would otherwise go elsewhere than the user meant.
Settings parse_options(const std::vector<std::string>& args);

}  // namespace wavconv::driver
