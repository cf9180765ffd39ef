#include "driver/record_mode.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "common/calendar.h"
#include "common/platform.h"
#include "common/stop.h"
#include "common/text.h"
#include "css/datatype.h"
#include "css/record_samples.h"
#include "css/wfdisc.h"
#include "driver/output.h"
#include "gse/block.h"
#include "gse/naming.h"
#include "gse/window.h"

namespace wavconv::driver {
namespace {

constexpr double kNullTime = -9999999999.0;
// Times, jumps and lengths in samples beyond this are refused rather than overflowing 64 bits
// (as milliseconds for a time).
constexpr double kLargest = 9.0e15;

using FileId = std::pair<std::uint64_t, std::uint64_t>;

std::optional<FileId> file_id(const std::string& path) {
  return common::platform::file_identity(path);
}

// Where a record's samples are: the resolved path, or the same with ".gz" when only that
// exists; read through zlib when the name ends in ".gz".
css::SampleSource locate(const std::string& header_path, const css::Wfdisc& record) {
  css::SampleSource source;
  source.path = css::record_sample_path(header_path, record);
  struct stat info;
  if (::stat(source.path.c_str(), &info) != 0 &&
      ::stat((source.path + ".gz").c_str(), &info) == 0) {
    source.path += ".gz";
  }
  source.gzip =
      source.path.size() >= 3 && source.path.compare(source.path.size() - 3, 3, ".gz") == 0;
  source.foff = record.foff;
  source.nsamp = record.nsamp;
  source.datatype = record.datatype;
  return source;
}

// One record as it goes through the run.
struct Record {
  std::int64_t number = 0;
  css::Wfdisc fields;
  bool parsed = false;
  css::SampleSource source;
  std::int64_t nsamp = 0;  // as the header says, then as the samples hold
  std::string label;       // " Record n (STA CHAN): "
};

// The run's state across records.
class RecordRun {
 public:
  RecordRun(const Settings& settings, std::string header_path, common::Console& console)
      : settings_(settings), header_path_(std::move(header_path)), console_(console) {}

  [[noreturn]] void run();

 private:
  bool selected(std::int64_t number) const {
    return settings_.record <= 0 || number == settings_.record;
  }
  Record read_record(std::int64_t number, std::string_view line) const;
  void collect_inputs();
  // The record's samples of its window, decoded; or why not.
  std::variant<std::pair<css::Samples, gse::Window>, css::Refusal> samples_of(
      Record& record, css::Rounding& rounding) const;
  std::optional<css::Refusal> convert(Record& record);
  std::optional<css::Refusal> write(const Record& record, const gse::Window& window,
                                    const css::Samples& samples);
  void report(const Record& record, const css::Refusal& refusal);
  void query_line(const Record& record, const std::optional<css::Refusal>& refusal);

