#include "driver/record_mode.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "common/calendar.h"
#include "common/platform.h"
#include "common/stop.h"
#include "common/text.h"
#include "css/datatype.h"
#include "css/sample_reader.h"
#include "css/samples.h"
#include "css/site.h"
#include "css/wfdisc.h"
#include "driver/batch.h"
#include "driver/output.h"
#include "driver/pool.h"
#include "driver/progress.h"
#include "driver/record_run.h"
#include "driver/scaling.h"
#include "gse/block.h"
#include "gse/naming.h"
#include "gse/window.h"
#include "gse/writer.h"

namespace wavconv::driver {
namespace {

constexpr double kNullTime = -9999999999.0;
// Times, jumps and lengths in samples beyond this are refused rather than overflowing 64 bits
// (as milliseconds for a time).
constexpr double kLargest = 9.0e15;

// A block's bytes, as a file would get them, kept in memory.
// The writers format into its room as they would into a file's buffer; the string is kept
// from record to record, so that its memory is not asked for again each time.
struct BlockText : common::Sink {
  explicit BlockText(std::string& bytes) : bytes_(bytes) { bytes_.clear(); }
  bool put_line(std::string_view line) override {
    bytes_.append(line).append("\r\n");
    return true;
  }
  bool put_bytes(std::string_view lines) override {
    bytes_.append(lines);
    return true;
  }
  char* reserve(std::size_t size) override {
    used_ = bytes_.size();
    if (bytes_.capacity() < used_ + size) bytes_.reserve(std::max(used_ + size, 2 * used_));
    bytes_.resize(used_ + size);
    return bytes_.data() + used_;
  }
  void commit(std::size_t used) override { bytes_.resize(used_ + used); }

 private:
  std::string& bytes_;
  std::size_t used_ = 0;
};

// One record as it goes through the run.
struct Record {
  std::int64_t number = 0;
  css::Wfdisc fields;
  std::optional<css::FieldError> unread;  // the first field that does not read
  css::SampleSource source;
  std::int64_t nsamp = 0;             // as the header says, then as the samples hold
  std::string label;                  // " Record n (STA CHAN): "
  css::StationTables::Found station;  // what the station tables say, when there are any
  std::optional<Scaling> scaling;     // how float samples were scaled into counts (/S)
  std::vector<double> reals;          // a float record's values, for a format that takes them
  int real_width = 0;                 // bytes of one of them in the sample file
};

// The run's state across records.
class RecordRun {
 public:
  RecordRun(const Settings& settings, std::string header_path, common::Console& console)
      : settings_(settings),
        header_path_(std::move(header_path)),
        console_(console),
        writer_(settings.format->make(settings.writer_options)) {}

  [[noreturn]] void run();

