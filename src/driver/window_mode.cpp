#include "driver/window_mode.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "common/calendar.h"
#include "common/stop.h"
#include "common/text.h"
#include "css/datatype.h"
#include "css/sample_reader.h"
#include "css/samples.h"
#include "css/site.h"
#include "css/wfdisc.h"
#include "driver/output.h"
#include "driver/record_run.h"
#include "driver/request.h"
#include "driver/selection.h"
#include "gse/block.h"
#include "gse/message.h"
#include "gse/naming.h"
#include "gse/writer.h"

namespace wavconv::driver {
namespace {

// The time field's null value (and anything at or below it).
constexpr Microseconds kNullTime = -9999999999LL * 1000000;

// The part of one record that lies within the window.
struct Piece {
  std::int64_t number = 0;
  css::Wfdisc fields;
  std::string sta, chan;  // without their padding
  css::SampleSource source;
  std::string label;  // " Record n (STA CHAN): "
  Microseconds start = 0;
  Rate rate;
  std::int64_t nsamp = 0;
  SampleSpan span;
  std::optional<css::Refusal> refusal;
  css::Samples samples;
  std::vector<double> reals;  // a float record's values, for a format that writes them
  int real_width = 0;         // 4 or 8 for those; 0 for counts
  css::Rounding rounding;
};

// A whole number as written ("  144000"); nothing for anything else.
std::optional<std::int64_t> whole_number(std::string_view text) {
  std::optional<Microseconds> value = parse_seconds(text);
  if (!value || *value % 1000000 != 0) return std::nullopt;
  return *value / 1000000;
}

// Whether `name` is one of `patterns` (every name when none is given).
bool listed(const std::vector<std::string>& patterns, std::string_view name) {
  if (patterns.empty()) return true;
  return std::any_of(patterns.begin(), patterns.end(),
                     [&](const std::string& p) { return wildcard_match(p, name); });
}

// The time of sample k of a piece's record, to the microsecond (halves up).
Microseconds sample_time(const Piece& piece, std::int64_t k) {
  const __int128 scaled = static_cast<__int128>(k) * piece.rate.denominator * 1000000;
  const __int128 twice = 2 * scaled / piece.rate.numerator;
  return piece.start + static_cast<Microseconds>((twice + 1) / 2);
}

// A time as a block's start: calendar fields to the millisecond.
common::Calendar block_calendar(Microseconds time) {
  Microseconds ms = time >= 0 ? (time + 500) / 1000 : -((-time + 499) / 1000);
  return common::to_calendar_milliseconds(ms);
}

// Windows cut out of one header's archive, one after another.
class WindowRun {
 public:
  // `wanted_stations`: the station lists of every window the run will cut (an empty one: every
  // station), for the station tables, read once.
  WindowRun(const Settings& settings, std::string header_path, common::Console& console,
            std::vector<std::vector<std::string>> wanted_stations)
      : settings_(settings),
        header_path_(std::move(header_path)),
        console_(console),
        wanted_stations_(std::move(wanted_stations)) {}

  struct Cut {
    std::int64_t pieces = 0;   // records with samples in the window
    std::int64_t refused = 0;  // of them not converted
  };
  // Cuts `selection` out of the archive and writes its blocks with `writer`: into `one_output`
  // after `section` (written before the first block only), or each into a file of its own
  // when there is none. With nothing in the window nothing is written or opened.
  Cut cut(const Selection& selection, gse::Writer& writer, OneOutput* one_output,
          std::string_view section = {});
  // Whether a station table was refused whole.
  bool table_refused() const { return table_refused_; }

 private:
  // The record's piece within the window; nothing when the record is not selected or has no
  // sample within it.
  std::optional<Piece> select(std::int64_t number, std::string_view line);
  // Reads a piece's samples (or its refusal).
  void read(Piece& piece);
  // Whether `next` continues `previous` as one trace, and the listing's word for it.
  bool joins(const Piece& previous, const Piece& next, std::string& why) const;
  // Whether a piece's samples are written as floats: 4 or 8 (their width), 0 for counts.
  int writes_reals(const Piece& piece) const;
  // Writes one block of joined pieces; a refusal when it cannot be.
  std::optional<css::Refusal> write_block(std::vector<Piece*>& pieces);
  void report(const Piece& piece, const css::Refusal& refusal);