  const Settings& settings_;
  std::string header_path_;
  common::Console& console_;
  std::set<FileId> inputs_;        // the header and every selected record's sample file
  std::set<std::string> written_;  // output paths this run has put in place
  std::string output_path_;        // the one output named, if any
  std::unique_ptr<common::OutputFile> output_;
};

Record RecordRun::read_record(std::int64_t number, std::string_view line) const {
  Record record;
  record.number = number;
  record.parsed = css::parse_record(line, record.fields);
  record.nsamp = record.fields.nsamp;
  record.source = locate(header_path_, record.fields);
  record.label = " Record " + std::to_string(number) + " (" +
                 std::string(common::cut_at_blank(record.fields.sta)) + " " +
                 std::string(common::cut_at_blank(record.fields.chan)) + "): ";
  return record;
}

void RecordRun::collect_inputs() {
  if (auto id = file_id(header_path_)) inputs_.insert(*id);
  int error = 0;
  std::optional<css::WfdiscRecords> records = css::WfdiscRecords::open(header_path_, error);
  std::int64_t number = 0;
  while (records) {
    std::optional<std::string_view> line = records->next(number);
    if (!line) break;
    if (!selected(number)) continue;
    if (auto id = file_id(read_record(number, *line).source.path)) inputs_.insert(*id);
  }
}

std::variant<std::pair<css::Samples, gse::Window>, css::Refusal> RecordRun::samples_of(
    Record& record, css::Rounding& rounding) const {
  const css::Wfdisc& f = record.fields;
  if (!record.parsed) return css::Refusal{"a numeric field does not read"};
  if (f.time <= kNullTime) return css::Refusal{"time is the null value"};
  if (!(std::fabs(f.time) < kLargest)) return css::Refusal{"time is out of range"};
  if (!(f.samprate > 0)) return css::Refusal{"samprate is not above 0"};
  if (f.foff < 0) return css::Refusal{"foff is negative"};
  std::string_view dfile = common::cut_at_blank(f.dfile);
  if (dfile.empty() || dfile == "-") return css::Refusal{"no dfile"};
  auto opened = css::RecordSampleFile::open(record.source);
  if (auto* refusal = std::get_if<css::Refusal>(&opened)) return std::move(*refusal);
  auto& file = std::get<css::RecordSampleFile>(opened);
  record.nsamp = file.nsamp();
  if (record.nsamp > css::kMaxSamples) {
    return css::Refusal{"more samples than one GSE block can hold"};
  }
  double rate = f.samprate;
  if (!(std::fabs(settings_.jump * rate) < kLargest &&
        std::fabs(settings_.length * rate) < kLargest)) {
    return css::Refusal{"jump or length out of range at this samprate"};
  }
  gse::Window window =
      gse::choose_window(settings_.jump, settings_.length, f.samprate, record.nsamp);
  if (!(std::fabs(f.time + static_cast<double>(window.first - 1) / rate) < kLargest)) {
    return css::Refusal{"start time is out of range"};
  }
  auto samples = file.read(window.first, window.count(), settings_.round_floats, rounding);
  if (auto* refusal = std::get_if<css::Refusal>(&samples)) return std::move(*refusal);
  return std::pair{std::move(std::get<css::Samples>(samples)), window};
}

std::optional<css::Refusal> RecordRun::write(const Record& record, const gse::Window& window,
                                             const css::Samples& samples) {
  const css::Wfdisc& f = record.fields;
  common::Calendar start = gse::block_start(f.time, f.samprate, window, true);
  std::string day_text = gse::day_of_year_text(start.day_of_year);
  // Only the window's samples were read.
  std::span<const std::int32_t> values = samples.span();
  if (!output_path_.empty()) {
    if (!output_) output_ = open_output(output_path_, console_);
    if (!gse::write_block(f, start, day_text, values, *output_, false).written) {
      stop_write_failed(output_path_, *output_, console_);
    }
    return std::nullopt;
  }
  std::string name = gse::record_output_name(f.sta, f.chan, start);
  std::string path = join_path(settings_.dirout, name);
  if (written_.count(path)) return css::Refusal{"output " + path + " was written by this run"};
  std::optional<FileId> id = file_id(path);
  if (id && inputs_.count(*id)) return css::Refusal{"output " + path + " would replace an input"};
  std::string refusal;
  std::unique_ptr<common::OutputFile> output = open_output(path, console_, &refusal);
  if (!output) return css::Refusal{"output " + path + ": " + refusal};
  if (!gse::write_block(f, start, day_text, values, *output).written || !output->close()) {
    stop_write_failed(path, *output, console_);
  }
  written_.insert(path);
  return std::nullopt;
}

std::optional<css::Refusal> RecordRun::convert(Record& record) {
  css::Rounding rounding;
  auto loaded = samples_of(record, rounding);
  if (auto* refusal = std::get_if<css::Refusal>(&loaded)) return std::move(*refusal);
  if (settings_.query) return std::nullopt;
  auto& [samples, window] = std::get<std::pair<css::Samples, gse::Window>>(loaded);
  if (auto refusal = write(record, window, samples)) return refusal;
  if (rounding.changed > 0) {
    char largest[32];
    std::snprintf(largest, sizeof largest, "%.6g", rounding.largest);
    console_.write_line(record.label + std::to_string(rounding.changed) +
                        " samples rounded, at most " + largest);
  }
  return std::nullopt;
}

void RecordRun::report(const Record& record, const css::Refusal& refusal) {
  if (refusal.system_error != 0) {
    console_.write_error(common::system_error_line(refusal.path, refusal.system_error));
  }
  console_.write_line(record.label + common::printable(refusal.why));
}

void RecordRun::query_line(const Record& record, const std::optional<css::Refusal>& refusal) {
  const css::Wfdisc& f = record.fields;
  char time[64] = "-";
  if (std::fabs(f.time) < kLargest) {
    common::Calendar c = common::to_calendar_milliseconds(
        common::nearest_integer(f.time * 1000.0, "the start time"));
    std::snprintf(time, sizeof time, "%04lld-%02d-%02d %02d:%02d:%02d.%03d",
                  static_cast<long long>(c.year), c.month, c.day, c.hour, c.minute, c.second,
                  c.millisecond);
  }
  char rate[32];
  std::snprintf(rate, sizeof rate, "%g", static_cast<double>(f.samprate));
  std::string code = css::datatype_code(f.datatype);
  console_.write_line(record.label + time + " " + std::to_string(record.nsamp) + " " + rate + " " +
                      (code.empty() ? "-" : code) + " " + common::printable(record.source.path) +
                      " " + (refusal ? common::printable(refusal->why) : std::string("ok")));
}

void RecordRun::run() {
  int error = 0;
  std::optional<css::WfdiscRecords> records = css::WfdiscRecords::open(header_path_, error);
  if (!records) stop_header_failed(header_path_, css::HeaderError::kOpen, error, console_);
  collect_inputs();
  if (settings_.OutFile && !settings_.query) {
    output_path_ = join_path(settings_.dirout, *settings_.OutFile);
    std::optional<FileId> id = file_id(output_path_);
    if (id && inputs_.count(*id)) common::stop(kOpenOutputFailed, common::kFailure);
  }
  std::int64_t number = 0, chosen = 0, refused = 0;
  while (std::optional<std::string_view> line = records->next(number)) {
    if (!selected(number)) continue;
    ++chosen;
    Record record = read_record(number, *line);
    std::optional<css::Refusal> refusal = convert(record);
    if (settings_.query) {
      query_line(record, refusal);
    } else if (refusal) {
      report(record, *refusal);
    }
    refused += refusal ? 1 : 0;
    if (settings_.record > 0) break;
  }
  if (number == 0) stop_header_failed(header_path_, css::HeaderError::kRead, 0, console_);
  if (chosen == 0) {
    common::stop(" Error: no record " + std::to_string(settings_.record) + " in the header file",
                 common::kFailure);
  }
  if (output_ && !(output_->put_line(gse::stop_line()) && output_->close())) {
    stop_write_failed(output_path_, *output_, console_);
  }
  if (refused > 0) {
    common::stop(" Error: " + std::to_string(refused) + " of " + std::to_string(chosen) +
                     (settings_.query ? " records cannot be converted" : " records not converted"),
                 common::kFailure);
  }
  common::stop(" ", common::kSuccess);
}

}  // namespace

void convert_records(const Settings& settings, common::Console& console) {
  RecordRun(settings, join_path(settings.dirin, settings.InHFile), console).run();
}

}  // namespace wavconv::driver
