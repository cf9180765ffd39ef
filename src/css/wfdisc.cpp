#include "css/wfdisc.h"

#include <cerrno>
#include <vector>

#include "common/files.h"
#include "common/format.h"
#include "common/platform.h"
#include "common/stop.h"
#include "common/text.h"

namespace wavconv::css {
namespace {

const common::Format& wfdisc_format() {
  static const common::Format format = common::Format::parse(
      "(A6,1X,A8,1X,F17.5,1X,3(I8,1X),F17.5,1X,I8,1X,F11.7,1X,2(F16.6,1X),A6,1X,A1,1X,A2,1X,"
      "A1,1X,A64,1X,A32,1X,I10,1X,I8,1X,A17)");
  return format;
}

// The header file opened for reading; a character or block device (such as /dev/zero, which
// never ends a line) is refused like a file that cannot be opened. A FIFO is read.
common::FileHandle open_header(const std::string& path, int& system_error) {
  common::FileHandle file = common::open_for_reading(path);
  system_error = file.valid() ? 0 : errno;
  struct stat info;
  if (file.valid() && ::fstat(file.get(), &info) == 0 &&
      (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode))) {
    system_error = common::kNotRegularFile;
    return common::FileHandle();
  }
  return file;
}

bool is_absolute(std::string_view path) { return !path.empty() && path[0] == '/'; }

}  // namespace

std::string FieldError::message() const {
  std::size_t begin = text.find_first_not_of(' ');
  std::string shown =
      begin == std::string::npos ? "" : text.substr(begin, text.find_last_not_of(' ') - begin + 1);
  return name + " (columns " + std::to_string(first) + "-" + std::to_string(last) +
         ") does not read: \"" + shown + "\"";
}

namespace {

// A field record mode reads: its columns in the 283-column layout, and where it goes.
struct RecordField {
  const char* name;
  int first, last;
  common::Destination destination;
};

// The format that reads one field of `width` columns (at most 65) as `kind` ('I' or 'F'); made
// once, so that runs in several threads share them.
const common::Format& field_format(char kind, int width) {
  constexpr int kWidest = 65;
  static const std::vector<common::Format> formats = [] {
    std::vector<common::Format> made;
    for (char k : {'I', 'F'}) {
      for (int w = 0; w <= kWidest; ++w) {
        std::string text = "(A1)";
        if (w > 0) {
          text.assign(1, '(').append(1, k).append(std::to_string(w)).append(k == 'F' ? ".0)" : ")");
        }
        made.push_back(common::Format::parse(text));
      }
    }
    return made;
  }();
  return formats[static_cast<std::size_t>((kind == 'I' ? 0 : kWidest + 1) + width)];
}

// A real written without a decimal point gets one after its digits, so that it reads as written
// rather than with the field's implied decimals.
std::string as_written(std::string text) {
  if (text.find('.') != std::string::npos) return text;
  std::size_t i = text.find_first_not_of(' ');
  if (i == std::string::npos) return text;
  if (text[i] == '+' || text[i] == '-') ++i;
  std::size_t digits = i;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (digits > i) text.insert(digits, 1, '.');
  return text;
}

}  // namespace

std::optional<FieldError> parse_record(std::string_view line, Wfdisc& record) {
  constexpr std::size_t kKbCoreLength = 287;
  // The KB Core layout has one column more before nsamp.
  const int shift = line.size() == kKbCoreLength ? 1 : 0;
  const RecordField fields[] = {
      {"sta", 1, 6, &record.sta},
      {"chan", 8, 15, &record.chan},
      {"time", 17, 33, &record.time},
      {"nsamp", 80 + shift, 87 + shift, &record.nsamp},
      {"samprate", 89 + shift, 99 + shift, &record.samprate},
      {"calib", 101 + shift, 116 + shift, &record.calib},
      {"calper", 118 + shift, 133 + shift, &record.calper},
      {"instype", 135 + shift, 140 + shift, &record.instype},
      {"segtype", 142 + shift, 142 + shift, &record.segtype},
      {"datatype", 144 + shift, 145 + shift, &record.datatype},
      {"clip", 147 + shift, 147 + shift, &record.clip},
      {"dir", 149 + shift, 212 + shift, &record.dir},
      {"dfile", 214 + shift, 245 + shift, &record.dfile},
      {"foff", 247 + shift, 256 + shift, &record.foff},
  };
  for (const RecordField& field : fields) {
    const auto width = static_cast<std::size_t>(field.last - field.first + 1);
    const auto start = static_cast<std::size_t>(field.first - 1);
    // A short line reads as if filled with blanks.
    std::string text(start < line.size() ? line.substr(start, width) : std::string_view());
    text.resize(width, ' ');
    if (auto* target = std::get_if<std::string*>(&field.destination)) {
      **target = text;
      continue;
    }
    const bool integer = std::holds_alternative<std::int32_t*>(field.destination) ||
                         std::holds_alternative<std::int64_t*>(field.destination);
    std::string input = integer ? text : as_written(text);
    const common::Destination destination[] = {field.destination};
    // A blank or comma inside a number would end or be skipped by the field's reading: "1 000"
    // is not 1.0, nor "2,5" 2.0.
    std::size_t begin = text.find_first_not_of(" \t"), end = text.find_last_not_of(" \t");
    if (text.find(',') != std::string::npos ||
        (begin != std::string::npos && text.find_first_of(" \t", begin) < end) ||
        common::read(field_format(integer ? 'I' : 'F', static_cast<int>(input.size())), input,
                     destination) != common::ReadStatus::kOk) {
      return FieldError{field.name, field.first, field.last, text};
    }
  }
  record.single_samprate = static_cast<float>(record.samprate);
  return std::nullopt;
}

