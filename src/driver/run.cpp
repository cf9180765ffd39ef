#include "driver/run.h"

#include <cstring>
#include <memory>

#include "common/calendar.h"
#include "common/files.h"
#include "common/format.h"
#include "common/stop.h"
#include "common/text.h"
#include "css/sample_reader.h"
#include "css/samples.h"
#include "css/wfdisc.h"
#include "driver/batch.h"
#include "driver/options.h"
#include "driver/output.h"
#include "driver/record_mode.h"
#include "driver/window_mode.h"
#include "gse/block.h"
#include "gse/data_lines.h"
#include "gse/naming.h"
#include "gse/window.h"

namespace wavconv::driver {
namespace {

constexpr const char* kTooLarge = " Sample file too large for one GSE block";
constexpr const char* kTooWide = " Error: samples too wide for INT8 written as ********";

constexpr const char* kUsage[] = {
    " WAVCONV v2.1  -  CSS to GSE1.0 conversion program        ",
    " COMMAND MODE:                                            ",
    " Call : WAVCONV InHFile OutFile /Options                  ",
    " Where:                                                   ",
    " InHFile : Name of the input CSS header file              ",
    " OutFile : Name of the output GSE file [InDFile_DOY.GSE]  ",
    " Options : /Jn /Ln /Idirin /Odirout                       ",
    " Jn      : jump n seconds from file begin [0]             ",
    " Ln      : retain n seconds as total file length [99999]  ",
    " Idirin  : set the path of the input file to dirin [.]    ",
    " Odirout : set the path of the output file to dirout [.]  ",
    " Output format is uncompressed 0 differences, INT8        ",
    " --      : every later argument is a name (/abs/path)     ",
    " -h, --help : this screen;  --version : the version       ",
    " Rn      : record mode: record n, or every record [all]   ",
    " F       : with /R: round float samples to whole counts   ",
    " Q       : with /R: list the records, convert nothing     ",
    nullptr,  // the output formats' line, from the table of formats
    " S       : with /R: scale float samples into counts       ",
    " M       : every name is a header; Pn: with n threads     ",
    " --from T --to T : cut [from, to); T 2005-08-31T02:30:00,   ",
    "   \"2005/08/31 02:30:00\", @epoch seconds; --to +seconds    ",
    " --sta L --chan L: names, comma-separated, * and ? [all]  ",
    " --request F     : answer a REQUEST message (F; - stdin)   ",
    " --encoding E    : miniSEED steim2, steim1, int32 [steim2]",
    " --reclen N      : miniSEED record bytes, 256..65536 [4096]",
    " --net N --loc L : network, location codes [affiliation]  ",
    " --rename A=B,A.C=B.D: stations (channels) renamed        ",
};

// The usage screen's lines for /T: the formats of the table, on one line while they fit it,
// else on as many as they take.
std::vector<std::string> format_usage() {
  constexpr std::size_t kWidth = 58;
  const std::string words = gse::format_names() + " [" + gse::output_formats()[0].name + "]";
  for (const char* lead : {" Tfmt    : output format ", " Tfmt    : output "}) {
    if (std::string line = lead + words; line.size() <= kWidth) return {line};
  }
  std::vector<std::string> lines{" Tfmt    : output"};
  for (std::size_t begin = 0; begin < words.size();) {
    std::size_t end = std::min(words.find(' ', begin), words.size());
    std::string_view word(words.data() + begin, end - begin);
    if (lines.back().size() + 1 + word.size() > kWidth) lines.emplace_back(10, ' ');
    lines.back().append(" ").append(word);
    begin = end + 1;
  }
  return lines;
}

[[noreturn]] void show_usage(common::Console& console, int status) {
  static const common::Format banner = common::Format::parse("(/,A60,/)");
  static const common::Format line = common::Format::parse("(A60)");
  // Each line is held in a 60-character field, so it ends with two more blanks.
  auto put = [&](const common::Format& format, std::string_view text) {
    console.write_records(common::write(format, {std::string_view(common::pad_or_cut(text, 60))}));
  };
  put(banner, kUsage[0]);
  for (std::size_t i = 1; i < std::size(kUsage); ++i) {
    if (kUsage[i]) {
      put(line, kUsage[i]);
    } else {
      for (const std::string& text : format_usage()) put(line, text);
    }
  }
  common::stop(std::string(57, ' '), status);
}

// The first record of the header file; a header that cannot be opened or read stops the run
// with its console message.
css::Wfdisc read_header(const std::string& header_path, common::Console& console) {
  css::Wfdisc record;
  int system_error = 0;
  css::HeaderError error = css::read_wfdisc(header_path, record, system_error);
  if (error != css::HeaderError::kNone) {
    stop_header_failed(header_path, error, system_error, console);
  }
  return record;
}

// Ends the run with the fatal report for the default run's sample file.
[[noreturn]] void stop_sample_failure(const css::Refusal& failure) {
  using common::FatalError;
  using common::Statement;
  switch (failure.failure) {
    case css::Failure::kCannotOpen:
      common::fatal(
          Statement::kOpen, failure.path, FatalError::kOpenFailed,
          "sample file cannot be opened: " + std::string(std::strerror(failure.system_error)),
          failure.system_error);
    case css::Failure::kNotRegular:
      common::fatal(Statement::kOpen, failure.path, FatalError::kOpenFailed,
                    "sample file is not a regular file");
    case css::Failure::kNoMemory:
      common::fatal(Statement::kRead, failure.path, FatalError::kNoMemory, failure.why);
    default:
      common::fatal(Statement::kRead, failure.path, FatalError::kEndOfFile,
                    "sample file " + failure.detail, failure.system_error);
  }
}

// Ends the run with the floating-point fatal report for a value beyond the 64-bit range.
[[noreturn]] void stop_overflow(const char* what) {
  common::fatal_math(common::FatalError::kOverflow,
                     std::string("floating-point overflow converting ") + what + " to an integer");
}

}  // namespace

void convert_default(const Settings& settings, common::Console& console) {
  std::string header_path = join_path(settings.dirin, settings.InHFile);
  css::Wfdisc record = read_header(header_path, console);

  // The sample file as little-endian 32-bit integers from byte 0 to its end, whatever the
  // header says.
  css::SampleSource source;
  source.path = css::sample_path(header_path, record);
  note_input(header_path);
  note_input(source.path);
  if (common::cut_at_blank(record.dfile).empty()) {
    // Without a dfile the path is the header's folder: say what is missing, not what the folder is.
    common::fatal(common::Statement::kOpen, source.path, common::FatalError::kOpenFailed,
                  "the header names no sample file: dfile (columns 214-245) is blank");
  }
  source.datatype = "i4";
  auto opened = css::SampleReader::open(source);
  if (auto* failure = std::get_if<css::Refusal>(&opened)) stop_sample_failure(*failure);
  css::SampleReader& reader = std::get<css::SampleReader>(opened);
  std::int64_t nsamp = reader.nsamp();
  if (record.nsamp > 0 && record.nsamp != nsamp) {
    console.write_error(common::error_line("warning: header says " + std::to_string(record.nsamp) +
                                           " samples, file holds " + std::to_string(nsamp)));
  }
  if (nsamp > css::kMaxSamples) common::stop(kTooLarge, common::kFailure);
  if (record.single_samprate == 0) {
    common::fatal_math(common::FatalError::kDivideByZero,
                       "floating-point division by zero: samprate is 0 in the header");
  }
  const char* overflow = "";
  // The window and the GSE1.0 header's whole-second start come from the samprate read as a
  // 32-bit real, as the default run's files always had them; other times from the samprate as
  // read.
  const double single_rate = record.single_samprate;
  std::optional<gse::Window> window =
      gse::choose_window(settings.jump, settings.length, single_rate, nsamp, &overflow);
  if (!window) stop_overflow(overflow);
  css::Rounding unused;
  auto read = reader.read(window->first, window->count(), false, unused);
  if (auto* failure = std::get_if<css::Refusal>(&read)) stop_sample_failure(*failure);
  const css::Samples& samples = std::get<css::Samples>(read);

  std::optional<common::Calendar> start = gse::block_start(record.time, single_rate, *window);
  if (!start) stop_overflow("the start time");
  common::Trace trace = css::trace_of(record);
  trace.whole_second_start = *start;
  trace.to_the_millisecond = false;
  trace.start = gse::block_start(record.time, record.samprate, *window, true).value_or(*start);
  trace.start_us = start_microseconds(record.time, record.samprate, window->first);
  apply_identity(settings.identity, record.sta, record.chan, "", trace);
  trace.day_text =
      gse::block_day_text(record.jdate, start->year, window->first == 1, start->day_of_year);
  trace.first_sample = window->first;
  trace.samples = samples.span();
  std::unique_ptr<gse::Writer> writer = settings.format->make(settings.writer_options);
  if (std::optional<std::string> why = writer->refusal(trace)) {
    common::stop(" Error: " + common::printable(*why), common::kFailure);
  }

  std::string name = settings.OutFile ? *settings.OutFile
                                      : gse::default_output_name(record.dfile, trace.day_text,
                                                                 settings.format->extension);
  std::string output_path =
      settings.OutFile ? driver::output_path(settings) : join_path(settings.dirout, name);
  for (const auto& [input, what] :
       {std::pair{&header_path, "the header file"}, std::pair{&source.path, "the sample file"}}) {
    if (same_file(output_path, *input)) {
      console.write_error(
          common::error_line(common::printable(output_path) + ": is " + what + ", not replaced"));
      common::stop(kOpenOutputFailed, common::kFailure);
    }
  }
  std::unique_ptr<common::OutputFile> output =
      open_output(output_path, *settings.format->kind, console);
  gse::BlockResult result{false, 0};
  if (writer->start_file(*output, file_name(output_path))) {
    result = writer->write_block(trace, *output);
    result.written = result.written && writer->end_file(*output);
  }
  if (!result.written || !output->close()) stop_write_failed(output_path, *output, console);
  if (result.too_wide > 0) common::stop(kTooWide, common::kFailure);
  common::stop(" ", common::kSuccess);
}

int run(const std::vector<std::string>& args, common::Console& console) {
  try {
    Settings settings = parse_options(args);
    for (const std::string& option : settings.ignored) {
      console.write_error(
          common::error_line("ignored option " + common::printable(option) + ": no such option"));
    }
    for (const std::string& path : settings.paths) {
      console.write_error(common::error_line(
          common::printable(path) + ": a path, not an option; absolute paths go after --"));
    }
    switch (settings.action) {
      case Action::kShowUsage:
        show_usage(console, common::kSuccess);
      case Action::kShowUsageFailed:
        show_usage(console, common::kFailure);
      case Action::kShowVersion: {
        // The formats this build writes, on a line of their own.
        std::string formats = "formats:";
        for (const gse::OutputFormat& format : gse::output_formats()) {
          if (format.make) formats.append(" ").append(format.name);
        }
        const std::string end(common::kAddedLineEnd);
        common::stop_plain(std::string("wavconv " WAVCONV_VERSION " (") +
                               (gse::best_kernel() == gse::Kernel::kAvx2 ? "avx2" : "scalar") +
                               ")" + end + formats + end,
                           common::kSuccess);
      }
      case Action::kUnknownOption:
        common::stop_with_error(
            common::error_line("unknown option " + common::printable(settings.unknown) +
                               ": options are /J /L /I /O /R /F /Q /S /T /M /P; see --help"),
            common::kFailure);
      case Action::kNoValue:
        common::stop_with_error(
            common::error_line(common::printable(settings.no_value) + " has no value: write " +
                               common::printable(settings.value_meant)),
            common::kFailure);
      case Action::kPathArgument:
        // Its line is above: the output would go elsewhere than the user meant.
        common::stop_with_error("", common::kFailure);
      case Action::kBadValue:
        throw *settings.bad_value;
      case Action::kNeedsOption:
        common::stop_with_error(common::error_line(settings.needs), common::kFailure);
      case Action::kUnknownFormat: {
        common::stop_with_error(
            common::error_line("unknown output type " + common::printable(settings.unknown_format) +
                               ": " + gse::format_names(", ")),
            common::kFailure);
      }
      case Action::kConvert:
        break;
    }
    for (const std::string& name : settings.ignored_names) {
      console.write_error(common::error_line("ignored name " + common::printable(name) +
                                             ": only InHFile and OutFile are read"));
    }
    if (!settings.ignored_names.empty() && names_headers(*settings.OutFile)) {
      console.write_error(common::error_line("use /M to convert every header"));
    }
    if (settings.OutFile && is_standard_output(output_path(settings))) {
      // The stream holds only the output file's bytes.
      console.records_to_error();
    }
    if (settings.many) convert_many(settings, console);
    if (!settings.request.empty()) {
      // Without OutFile the answer goes to standard output, which then holds only it.
      if (!settings.OutFile) console.records_to_error();
      answer_request(settings, console);
    }
    if (settings.window) convert_window(settings, console);
    if (settings.record_mode) convert_records(settings, console);
    convert_default(settings, console);
  } catch (const common::Stop& stop) {
    return console.finish(stop);
  }
}

}  // namespace wavconv::driver
