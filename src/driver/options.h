#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/stop.h"
#include "driver/identity.h"
#include "driver/selection.h"
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
  kNoValue,          // /J, /L or /T without a value, then its value: `no_value` names the option
  kPathArgument,     // a path before "--" taken for an option: `paths` names it
  kBadValue,         // an option value that does not read: `bad_value` is the run's end
  kUnknownFormat,    // /T with a value that is no output format: `unknown_format` names it
  kNeedsOption,      // an option without the one it needs, or window options that do not
                     // read or go together: `needs` says which
};

// Records converted and refused by the record-mode runs of a /M run.
struct RecordTally {
  std::int64_t converted = 0, refused = 0;
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
  RecordTally* tally = nullptr;              // where that header's records are counted
  const gse::OutputFormat* format = &gse::output_formats()[0];  // /T: the output format
  std::string unknown_format;              // a /T option whose value is no format, as given
  std::vector<std::string> ignored;        // "/" arguments whose letter is no option's
  std::vector<std::string> paths;          // "/" arguments that are paths, not options
  std::vector<std::string> ignored_names;  // names after the second
  std::string unknown;                     // the first unknown "-" argument
  std::string no_value;     // the first /J, /L or /T without a value followed by its value
  std::string value_meant;  // that option as it was meant ("/J60")
  std::optional<common::Stop> bad_value;  // the end of the run for a value that does not read
  std::string needs;  // "/Q needs /R (record mode)": the first option without the one it needs
  // A window cut out of the archive (--from, --to, --sta, --chan): any of them makes the run
  // one of every record of the header (record mode).
  bool window = false;
  Selection selection;
  std::string request;  // --request: the file of a REQUEST message to answer ("-": standard input)
  gse::WriterOptions writer_options;  // --encoding, --reclen
  Identity identity;                  // --net, --loc, --rename
};

// The most threads /P gives a run: conversion waits mostly on files, and each thread holds a
// window of samples and its messages; more threads only add memory.
inline constexpr std::size_t kMaxThreads = 64;

// The threads /Pn asks for: n, or one a core for 0 or less; at most kMaxThreads.
std::size_t thread_count(std::int32_t threads);

// True when an output path names standard output: "/dev/stdout", "/dev/fd/1", "/proc/self/fd/1".
bool is_standard_output(std::string_view path);

// The path of OutFile: after the /O prefix, or standard output for "-".
std::string output_path(const Settings& settings);

// True when a name ends in ".wfdisc" (any case): a header given where an output was expected.
bool names_headers(std::string_view name);

// The long options that take a value ("--from", ..., "--rename").
std::vector<const char*> value_options();

// Sorts the arguments (without the program name) into names and options and reads the
// options. Before "--", an argument beginning with "/" is an option, and "-h", "--help",
// "--version" and other "-" arguments (but a lone "-") are requests; after it every argument is
// a name. A J, L, R or P value that is not a number ends the run with the fatal report
// (`bad_value`, kept until the ignored options are reported).
// A "/" argument that is a path rather than an option (`paths`: a further "/" after a letter
// that takes a number or nothing, or after /T with no format; /I or /O whose first component is
// a directory at the root), or a /J, /L or /T without a value directly followed by its value,
// makes the run fail before it starts: its output would otherwise go elsewhere than meant.
Settings parse_options(const std::vector<std::string>& args);

}  // namespace wavconv::driver