  // The station tables, read at the first cut that finds anything: the rows of the stations
  // that the header names and a window asks for.
  void load_tables();

  const Settings& settings_;
  std::string header_path_;
  common::Console& console_;
  std::vector<std::vector<std::string>> wanted_stations_;
  css::GzipStreams gzip_streams_;
  css::StationTables tables_;
  bool tables_loaded_ = false, table_refused_ = false;
  std::unordered_set<std::string> header_stations_;  // every station the header names
  RunFiles files_{*settings_.format->kind};
  // The cut being made.
  const Selection* selection_ = nullptr;
  gse::Writer* writer_ = nullptr;
  OneOutput* one_output_ = nullptr;
  std::string section_;  // still to be written before the first block
  std::int64_t one_output_blocks_ = 0;
  std::int64_t refused_ = 0;
};

std::optional<Piece> WindowRun::select(std::int64_t number, std::string_view line) {
  // Station (columns 1-6) and channel (8-15) first: the other records are not read further.
  auto column = [&](std::size_t first, std::size_t width) {
    return first < line.size() ? line.substr(first, width) : std::string_view();
  };
  if (!listed(selection_->sta_list, common::cut_at_blank(column(0, 6))) ||
      !listed(selection_->chan_list, common::cut_at_blank(column(7, 8)))) {
    return std::nullopt;
  }
  // Then its time, count and rate exactly as written (columns 17-33, 80-87 and 89-99; the KB
  // Core layout has one column more before nsamp): a record plainly outside the window is not
  // read further either.
  const std::size_t shift = line.size() == 287 ? 1 : 0;
  std::optional<Microseconds> start = parse_seconds(column(16, 17));
  std::optional<std::int64_t> count = whole_number(column(79 + shift, 8));
  std::optional<Rate> rate = parse_rate(column(88 + shift, 11));
  if (start && count && rate && *count > 0 &&
      samples_within(*start, *rate, *count, selection_->from, selection_->to).count() == 0) {
    return std::nullopt;
  }
  Piece piece;
  piece.number = number;
  std::optional<css::FieldError> unread = css::parse_record(line, piece.fields);
  piece.sta = std::string(common::cut_at_blank(piece.fields.sta));
  piece.chan = std::string(common::cut_at_blank(piece.fields.chan));
  piece.label = " Record " + std::to_string(number) + " (" +
                names_shown(settings_.identity, piece.fields.sta, piece.fields.chan) + "): ";
  piece.source = locate(header_path_, piece.fields);
  files_.add_input(piece.source.path);
  // A record that cannot be placed in time is reported: it may hold the window.
  if (unread) {
    piece.refusal = css::Refusal{unread->message()};
  } else if (!start || *start <= kNullTime) {
    piece.refusal = css::Refusal{"time is the null value or does not read to the microsecond"};
  } else if (!rate) {
    piece.refusal = css::Refusal{"samprate is not above 0 or has more than 18 digits"};
  } else if (piece.fields.foff < 0) {
    piece.refusal = css::Refusal{"foff is negative"};
  }
  if (piece.refusal) return piece;
  piece.start = *start;
  piece.rate = *rate;
  piece.nsamp = piece.fields.nsamp;
  if (piece.nsamp <= 0) {
    // No count given: the file says how many samples there are.
    auto opened = css::SampleReader::open(piece.source, &gzip_streams_);
    if (auto* refusal = std::get_if<css::Refusal>(&opened)) {
      piece.refusal = std::move(*refusal);
      return piece;
    }
    piece.nsamp = std::get<css::SampleReader>(opened).nsamp();
  }
  piece.span =
      samples_within(piece.start, piece.rate, piece.nsamp, selection_->from, selection_->to);
  if (piece.span.count() == 0) return std::nullopt;
  if (piece.span.count() > css::kMaxSamples) {
    piece.refusal = css::Refusal{"more samples in the window than one GSE block can hold"};
  }
  return piece;
}

void WindowRun::read(Piece& piece) {
  if (piece.refusal) return;
  auto opened = css::SampleReader::open(piece.source, &gzip_streams_);
  if (auto* refusal = std::get_if<css::Refusal>(&opened)) {
    piece.refusal = std::move(*refusal);
    return;
  }
  auto& file = std::get<css::SampleReader>(opened);
  if (file.is_real() && writer_->takes_reals() && !settings_.round_floats) {
    auto reals = file.read_reals(piece.span.first + 1, piece.span.count());
    if (auto* refusal = std::get_if<css::Refusal>(&reals)) {
      piece.refusal = std::move(*refusal);
      return;
    }
    piece.reals = std::move(std::get<std::vector<double>>(reals));
    piece.real_width = static_cast<int>(file.sample_width());
    return;
  }
  auto samples = file.read(piece.span.first + 1, piece.span.count(), settings_.round_floats,
                           piece.rounding, writer_->sample_limit());
  if (auto* refusal = std::get_if<css::Refusal>(&samples)) {
    piece.refusal = std::move(*refusal);
    return;
  }
  piece.samples = std::move(std::get<css::Samples>(samples));
}

int WindowRun::writes_reals(const Piece& piece) const {
  if (!writer_->takes_reals() || settings_.round_floats) return 0;
  std::optional<css::Datatype> type =
      css::datatype_from_code(css::datatype_code(piece.fields.datatype));
  return type && css::is_float(*type) ? static_cast<int>(css::width(*type)) : 0;
}

bool WindowRun::joins(const Piece& previous, const Piece& next, std::string& why) const {
  const css::Wfdisc &a = previous.fields, &b = next.fields;
  if (!(previous.rate == next.rate)) {
    why = "new block: samprate differs";
    return false;
  }
  if (a.calib != b.calib || a.calper != b.calper || a.instype != b.instype) {
    why = "new block: calib, calper or instype differs";
    return false;
  }
  if (writes_reals(previous) != writes_reals(next)) {
    why = "new block: float and integer samples";
    return false;
  }
  Continuity c =
      continuity(previous.start, previous.span.end, next.start, next.span.first, next.rate);
  char text[96];
  if (c.kind > 0) {
    std::snprintf(text, sizeof text, "new block after a gap of %.6g s", c.seconds);
  } else if (c.kind < 0) {
    std::snprintf(text, sizeof text, "new block: overlaps the one before by %.6g s", -c.seconds);
  } else {
    std::snprintf(text, sizeof text, "joined");
  }
  why = text;
  return c.kind == 0;
}

std::optional<css::Refusal> WindowRun::write_block(std::vector<Piece*>& pieces) {
  const Piece& first = *pieces.front();
  std::int64_t count = 0;
  for (const Piece* piece : pieces) count += piece->span.count();
  if (count > css::kMaxSamples) {
    return css::Refusal{"more samples joined than one GSE block can hold"};
  }
  // One piece is written from its own samples; joined ones from one array (the pieces of a
  // block are all counts or all floats of one width).
  std::vector<std::int32_t> joined;
  std::vector<double> joined_reals;
  std::span<const std::int32_t> samples = first.samples.span();
  std::span<const double> reals = first.reals;
  if (pieces.size() > 1) {
    try {
      if (first.real_width > 0) {
        joined_reals.reserve(static_cast<std::size_t>(count));
      } else {
        joined.reserve(static_cast<std::size_t>(count));
      }
    } catch (const std::bad_alloc&) {
      return css::Refusal{"not enough memory for " + std::to_string(count) + " samples"};
    }
    for (const Piece* piece : pieces) {
      std::span<const std::int32_t> part = piece->samples.span();
      joined.insert(joined.end(), part.begin(), part.end());
      joined_reals.insert(joined_reals.end(), piece->reals.begin(), piece->reals.end());
    }
    samples = joined;
    reals = joined_reals;
  }
  common::Trace trace = css::trace_of(first.fields);
  const Microseconds start = sample_time(first, first.span.first);
  trace.start = block_calendar(start);
  trace.start_us = start;
  trace.whole_second_start = trace.start;
  trace.day_text = gse::day_of_year_text(trace.start.day_of_year);
  trace.first_sample = first.span.first + 1;
  trace.samples = samples;
  trace.reals = reals;
  trace.real_width = first.real_width;
  std::string network;
  if (tables_.any() || tables_.any_network()) {
    common::Calendar day = common::to_calendar(start / 1000000 - (start % 1000000 < 0));
    css::StationTables::Found found =
        tables_.find(first.fields.sta, first.fields.chan, day.year * 1000 + day.day_of_year, false);
    trace.placement = found.placement;
    network = found.network;
  }
  apply_identity(settings_.identity, first.fields.sta, first.fields.chan, network, trace);
  if (std::optional<std::string> why = writer_->refusal(trace)) return css::Refusal{*why};
  if (one_output_ && writer_->one_trace_per_file() && one_output_blocks_ > 0) {
    // A refused record split what was planned as one block.
    return css::Refusal{std::string("/T") + settings_.format->name +
                        " writes one trace a file: the output holds a block already"};
  }
  if (one_output_) {
    ++one_output_blocks_;
    one_output_->put(console_, [&](common::Sink& sink) {
      const bool ok = sink.put_bytes(section_) && writer_->write_block(trace, sink).written;
      section_.clear();
      return ok;
    });
    return std::nullopt;
  }
  std::string name =
      gse::record_output_name(trace.sta, trace.chan, trace.start, settings_.format->extension);
  std::string path = join_path(settings_.dirout, name);
  if (settings_.query) return files_.query(path, console_);
  std::uint64_t key = 0;
  if (std::optional<css::Refusal> refusal = files_.claim(path, key)) return refusal;
  std::string refusal;
  std::unique_ptr<common::OutputFile> output =
      open_output(path, *settings_.format->kind, console_, &refusal);
  if (!output) return css::Refusal{"output " + path + ": " + refusal};
  if (!(writer_->start_file(*output, name) && writer_->write_block(trace, *output).written &&
        writer_->end_file(*output) && output->close())) {
    stop_write_failed(path, *output, console_);
  }
  files_.placed(path, key);
  return std::nullopt;
}

void WindowRun::report(const Piece& piece, const css::Refusal& refusal) {
  report_refusal(console_, piece.label, refusal);
}

void WindowRun::load_tables() {
  if (tables_loaded_) return;
  tables_loaded_ = true;
  tables_ = load_station_tables(
      header_path_,
      [this](std::string_view sta) {
        return header_stations_.count(std::string(sta)) > 0 &&
               std::any_of(wanted_stations_.begin(), wanted_stations_.end(),
                           [&](const std::vector<std::string>& list) { return listed(list, sta); });
      },
      console_, table_refused_);
}

WindowRun::Cut WindowRun::cut(const Selection& selection, gse::Writer& writer,
                              OneOutput* one_output, std::string_view section) {
  selection_ = &selection;
  writer_ = &writer;
  one_output_ = one_output;
  section_ = section;
  refused_ = 0;
  int error = 0;
  std::optional<css::WfdiscRecords> records = css::WfdiscRecords::open(header_path_, error);
  if (!records) stop_header_failed(header_path_, css::HeaderError::kOpen, error, console_);
  files_.add_input(header_path_);
  std::vector<Piece> pieces;
  std::int64_t number = 0;
  while (std::optional<std::string_view> line = records->next(number)) {
    if (!tables_loaded_) header_stations_.emplace(common::cut_at_blank(line->substr(0, 6)));
    if (std::optional<Piece> piece = select(number, *line)) pieces.push_back(std::move(*piece));
  }
  if (number == 0) stop_header_failed(header_path_, css::HeaderError::kRead, 0, console_);
  if (pieces.empty()) return Cut{};
  if (one_output_) files_.refuse_input_as_output(one_output_->path(), console_);
  load_tables();
  // Station, channel, time: the order of the blocks, and of the pieces that join.
  std::stable_sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) {
    if (a.sta != b.sta) return a.sta < b.sta;
    if (a.chan != b.chan) return a.chan < b.chan;
    return a.start < b.start;
  });
  if (one_output_ && writer.one_trace_per_file()) {
    // The blocks as they would be joined, before anything is read or written.
    std::int64_t blocks = 0;
    const Piece* previous = nullptr;
    for (const Piece& piece : pieces) {
      if (piece.refusal) continue;
      std::string why;
      if (!previous || previous->sta != piece.sta || previous->chan != piece.chan ||
          !joins(*previous, piece, why)) {
        ++blocks;
      }
      previous = &piece;
    }
    if (blocks > 1) stop_one_trace_per_file(*settings_.format, blocks, "blocks");
  }
  if (settings_.query) {
    console_.write_line(
        " Record n (STA CHAN): first sample, samples in the window of nsamp, path, verdict");
  }
  for (std::size_t begin = 0; begin < pieces.size();) {
    std::size_t end = begin + 1;
    while (end < pieces.size() && pieces[end].sta == pieces[begin].sta &&
           pieces[end].chan == pieces[begin].chan) {
      ++end;
    }
    // One station and channel: its pieces read, joined into blocks and written in time order.
    std::vector<Piece*> block;
    std::vector<std::string> verdicts;
    auto flush = [&] {
      if (block.empty()) return;
      std::optional<css::Refusal> refusal = write_block(block);
      for (std::size_t i = 0; i < block.size(); ++i) {
        Piece& piece = *block[i];
        if (settings_.query) {
          console_.write_line(piece.label + time_text(sample_time(piece, piece.span.first)) + ", " +
                              std::to_string(piece.span.count()) + " of " +
                              std::to_string(piece.nsamp) + ", " +
                              common::printable(piece.source.path) + ", " +
                              (refusal ? common::printable(refusal->why) : verdicts[i]));
        } else if (refusal) {
          report(piece, *refusal);
        } else {
          report_rounding(console_, piece.label, piece.rounding);
        }
        piece.samples = css::Samples{};
        piece.reals = std::vector<double>();
      }
      if (refusal) refused_ += static_cast<std::int64_t>(block.size());
      block.clear();
      verdicts.clear();
    };
    for (std::size_t i = begin; i < end; ++i) {
      Piece& piece = pieces[i];
      read(piece);
      if (piece.refusal) {
        flush();
        ++refused_;
        if (settings_.query) {
          console_.write_line(piece.label + common::printable(piece.refusal->why));
        } else {
          report(piece, *piece.refusal);
        }
        continue;
      }
      std::string why = "new block";
      if (!block.empty() && !joins(*block.back(), piece, why)) flush();
      block.push_back(&piece);
      verdicts.push_back(why);
    }
    flush();
    begin = end;
  }
  return Cut{static_cast<std::int64_t>(pieces.size()), refused_};
}

}  // namespace