 private:
  bool selected(std::int64_t number) const {
    return settings_.record <= 0 || number == settings_.record;
  }
  // With `placed`, what the station tables say of it too.
  Record read_record(std::int64_t number, std::string_view line, bool placed = true) const;
  void collect_inputs();
  // What one thread needs of its own to read and format records.
  struct Lane {
    std::unique_ptr<gse::Writer> writer;
    css::GzipStreams gzip_streams;
  };
  // A record read and decoded (and with several threads, its block formatted), waiting to be
  // written in its turn.
  struct Prepared {
    Record record;
    std::optional<css::Refusal> refusal;
    css::Rounding rounding;
    css::Samples samples;
    common::Trace trace;  // all but the samples
    std::string block;    // the block's bytes, when formatted ahead
    bool formatted = false;
    // A record's file of its own (no output name given): its name and path; whether it was
    // checked, opened and written ahead of its turn (by a batch of several threads); once
    // opened, the file, or the system's reason it could not be created (or a refusal); and
    // whether its bytes were then written and finished.
    std::string output_name, output_path;
    std::uint64_t output_key = 0;
    bool ahead = false;
    std::unique_ptr<common::OutputFile> output;
    int open_error = 0;
    std::optional<bool> filled;
  };
  // The record's samples of its window, decoded; or why not.
  std::variant<std::pair<css::Samples, gse::Window>, css::Refusal> samples_of(
      Record& record, css::Rounding& rounding, Lane& lane);
  // Everything of a record that does not depend on the records before it: its samples, its
  // trace and the format's verdict, and with `format_ahead` its block's bytes.
  void prepare(Prepared& prepared, Lane& lane, bool format_ahead);
  // The rest, in record order: the output checks and the writing; its messages.
  std::optional<css::Refusal> finish(Prepared& prepared);
  // /S: the window's float samples scaled by the largest power of ten that the output format
  // and its calib field allow.
  std::variant<css::Samples, css::Refusal> scaled(Record& record, css::SampleReader& file,
                                                  const gse::Window& window, Lane& lane);
  // The output checks of a record, in the order the run makes them; with /Q nothing is written.
  std::optional<css::Refusal> write(Prepared& prepared);
  // The name and path of a record's own output.
  void name_own_output(Prepared& prepared) const;
  // The checks of a record's own output that this run's other records decide: its name not
  // taken by an earlier record, no input replaced.
  std::optional<css::Refusal> own_output_checks(Prepared& prepared);
  // In a batch, in record order: the checks that earlier records decide, made ahead of the
  // record's turn, and its output claimed, so that its file may be written now. A record that
  // names the output of an earlier one of the batch is left to its turn, when that one is in
  // place.
  void claim_ahead(Prepared& prepared);
  // Opens, writes and finishes the record's own file, short of putting it in place, saying
  // nothing (any thread): the record then has its file, a refusal, or the system's reason.
  void fill_own_output(Prepared& prepared, gse::Writer& writer);
  // Puts the record's block into `sink`: its bytes formatted ahead, or formatted now.
  bool put_block(Prepared& prepared, common::Sink& sink, gse::Writer& writer);
  void report(const Record& record, const css::Refusal& refusal);
  void query_line(const Record& record, const std::optional<css::Refusal>& refusal);
  // For the listing: whether the station tables placed the record (nothing without tables).
  std::string station_note(const Record& record) const;

