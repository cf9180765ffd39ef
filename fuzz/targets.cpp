#include "targets.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cm6_decoder.h"
#include "common/field_edit.h"
#include "common/format.h"
#include "common/stop.h"
#include "css/packed.h"
#include "css/site.h"
#include "css/wfdisc.h"
#include "driver/options.h"
#include "driver/request.h"
#include "driver/run.h"
#include "driver/scaling.h"
#include "gse/writer.h"
#include "sac_reader.h"
#include "test_support.h"
#ifdef WAVCONV_MSEED
#include "mseed_reader.h"
#endif

namespace wavconv::fuzz {
namespace {

namespace fs = std::filesystem;

#define FUZZ_CHECK(condition)                                                                 \
  do {                                                                                        \
    if (!(condition)) {                                                                       \
      std::fprintf(stderr, "invariant failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
      std::abort();                                                                           \
    }                                                                                         \
  } while (0)

// A private directory for this process, emptied before each input.
const fs::path& work_dir() {
  static const fs::path dir = [] {
    std::string pattern = (fs::temp_directory_path() / "wavconv-fuzz-XXXXXX").string();
    fs::path made = ::mkdtemp(pattern.data());
    std::atexit([] { fs::remove_all(work_dir()); });
    return made;
  }();
  return dir;
}

void reset_work_dir() {
  for (const auto& entry : fs::directory_iterator(work_dir())) fs::remove_all(entry.path());
}

void write_file(const fs::path& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::map<std::string, std::string> snapshot() {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(work_dir())) {
    if (entry.is_regular_file()) {
      files[fs::relative(entry.path(), work_dir()).string()] = read_file(entry.path());
    }
  }
  return files;
}

// The checksum of samples by its definition (modulo 10^8, its magnitude).
long long checksum_of(const std::vector<long long>& values) {
  long long c = 0;
  for (long long v : values) c = (c + v % 100000000) % 100000000;
  return c < 0 ? -c : c;
}

// Checks a finished file of GSE2.0 blocks, bare or in an IMS2.0 message: lines end with LF;
// each WID2, STA2, DAT2, data lines of at most 80 characters and CHK2; the count in WID2 is the
// number of samples the data decodes to (CM6 by the tests' own decoder, INT as numbers), and
// CHK2 their checksum.
void check_gse2_blocks(const std::string& text) {
  FUZZ_CHECK(text.find('\r') == std::string::npos);
  FUZZ_CHECK(!text.empty() && text.back() == '\n');
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  std::size_t i = 0;
  const bool message = lines[0].rfind("BEGIN ", 0) == 0;
  if (message) {
    FUZZ_CHECK(lines.size() >= 5 && lines[1] == "MSG_TYPE DATA" &&
               lines[2].rfind("MSG_ID ", 0) == 0 && lines[3].rfind("DATA_TYPE ", 0) == 0);
    std::string id = lines[2].substr(7);
    FUZZ_CHECK(!id.empty() && id.size() <= 20);
    for (char c : id) FUZZ_CHECK(c > ' ' && c < 0x7f);
    FUZZ_CHECK(lines.back() == "STOP");
    lines.pop_back();
    i = 4;
  }
  while (i < lines.size()) {
    FUZZ_CHECK(lines[i].rfind("WID2 ", 0) == 0 && lines[i].size() >= 105);
    const bool cm6 = lines[i].compare(44, 3, "CM6") == 0;
    FUZZ_CHECK(cm6 || lines[i].compare(44, 3, "INT") == 0);
    const long long count = std::atoll(lines[i].substr(48, 8).c_str());
    FUZZ_CHECK(std::strtod(lines[i].substr(57, 11).c_str(), nullptr) > 0);
    FUZZ_CHECK(i + 2 < lines.size() && lines[i + 1].rfind("STA2", 0) == 0 &&
               lines[i + 2] == "DAT2");
    i += 3;
    std::string data;
    std::vector<long long> values;
    for (; i < lines.size() && lines[i].rfind("CHK2 ", 0) != 0; ++i) {
      FUZZ_CHECK(lines[i].size() <= 80);
      if (cm6) {
        data += lines[i];
      } else {
        std::istringstream numbers(lines[i]);
        for (long long v; numbers >> v;) values.push_back(v);
      }
    }
    FUZZ_CHECK(i < lines.size());
    if (cm6) {
      for (std::int64_t v : testing::decode_cm6(data)) values.push_back(v);
    }
    FUZZ_CHECK(static_cast<long long>(values.size()) == count);
    FUZZ_CHECK(std::atoll(lines[i].substr(5).c_str()) == checksum_of(values));
    ++i;
  }
}

// Checks a finished file of blocks: each WID1 ... CHK1 with CHK1 equal to the checksum of its
// data lines, and STOP once, last; or GSE2.0 blocks (check_gse2_blocks); or a SAC file, or
// miniSEED records. True when some sample
// was written as asterisks.
bool check_blocks(const std::string& text) {
  // A SAC file: its header and exactly its samples.
  if (text.size() >= 632 && text[304] == 6 && text[305] == 0) {
    FUZZ_CHECK(testing::read_sac(text).ok);
    return false;
  }
#ifdef WAVCONV_MSEED
  // miniSEED: records that libmseed parses, to the end.
  bool parsed = false;
  if (!testing::read_mseed(text, &parsed).empty()) {
    FUZZ_CHECK(parsed);
    return false;
  }
#endif
  if (text.rfind("WID2", 0) == 0 || text.rfind("BEGIN", 0) == 0) {
    check_gse2_blocks(text);
    return false;
  }
  bool any_too_wide = false;
  const std::string stop_line = "STOP" + std::string(76, ' ') + "\r\n";
  FUZZ_CHECK(text.size() >= 4 * 82);
  FUZZ_CHECK(text.compare(text.size() - 82, 82, stop_line) == 0);
  std::size_t pos = 0;
  while (pos < text.size() - 82) {
    FUZZ_CHECK(text.compare(pos, 4, "WID1") == 0);
    pos += 3 * 82;
    long long c = 0;
    bool too_wide = false;  // asterisks: the checksum is that of values not shown
    while (text.compare(pos, 4, "CHK1") != 0) {
      std::size_t end = text.find("\r\n", pos);
      FUZZ_CHECK(end != std::string::npos && (end - pos) % 8 == 0 && end - pos <= 80);
      for (std::size_t f = pos; f < end; f += 8) {
        too_wide = too_wide || text[f] == '*';
        long long v = std::atoll(text.substr(f, 8).c_str());
        c = (c + v % 100000000) % 100000000;
      }
      pos = end + 2;
    }
    FUZZ_CHECK(too_wide || (c < 0 ? -c : c) == std::atoll(text.substr(pos + 9, 15).c_str()));
    any_too_wide = any_too_wide || too_wide;
    pos += 82;
  }
  return any_too_wide;
}

// Runs the arguments in the work directory, whose header and sample file are given, and checks
// what every run must keep: status 0 or 1, inputs unchanged, no temporary file left, every
// file written a whole file of blocks. Returns the files created; `too_wide` tells whether a
// sample was written as asterisks.
std::vector<std::string> checked_run(const std::vector<std::string>& args, common::StringSink& out,
                                     bool& too_wide) {
  too_wide = false;
  std::map<std::string, std::string> before = snapshot();
  common::StringSink err;
  common::Console console(out, err);
  int status = driver::run(args, console);
  FUZZ_CHECK(status == 0 || status == 1);
  std::map<std::string, std::string> after = snapshot();
  for (const auto& [name, bytes] : before) {
    if (name == "hdr.wfdisc" || name == "abc.w") FUZZ_CHECK(after[name] == bytes);
  }
  std::vector<std::string> created;
  for (const auto& [name, bytes] : after) {
    // No hidden output and no temporary file left, in any folder.
    std::string file = fs::path(name).filename().string();
    FUZZ_CHECK(file.empty() || file[0] != '.');
    if (before.count(name)) continue;
    created.push_back(name);
    too_wide = check_blocks(bytes) || too_wide;
  }
  if (status == 1) FUZZ_CHECK(out.text.size() + err.text.size() > 0);
  if (status == 0) FUZZ_CHECK(out.text.size() >= 3 && out.text.find(" \r\n") != std::string::npos);
  return created;
}

// The input split at "\n--\n" into header bytes, sample bytes and argument lines, the first
// two written to the work directory; the arguments that begin with "/" and at most one plain
// output name stay inside it.
std::vector<std::string> prepare(const std::uint8_t* data, std::size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> parts;
  for (std::size_t start = 0;;) {
    std::size_t end = input.find("\n--\n", start);
    parts.push_back(input.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos || parts.size() == 3) break;
    start = end + 4;
  }
  parts.resize(3);
  reset_work_dir();
  write_file(work_dir() / "hdr.wfdisc", parts[0]);
  write_file(work_dir() / "abc.w", parts[1]);
  std::vector<std::string> args{"hdr.wfdisc"};
  std::istringstream lines(parts[2]);
  for (std::string line; std::getline(lines, line) && args.size() < 8;) {
    if (!line.empty() && line[0] == '/' && line.size() > 1 && line[1] != 'I' && line[1] != 'i' &&
        line[1] != 'O' && line[1] != 'o') {
      args.push_back(line);
    } else if ((line.rfind("--from=", 0) == 0 || line.rfind("--to=", 0) == 0 ||
                line.rfind("--sta=", 0) == 0 || line.rfind("--chan=", 0) == 0)) {
      args.push_back(line);  // a window cut out of the records
    } else if (line.rfind("--net=", 0) == 0 || line.rfind("--loc=", 0) == 0 ||
               line.rfind("--rename=", 0) == 0 || line.rfind("--encoding=", 0) == 0 ||
               line.rfind("--reclen=", 0) == 0) {
      args.push_back(line);  // names and the binary formats' options
    } else if (args.size() == 1 && !line.empty() &&
               line.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_") ==
                   std::string::npos) {
      args.push_back(line);
    }
  }
  std::string dir = work_dir().string() + "/";
  args.push_back("/I" + dir);
  args.push_back("/O" + dir);
  return args;
}

}  // namespace

void wfdisc_record(const std::uint8_t* data, std::size_t size) {
  std::string_view line(reinterpret_cast<const char*>(data), size);
  css::Wfdisc record;
  if (css::parse_wfdisc(line, record)) {
    FUZZ_CHECK(record.sta.size() == 6 && record.dir.size() == 64 && record.dfile.size() == 32);
    std::string path = css::sample_path("in/h.wfdisc", record);
    FUZZ_CHECK(path.find(' ') == std::string::npos);
  }
}

void numeric_input(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return;
  bool real = data[0] & 1;
  int width = 1 + (data[0] >> 1) % 40;
  int digits = data[1] % 20;
  std::string field(reinterpret_cast<const char*>(data + 2), size - 2);
  std::string format = real ? "(f" + std::to_string(width) + "." + std::to_string(digits) + ")"
                            : "(i" + std::to_string(width) + ")";
  common::Format parsed = common::Format::parse(format);
  std::int32_t i = 0;
  float f = 0;
  double d = 0;
  if (real) {
    const common::Destination single[] = {&f};
    if (common::read(parsed, field, single) == common::ReadStatus::kOk) {
      std::string text = common::edit_real(f, width, digits);
      FUZZ_CHECK(static_cast<int>(text.size()) == width);
    }
    const common::Destination wide[] = {&d};
    common::read(parsed, field, wide);
  } else {
    const common::Destination integer[] = {&i};
    if (common::read(parsed, field, integer) == common::ReadStatus::kOk) {
      FUZZ_CHECK(static_cast<int>(common::edit_integer(i, width).size()) == width);
    }
  }
}

void command_line(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args;
  std::string current;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  args.push_back(current);
  try {
    driver::Settings settings = driver::parse_options(args);
    FUZZ_CHECK(settings.length != 0 && settings.length <= 99999);
  } catch (const common::Stop& stop) {
    FUZZ_CHECK(stop.status == 1 && stop.kind == common::Stop::Kind::kFatal);
  }
}

void conversion(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args = prepare(data, size);
  common::StringSink out;
  bool too_wide = false;
  FUZZ_CHECK(checked_run(args, out, too_wide).size() <= 1);
}

void record_mode(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args = prepare(data, size);
  args.insert(args.begin(), "/R");
  common::StringSink out;
  bool too_wide = false;
  checked_run(args, out, too_wide);
  FUZZ_CHECK(!too_wide);  // such a record is refused instead
}

void station_tables(const std::uint8_t* data, std::size_t size) {
  // The bytes split at "\n--\n" into a site and a sitechan table; looked up on a few days.
  std::string input(reinterpret_cast<const char*>(data), size);
  std::size_t split = input.find("\n--\n");
  reset_work_dir();
  write_file(work_dir() / "h.site", input.substr(0, split));
  if (split != std::string::npos) write_file(work_dir() / "h.sitechan", input.substr(split + 4));
  std::vector<std::string> problems;
  bool refused = false;
  css::StationTables tables = css::StationTables::load(
      (work_dir() / "h.wfdisc").string(), [](std::string_view) { return true; }, problems, refused);
  for (const std::string& problem : problems)
    FUZZ_CHECK(problem.find("h.site") != std::string::npos);
  for (std::int64_t day : {1970001, 2001043, 2001365, 9999365}) {
    for (const char* sta : {"ABC", "XYZ", ""}) {
      css::StationTables::Found counted = tables.find(sta, "BHZ", day);
      css::StationTables::Found fast = tables.find(sta, "BHZ", day, false);
      // The look-up without counting finds what the counting one finds.
      FUZZ_CHECK(counted.placement.latitude == fast.placement.latitude &&
                 counted.placement.depth == fast.placement.depth);
      FUZZ_CHECK(counted.located == (counted.placement.latitude && counted.placement.longitude));
    }
  }
}

void float_scaling(const std::uint8_t* data, std::size_t size) {
  // Byte 0 the format, bytes 1-4 the calib (float), the rest doubles.
  if (size < 5) return;
  auto formats = gse::output_formats();
  const gse::OutputFormat& format = formats[data[0] % formats.size()];
  float calib;
  std::memcpy(&calib, data + 1, 4);
  if (!std::isfinite(calib)) return;
  std::vector<double> samples((size - 5) / 8);
  if (!samples.empty()) std::memcpy(samples.data(), data + 5, samples.size() * 8);
  for (double v : samples) {
    if (!std::isfinite(v)) return;
  }
  std::vector<std::int32_t> counts(samples.size());
  std::unique_ptr<gse::Writer> writer = format.make({});
  auto chosen = driver::choose_scaling(samples, calib, *writer, counts.data());
  if (auto* scaling = std::get_if<driver::Scaling>(&chosen)) {
    // Counts within the format's limit, each within half a count of its sample, and at least
    // three significant digits in the largest.
    const common::SampleLimit limit = writer->sample_limit();
    std::int64_t largest = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
      FUZZ_CHECK(counts[i] >= limit.lowest && counts[i] <= limit.highest);
      double scaled = samples[i] * std::pow(10.0, scaling->k);
      FUZZ_CHECK(std::fabs(scaled - counts[i]) <= 0.5 + 1e-9 * std::fabs(scaled));
      largest = std::max<std::int64_t>(largest, std::llabs(counts[i]));
    }
    FUZZ_CHECK(samples.empty() || largest >= driver::kFewestCounts);
    FUZZ_CHECK(writer->samples_fit(counts));
  }
}

// A trace of station ABC, channel BHZ, STS-2, 20 samples a second, calib and calper 1, starting
// 2001-02-12 03:07:09.250, with `samples`.
common::Trace example_trace(std::span<const std::int32_t> samples) {
  common::Trace trace;
  trace.sta = "ABC   ";
  trace.chan = "BHZ     ";
  trace.instype = "STS-2 ";
  trace.samprate = 20;
  trace.calib = 1;
  trace.calper = 1;
  trace.start = common::to_calendar_milliseconds(981947229250);
  trace.whole_second_start = trace.start;
  trace.day_text = "043";
  trace.samples = samples;
  return trace;
}

void gse2_writers(const std::uint8_t* data, std::size_t size) {
  // Byte 0 the format (cm6, int, ims), the rest 32-bit samples; written through each sink path
  // and read back.
  if (size < 1) return;
  const char* names[] = {"cm6", "int", "ims"};
  std::unique_ptr<gse::Writer> writer = gse::find_output_format(names[data[0] % 3])->make({});
  std::vector<std::int32_t> samples((size - 1) / 4);
  if (!samples.empty()) std::memcpy(samples.data(), data + 1, samples.size() * 4);
  common::Trace trace = example_trace(samples);
  if (writer->refusal(trace)) return;
  testing::StringLineSink sink;
  FUZZ_CHECK(writer->start_file(sink, "out.msg") && writer->write_block(trace, sink).written &&
             writer->end_file(sink));
  check_gse2_blocks(sink.text);
  std::vector<std::int64_t> decoded;
  if (data[0] % 3 != 1) {
    std::size_t begin = sink.text.find("DAT2\n") + 5, end = sink.text.find("CHK2");
    std::string chars;
    for (std::size_t at = begin; at < end;) {
      std::size_t line_end = sink.text.find('\n', at);
      chars += sink.text.substr(at, line_end - at);
      at = line_end + 1;
    }
    decoded = testing::decode_cm6(chars);
    FUZZ_CHECK(std::equal(decoded.begin(), decoded.end(), samples.begin(), samples.end()));
  }
}

void e1_data(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return;
  std::int64_t count = data[0] << 8 | data[1];
  // A copy of exactly the data, so that a read past its end is a sanitizer finding.
  std::vector<unsigned char> bytes(data + 2, data + size);
  std::int64_t reads = 0;
  css::ByteReader reader = [&](std::int64_t position, unsigned char* out, std::size_t n) {
    FUZZ_CHECK(position >= 0 && ++reads <= 2 * count + 2);
    if (position >= static_cast<std::int64_t>(bytes.size())) return std::size_t{0};
    std::size_t got = std::min(n, bytes.size() - static_cast<std::size_t>(position));
    std::memcpy(out, bytes.data() + position, got);
    return got;
  };
  std::vector<std::int32_t> out(static_cast<std::size_t>(count - count / 3));
  std::optional<css::DecodeFault> fault =
      css::decode_e1(reader, count, css::Kept{count / 3, count - count / 3, out.data()});
  if (fault)
    FUZZ_CHECK(fault->offset >= 0 && fault->offset <= static_cast<std::int64_t>(bytes.size()));
}

void request_message(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto parsed = driver::parse_request(text);
  if (auto* why = std::get_if<std::string>(&parsed)) {
    FUZZ_CHECK(!why->empty() && why->find('\n') == std::string::npos);
    return;
  }
  const driver::Request& request = std::get<driver::Request>(parsed);
  FUZZ_CHECK(!request.lines.empty() && !request.msg_id.empty());
  FUZZ_CHECK(std::none_of(request.msg_id.begin(), request.msg_id.end(),
                          [](char c) { return static_cast<unsigned char>(c) < 0x20; }));
  for (const driver::RequestLine& line : request.lines) {
    FUZZ_CHECK(line.answered == line.why.empty());
    if (!line.answered) continue;
    FUZZ_CHECK(line.subformat == "CM6" || line.subformat == "INT");
    const driver::Selection& s = line.selection;
    FUZZ_CHECK(!s.from || !s.to || *s.from < *s.to);
  }
}

void binary_writers(const std::uint8_t* data, std::size_t size) {
  // Byte 0: the format (SAC, or miniSEED where the build has it) and its encoding and record
  // length; byte 1: whether the samples are counts, 4-byte or 8-byte floats; the rest samples.
  // What is written reads back as it was, or was refused.
  if (size < 2) return;
  const bool sac = data[0] % 2 == 0;
  const gse::OutputFormat& format = *gse::find_output_format(sac ? "sac" : "mseed");
  if (!format.make) return;
  const char* encodings[] = {"steim2", "steim1", "int32"};
  gse::WriterOptions options{encodings[(data[0] / 2) % 3], 256 << ((data[0] / 6) % 9)};
  std::unique_ptr<gse::Writer> writer = format.make(options);
  const int kind = data[1] % 3;
  const std::size_t width = kind == 1 ? 8 : 4;
  const std::size_t n = (size - 2) / width;
  std::vector<std::int32_t> counts(kind == 0 ? n : 0);
  std::vector<double> reals(kind == 0 ? 0 : n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t* at = data + 2 + i * width;
    if (kind == 0) std::memcpy(&counts[i], at, 4);
    if (kind == 1) std::memcpy(&reals[i], at, 8);
    if (kind == 2) {
      float f;
      std::memcpy(&f, at, 4);
      reals[i] = f;
    }
    if (kind != 0 && !std::isfinite(reals[i])) return;  // the reader refuses these first
  }
  common::Trace trace = example_trace(counts);
  trace.reals = reals;
  trace.real_width = kind == 1 ? 8 : 4;
  trace.start_us = 981947229123456;
  if (writer->refusal(trace)) return;
  testing::StringLineSink sink;
  FUZZ_CHECK(writer->start_file(sink, "out") && writer->write_block(trace, sink).written &&
             writer->end_file(sink));
  std::vector<double> back;
  if (sac) {
    testing::SacFile file = testing::read_sac(sink.text);
    FUZZ_CHECK(file.ok && file.ints["npts"] == static_cast<std::int32_t>(n));
    back.assign(file.data.begin(), file.data.end());
  } else {
#ifdef WAVCONV_MSEED
    bool ok = false;
    for (const testing::MseedRecord& r : testing::read_mseed(sink.text, &ok)) {
      FUZZ_CHECK(r.length == options.record_length);
      back.insert(back.end(), r.ints.begin(), r.ints.end());
      back.insert(back.end(), r.floats.begin(), r.floats.end());
      back.insert(back.end(), r.doubles.begin(), r.doubles.end());
    }
    FUZZ_CHECK(ok);
#endif
  }
  FUZZ_CHECK(back.size() == n);
  for (std::size_t i = 0; i < n; ++i) {
    const double expected = kind == 0 ? counts[i] : reals[i];
    FUZZ_CHECK(std::memcmp(&back[i], &expected, sizeof expected) == 0 || back[i] == expected);
  }
}

}  // namespace wavconv::fuzz