std::optional<WfdiscRecords> WfdiscRecords::open(const std::string& path, int& system_error) {
  common::FileHandle file = open_header(path, system_error);
  if (!file.valid()) return std::nullopt;
  return WfdiscRecords(std::move(file));
}

std::optional<std::string_view> WfdiscRecords::next(std::int64_t& number) {
  while (std::optional<std::string_view> line = reader_.next_record()) {
    if (line->find_first_not_of(' ') == std::string_view::npos) continue;
    number = ++number_;
    return line;
  }
  return std::nullopt;
}

bool parse_wfdisc(std::string_view line, Wfdisc& record) {
  std::int32_t foff = 0;  // a header whose foff needs more than 32 bits does not read here
  const common::Destination fields[] = {&record.sta,     &record.chan,     &record.time,
                                        &record.wfid,    &record.chanid,   &record.jdate,
                                        &record.endtime, &record.nsamp,    &record.single_samprate,
                                        &record.calib,   &record.calper,   &record.instype,
                                        &record.segtype, &record.datatype, &record.clip,
                                        &record.dir,     &record.dfile,    &foff,
                                        &record.commid,  &record.lddate};
  if (common::read(wfdisc_format(), line, fields) != common::ReadStatus::kOk) return false;
  record.foff = foff;
  // The samprate again, to the precision of its text.
  static const common::Format samprate = common::Format::parse("(88X,F11.7)");
  const common::Destination rate[] = {&record.samprate};
  return common::read(samprate, line, rate) == common::ReadStatus::kOk;
}

HeaderError read_wfdisc(const std::string& path, Wfdisc& record, int& system_error) {
  common::FileHandle file = open_header(path, system_error);
  if (!file.valid()) return HeaderError::kOpen;
  common::TextReader reader(std::move(file));
  std::optional<std::string_view> line = reader.next_record();
  system_error = reader.error();
  if (!line || !parse_wfdisc(*line, record)) return HeaderError::kRead;
  return HeaderError::kNone;
}

common::Trace trace_of(const Wfdisc& record) {
  common::Trace trace;
  trace.sta = record.sta;
  trace.chan = record.chan;
  trace.instype = record.instype;
  trace.samprate = record.samprate;
  trace.calib = record.calib;
  trace.calper = record.calper;
  return trace;
}

std::string sample_path(const std::string& header_path, const Wfdisc& record) {
  std::string_view dfile = common::cut_at_blank(record.dfile);
  // Only a blank leads an unset `dir`; a NUL there ends an empty directory prefix.
  char lead = record.dir.empty() ? ' ' : record.dir[0];
  if (lead != ' ' && lead != '-' && lead != '.') {
    return std::string(common::cut_at_blank(record.dir)).append(dfile);
  }
  std::size_t separator = header_path.find_last_of("/\\");
  std::string path = separator == std::string::npos ? "" : header_path.substr(0, separator + 1);
  return path.append(dfile);
}

std::string record_sample_path(const std::string& header_path, const Wfdisc& record) {
  std::string_view dfile = common::cut_at_blank(record.dfile);
  if (is_absolute(dfile)) return std::string(dfile);
  std::size_t separator = header_path.find_last_of("/\\");
  std::string base = separator == std::string::npos ? "" : header_path.substr(0, separator + 1);
  std::string_view dir = common::cut_at_blank(record.dir);
  std::string path;
  if (dir.empty() || dir == "-" || dir == ".") {
    path = base;
  } else {
    path = is_absolute(dir) ? std::string(dir) : base + std::string(dir);
    if (path.back() != '/' && path.back() != '\\') path.push_back('/');
  }
  return path.append(dfile);
}

}  // namespace wavconv::css