  const Settings& settings_;
  std::string header_path_;
  common::Console& console_;
  // The header, every selected record's sample file, the outputs in place.
  RunFiles files_{*settings_.format->kind};
  std::vector<std::uint64_t> pending_;   // outputs opened ahead, not yet in place
  std::optional<OneOutput> one_output_;  // an output name was given: every block goes there
  std::unique_ptr<gse::Writer> writer_;
  std::vector<Lane> lanes_;  // one a thread; the first is this thread's
  css::StationTables tables_;
  std::unordered_set<std::string> stations_;  // the stations the selected records name
  bool table_refused_ = false;                // a station table was refused whole
  std::int64_t selected_count_ = 0;           // the records the run converts
};

Record RecordRun::read_record(std::int64_t number, std::string_view line, bool placed) const {
  Record record;
  record.number = number;
  record.unread = css::parse_record(line, record.fields);
  record.nsamp = record.fields.nsamp;
  record.source = locate(header_path_, record.fields);
  record.label = " Record " + std::to_string(number) + " (" +
                 names_shown(settings_.identity, record.fields.sta, record.fields.chan) + "): ";
  if (placed && (tables_.any() || tables_.any_network()) && !record.unread &&
      std::fabs(record.fields.time) < kLargest) {
    common::Calendar day =
        common::to_calendar(static_cast<std::int64_t>(std::floor(record.fields.time)));
    record.station = tables_.find(record.fields.sta, record.fields.chan,
                                  day.year * 1000 + day.day_of_year, settings_.query);
  }
  return record;
}

void RecordRun::collect_inputs() {
  files_.add_input(header_path_);
  note_input(header_path_);
  if (std::optional<std::string> base = css::StationTables::base_of(header_path_)) {
    for (const char* table : {".site", ".site.gz", ".sitechan", ".sitechan.gz"}) {
      note_input(*base + table);
    }
  }
  int error = 0;
  std::optional<css::WfdiscRecords> records = css::WfdiscRecords::open(header_path_, error);
  std::int64_t number = 0;
  std::string last_noted;  // records of one file follow each other: it is noted once
  while (records) {
    std::optional<std::string_view> line = records->next(number);
    if (!line) break;
    if (!selected(number)) continue;
    ++selected_count_;
    Record record = read_record(number, *line, false);
    files_.add_input(record.source.path);
    if (record.source.path != last_noted) note_input(record.source.path);
    last_noted = record.source.path;
    stations_.insert(std::string(common::cut_at_blank(record.fields.sta)));
    if (settings_.record > 0) break;
  }
}

std::variant<std::pair<css::Samples, gse::Window>, css::Refusal> RecordRun::samples_of(
    Record& record, css::Rounding& rounding, Lane& lane) {
  const css::Wfdisc& f = record.fields;
  if (record.unread) return css::Refusal{record.unread->message()};
  if (f.time <= kNullTime) return css::Refusal{"time is the null value"};
  if (!(std::fabs(f.time) < kLargest)) return css::Refusal{"time is out of range"};
  if (!(f.samprate > 0)) return css::Refusal{"samprate is not above 0"};
  if (f.foff < 0) return css::Refusal{"foff is negative"};
  std::string_view dfile = common::cut_at_blank(f.dfile);
  if (dfile.empty() || dfile == "-") return css::Refusal{"no dfile"};
  auto opened = css::SampleReader::open(record.source, &lane.gzip_streams);
  if (auto* refusal = std::get_if<css::Refusal>(&opened)) return std::move(*refusal);
  auto& file = std::get<css::SampleReader>(opened);
  record.nsamp = file.nsamp();
  if (record.nsamp > css::kMaxSamples) {
    return css::Refusal{"more samples than one GSE block can hold"};
  }
  double rate = f.samprate;
  // The default length means "to the end": no product with the rate is formed for it.
  if (!(std::fabs(settings_.jump * rate) < kLargest &&
        (settings_.length == gse::kWholeSegment ||
         std::fabs(settings_.length * rate) < kLargest))) {
    return css::Refusal{"jump or length out of range at this samprate"};
  }
  // The ranges above keep every product within 64 bits.
  gse::Window window =
      *gse::choose_window(settings_.jump, settings_.length, f.samprate, record.nsamp);
  if (!(std::fabs(f.time + static_cast<double>(window.first - 1) / rate) < kLargest)) {
    return css::Refusal{"start time is out of range"};
  }
  if (file.is_real() && lane.writer->takes_reals() && !settings_.scale_floats &&
      !settings_.round_floats) {
    auto reals = file.read_reals(window.first, window.count());
    if (auto* refusal = std::get_if<css::Refusal>(&reals)) return std::move(*refusal);
    record.reals = std::move(std::get<std::vector<double>>(reals));
    record.real_width = static_cast<int>(file.sample_width());
    return std::pair{css::Samples{}, window};
  }
  if (settings_.scale_floats && file.is_real()) {
    auto samples = scaled(record, file, window, lane);
    if (auto* refusal = std::get_if<css::Refusal>(&samples)) return std::move(*refusal);
    if (record.scaling) return std::pair{std::move(std::get<css::Samples>(samples)), window};
  }
  auto samples = file.read(window.first, window.count(), settings_.round_floats, rounding,
                           lane.writer->sample_limit());
  if (auto* refusal = std::get_if<css::Refusal>(&samples)) return std::move(*refusal);
  return std::pair{std::move(std::get<css::Samples>(samples)), window};
}

std::variant<css::Samples, css::Refusal> RecordRun::scaled(Record& record, css::SampleReader& file,
                                                           const gse::Window& window, Lane& lane) {
  auto read = file.read_reals(window.first, window.count());
  if (auto* refusal = std::get_if<css::Refusal>(&read)) return std::move(*refusal);
  const std::vector<double>& reals = std::get<std::vector<double>>(read);
  // Whole-valued records are written as they are, unscaled.
  if (std::all_of(reals.begin(), reals.end(), [](double v) { return std::round(v) == v; })) {
    return css::Samples{};
  }
  css::Samples samples;
  try {
    samples = css::allocate_samples(window.count(), 4 * reals.size());
  } catch (const std::bad_alloc&) {
    return css::Refusal{"not enough memory for " + std::to_string(window.count()) + " samples"};
  }
  auto chosen = choose_scaling(reals, record.fields.calib, *lane.writer, samples.values.get());
  if (auto* why = std::get_if<std::string>(&chosen)) {
    // The formats that would keep these samples, for the user to choose.
    std::string others;
    for (const gse::OutputFormat& format : gse::output_formats()) {
      if (&format == settings_.format || !format.make) continue;
      std::unique_ptr<gse::Writer> other = format.make({});
      // Formats that hold floats keep them without /S: only those of counts are named.
      if (other->takes_reals()) continue;
      if (std::holds_alternative<Scaling>(
              choose_scaling(reals, record.fields.calib, *other, samples.values.get()))) {
        others += (others.empty() ? "/T" : ", /T") + std::string(format.name);
      }
    }
    return css::Refusal{*why + (others.empty() ? "" : "; " + others + " would keep them")};
  }
  record.scaling = std::get<Scaling>(chosen);
  return samples;
}

void RecordRun::prepare(Prepared& prepared, Lane& lane, bool format_ahead) {
  Record& record = prepared.record;
  auto loaded = samples_of(record, prepared.rounding, lane);
  if (auto* refusal = std::get_if<css::Refusal>(&loaded)) {
    prepared.refusal = std::move(*refusal);
    return;
  }
  auto& [samples, window] = std::get<std::pair<css::Samples, gse::Window>>(loaded);
  prepared.samples = std::move(samples);
  const css::Wfdisc& f = record.fields;
  // The time is within range (checked with the samples).
  common::Trace& trace = prepared.trace;
  trace = css::trace_of(f);
  apply_identity(settings_.identity, f.sta, f.chan, record.station.network, trace);
  trace.placement = record.station.placement;
  if (record.scaling) trace.calib = static_cast<float>(record.scaling->scaled_calib);
  trace.start = *gse::block_start(f.time, f.samprate, window, true);
  trace.start_us = start_microseconds(f.time, f.samprate, window.first);
  trace.first_sample = window.first;
  trace.whole_second_start = trace.start;
  trace.day_text = gse::day_of_year_text(trace.start.day_of_year);
  // Only the window's samples were read.
  trace.samples = prepared.samples.span();
  trace.reals = record.reals;
  trace.real_width = record.real_width;
  if (std::optional<std::string> why = lane.writer->refusal(trace)) {
    prepared.refusal = css::Refusal{*why};
    return;
  }
  if (format_ahead && !settings_.query) {
    try {
      BlockText text(prepared.block);
      prepared.formatted = lane.writer->write_block(trace, text).written;
      prepared.samples = css::Samples{};
      record.reals = std::vector<double>();
      trace.reals = {};
    } catch (const std::bad_alloc&) {
      prepared.block = std::string();  // formatted when it is written, as one thread does
    }
  }
}

bool RecordRun::put_block(Prepared& prepared, common::Sink& sink, gse::Writer& writer) {
  if (prepared.formatted) return sink.put_bytes(prepared.block);
  prepared.trace.samples = prepared.samples.span();
  return writer.write_block(prepared.trace, sink).written;
}

void RecordRun::name_own_output(Prepared& prepared) const {
  prepared.output_name = gse::record_output_name(prepared.trace.sta, prepared.trace.chan,
                                                 prepared.trace.start, settings_.format->extension);
  prepared.output_path = join_path(settings_.dirout, prepared.output_name);
}

std::optional<css::Refusal> RecordRun::own_output_checks(Prepared& prepared) {
  name_own_output(prepared);
  return files_.claim(prepared.output_path, prepared.output_key);
}

void RecordRun::claim_ahead(Prepared& prepared) {
  if (prepared.refusal) return;
  prepared.refusal = own_output_checks(prepared);
  if (prepared.refusal ||
      std::find(pending_.begin(), pending_.end(), prepared.output_key) != pending_.end()) {
    return;
  }
  pending_.push_back(prepared.output_key);
  prepared.ahead = true;
}

void RecordRun::fill_own_output(Prepared& prepared, gse::Writer& writer) {
  OutputOpening opening = try_open_output(prepared.output_path, *settings_.format->kind);
  prepared.open_error = opening.error;
  if (!opening.refusal.empty()) {
    prepared.refusal = css::Refusal{"output " + prepared.output_path + ": " + opening.refusal};
  }
  prepared.output = std::move(opening.file);
  if (!prepared.output) return;
  common::OutputFile& output = *prepared.output;
  prepared.filled = writer.start_file(output, prepared.output_name) &&
                    put_block(prepared, output, writer) && writer.end_file(output) &&
                    output.finish();
  prepared.samples = css::Samples{};
}

std::optional<css::Refusal> RecordRun::write(Prepared& prepared) {
  if (one_output_) {
    one_output_->put(console_,
                     [&](common::Sink& sink) { return put_block(prepared, sink, *writer_); });
    return std::nullopt;
  }
  const std::string& path = prepared.output_path;
  if (settings_.query) {
    name_own_output(prepared);
    return files_.query(path, console_);
  }
  // With several threads the file was mostly written ahead; its failures are said now.
  if (!prepared.ahead) {
    if (std::optional<css::Refusal> refusal = own_output_checks(prepared)) return refusal;
    fill_own_output(prepared, *writer_);
  }
  if (prepared.open_error != 0) stop_open_failed(path, prepared.open_error, console_);
  if (prepared.refusal) return std::move(prepared.refusal);
  if (!(*prepared.filled && prepared.output->close())) {
    stop_write_failed(path, *prepared.output, console_);
  }
  files_.placed(path, prepared.output_key);
  return std::nullopt;
}

std::optional<css::Refusal> RecordRun::finish(Prepared& prepared) {
  if (prepared.refusal) return std::move(prepared.refusal);
  const Record& record = prepared.record;
  if (auto refusal = write(prepared)) return refusal;
  if (record.scaling && !settings_.query) {
    const Scaling& s = *record.scaling;
    char text[160];
    std::snprintf(text, sizeof text, "scaled by 1e%d, calib %g -> %g, at most %.6g count rounded",
                  s.k, s.calib, s.scaled_calib, s.largest);
    console_.write_line(record.label + text);
  }
  if (!settings_.query) report_rounding(console_, record.label, prepared.rounding);
  return std::nullopt;
}

void RecordRun::report(const Record& record, const css::Refusal& refusal) {
  report_refusal(console_, record.label, refusal);
}

std::string RecordRun::station_note(const Record& record) const {
  if (!tables_.any()) return "";
  std::string note =
      record.station.located ? "; coordinates from the site table" : "; no coordinates";
  if (record.station.disagreeing > 0) {
    note += " (" + std::to_string(record.station.disagreeing) +
            " rows disagree: the later ondate taken)";
  }
  return note;
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
                      (code.empty() ? "-" : common::printable(code)) + " " +
                      std::to_string(f.foff) + " " + common::printable(record.source.path) + " " +
                      (refusal ? common::printable(refusal->why) : std::string("ok")) +
                      station_note(record));
}

void RecordRun::run() {
  int error = 0;
  std::optional<css::WfdiscRecords> records = css::WfdiscRecords::open(header_path_, error);
  if (!records) stop_header_failed(header_path_, css::HeaderError::kOpen, error, console_);
  collect_inputs();
  tables_ = load_station_tables(
      header_path_, [this](std::string_view sta) { return stations_.count(std::string(sta)) > 0; },
      console_, table_refused_);
  // However the run ends, a /M run counts the records converted and the rest as refused.
  struct Count {
    RecordTally* tally;
    const std::int64_t& selected;
    std::int64_t converted = 0;
    ~Count() {
      if (!tally) return;
      tally->converted += converted;
      tally->refused += selected - converted;
    }
  } count{settings_.tally, selected_count_};
  if (settings_.OutFile && writer_->one_trace_per_file() && selected_count_ > 1) {
    stop_one_trace_per_file(*settings_.format, selected_count_, "records");
  }
  if (settings_.OutFile) {
    one_output_.emplace(output_path(settings_), *writer_, *settings_.format->kind, settings_.query);
    files_.refuse_input_as_output(one_output_->path(), console_);
  }
  if (settings_.query) {
    console_.write_line(" Record n (STA CHAN): start nsamp samprate datatype foff path verdict");
  }
  // Progress and a summary for a conversion of many records, unless it is one header of /M.
  std::optional<Progress> progress;
  if (!settings_.query && !settings_.in_batch)
    progress.emplace(console_, "record", selected_count_);
  // With several threads, records are read, decoded and formatted a batch at a time by all of
  // them, then written in record order by this one: the files and messages are those of one
  // thread. One header of a /M run uses one thread (the headers share the threads).
  std::optional<Pool> pool;
  const std::size_t threads = settings_.in_batch ? 1 : thread_count(settings_.threads);
  if (threads > 1) {
    std::string note;
    pool.emplace(threads, note);
    if (!note.empty()) console_.write_error(common::error_line(note));
  }
  lanes_.resize(pool ? pool->size() : 1);
  for (Lane& lane : lanes_) lane.writer = settings_.format->make(settings_.writer_options);
  // Each record of a batch holds its file of its own open until its turn to put it in place:
  // at most 128 (two a thread at 64 threads) keep the descriptors and the signal handler's
  // slots well within bounds. Long batches keep the threads from waiting for each other at
  // their ends.
  const std::size_t batch_size =
      !pool         ? 1
      : one_output_ ? 4 * pool->size()
                    : std::max(2 * pool->size(), std::min<std::size_t>(16 * pool->size(), 128));
  std::int64_t number = 0, chosen = 0, finished = 0, refused = 0;
  // Records of many samples (or of a count not given) are read and written one at a time, their
  // blocks formatted straight into the output: memory stays one window for them.
  constexpr std::int32_t kBatchedSamples = 1 << 18;
  // A batch is prepared by every thread. Into one output, its blocks are formatted then and
  // written by this thread. Each into a file of its own, every thread goes on with the record
  // it prepared: it waits for the record's turn to make the output checks that earlier records
  // decide (record order, as one thread makes them), then writes and finishes the file while
  // its samples are warm in the cache; this thread puts the files in place in record order.
  // (Writing one batch while the next is prepared was slower here: the blocks went cold in the
  // cache before they were written, and both halves wait on memory.)
  std::vector<Prepared> writing, preparing;
  std::vector<std::string> spare;  // block buffers of written records, kept for the next
  std::mutex turn_mutex;
  std::condition_variable turn_changed;
  std::size_t turn = 0;  // the batch's records before this one have made their checks
  const std::function<void(std::size_t, std::size_t)> prepare_one = [&](std::size_t i,
                                                                        std::size_t t) {
    Prepared& prepared = preparing[i];
    prepare(prepared, lanes_[t], one_output_.has_value());
    if (one_output_ || settings_.query) return;
    {
      // The items of a run are taken in order, so the record before this one is being
      // prepared or waits here already: its turn comes.
      std::unique_lock<std::mutex> lock(turn_mutex);
      turn_changed.wait(lock, [&] { return turn == i; });
      claim_ahead(prepared);
      ++turn;
    }
    turn_changed.notify_all();
    if (prepared.ahead) fill_own_output(prepared, *lanes_[t].writer);
  };
  auto write_all = [&](std::vector<Prepared>& batch) {
    for (Prepared& prepared : batch) {
      std::optional<css::Refusal> refusal = finish(prepared);
      if (settings_.query) {
        query_line(prepared.record, refusal);
      } else if (refusal) {
        if (progress) progress->clear();
        report(prepared.record, *refusal);
      }
      refused += refusal ? 1 : 0;
      count.converted += refusal ? 0 : 1;
      if (progress) progress->update(++finished);
      spare.push_back(std::move(prepared.block));
    }
    batch.clear();
  };
  // Prepares the batch gathered and writes it.
  auto advance = [&] {
    if (preparing.empty()) return;
    turn = 0;
    pool->run(preparing.size(), prepare_one);
    write_all(preparing);
    pending_.clear();
  };
  while (std::optional<std::string_view> line = records->next(number)) {
    if (!selected(number)) continue;
    ++chosen;
    Prepared next;
    next.record = read_record(number, *line);
    if (!spare.empty()) {
      next.block = std::move(spare.back());
      spare.pop_back();
    }
    const bool alone =
        !pool || !(next.record.fields.nsamp > 0 && next.record.fields.nsamp <= kBatchedSamples);
    if (alone) {
      if (pool) advance();
      prepare(next, lanes_.front(), false);
      writing.push_back(std::move(next));
      write_all(writing);
    } else {
      preparing.push_back(std::move(next));
      if (preparing.size() == batch_size) advance();
    }
    if (settings_.record > 0) break;
  }
  if (pool) advance();
  if (number == 0) stop_header_failed(header_path_, css::HeaderError::kRead, 0, console_);
  if (chosen == 0) {
    common::stop(" Error: no record " + std::to_string(settings_.record) + " in the header file",
                 common::kFailure);
  }
  if (one_output_) one_output_->close(console_);
  if (progress) progress->summary(chosen - refused, refused);
  end_records_run(refused, chosen, settings_.query, table_refused_);
}

}  // namespace

void convert_records(const Settings& settings, common::Console& console) {
  RecordRun(settings, join_path(settings.dirin, settings.InHFile), console).run();
}

}  // namespace wavconv::driver