namespace {

// The bytes of a request message: its file, or standard input for "-"; at most one byte more
// than a request may hold. The run stops when it cannot be read.
std::string read_request(const std::string& path, common::Console& console) {
  common::FileHandle file;
  if (path != "-") {
    file = common::open_for_reading(path);
    if (!file.valid()) {
      console.write_error(common::system_error_line(path, errno));
      common::stop_with_error(common::error_line(common::printable(path) + ": request not read"),
                              common::kFailure);
    }
  }
  const int fd = path == "-" ? 0 : file.get();
  std::string text;
  char buffer[65536];
  while (text.size() <= kMaxRequestBytes) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      console.write_error(common::system_error_line(path, errno));
      common::stop_with_error(common::error_line(common::printable(path) + ": request not read"),
                              common::kFailure);
    }
    if (got == 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  return text;
}

}  // namespace

void answer_request(const Settings& settings, common::Console& console) {
  const std::string text = read_request(settings.request, console);
  auto parsed = parse_request(text);
  if (auto* why = std::get_if<std::string>(&parsed)) {
    common::stop_with_error(common::error_line(common::printable(settings.request) + ": " + *why),
                            common::kFailure);
  }
  const Request& request = std::get<Request>(parsed);
  std::vector<std::vector<std::string>> wanted;
  for (const RequestLine& line : request.lines) {
    if (line.answered) wanted.push_back(line.selection.sta_list);
  }
  WindowRun run(settings, join_path(settings.dirin, settings.InHFile), console, wanted);
  // The message is one output: its own lines and the blocks of every answered line, each
  // written by the writer of its subformat (which adds nothing around its blocks).
  std::unique_ptr<gse::Writer> cm6 = gse::find_output_format("cm6")->make({});
  std::unique_ptr<gse::Writer> int_writer = gse::find_output_format("int")->make({});
  const std::string path = settings.OutFile ? output_path(settings) : "/dev/stdout";
  OneOutput output(path, *cm6, common::kGseFile, settings.query);
  auto put = [&](const std::string& lines) {
    output.put(console, [&](common::Sink& sink) { return sink.put_bytes(lines); });
  };
  // Named after the output file as /Tims names its message, or after the request's id.
  const std::string id = gse::message_id(
      settings.OutFile ? file_name(path)
                       : request.msg_id.substr(0, request.msg_id.find(' ')) + "_answer");
  put(gse::data_message_head(request.version, id, request.msg_id));
  std::string log;
  std::int64_t pieces = 0, refused = 0, unanswered = 0;
  for (const RequestLine& line : request.lines) {
    if (!line.answered) {
      log += "line " + std::to_string(line.number) + ": " + line.text + ": " + line.why + "\n";
      ++unanswered;
      continue;
    }
    gse::Writer& writer = line.subformat == "INT" ? *int_writer : *cm6;
    WindowRun::Cut cut = run.cut(line.selection, writer, &output,
                                 gse::waveform_section(line.version, line.subformat));
    if (cut.pieces == 0) {
      log += "line " + std::to_string(line.number) + ": " + line.text +
             ": nothing in the archive matches" + line.selection.text + "\n";
      ++unanswered;
    }
    pieces += cut.pieces;
    refused += cut.refused;
  }
  if (!log.empty()) put(gse::error_log_section(request.version, log));
  put(std::string(gse::kMessageEnd));
  output.close(console);
  if (refused == 0 && unanswered > 0) {
    common::stop(" Error: " + std::to_string(unanswered) + " of " +
                     std::to_string(request.lines.size()) +
                     " request lines not answered (see the ERROR_LOG)",
                 common::kFailure);
  }
  end_records_run(refused, pieces, settings.query, run.table_refused());
}

void convert_window(const Settings& settings, common::Console& console) {
  WindowRun run(settings, join_path(settings.dirin, settings.InHFile), console,
                {settings.selection.sta_list});
  std::unique_ptr<gse::Writer> writer = settings.format->make(settings.writer_options);
  std::optional<OneOutput> one_output;
  if (settings.OutFile)
    one_output.emplace(output_path(settings), *writer, *settings.format->kind, settings.query);
  WindowRun::Cut cut = run.cut(settings.selection, *writer, one_output ? &*one_output : nullptr);
  if (cut.pieces == 0) {
    common::stop_with_error(
        common::error_line("nothing in the archive matches" + settings.selection.text),
        common::kFailure);
  }
  if (one_output) one_output->close(console);
  end_records_run(cut.refused, cut.pieces, settings.query, run.table_refused());
}

}  // namespace wavconv::driver
