#include "css/wfdisc.h"

#include <cerrno>

#include "common/files.h"
#include "common/format.h"
#include "common/text.h"

namespace wavconv::css {
namespace {

const common::Format& wfdisc_format() {
  static const common::Format format = common::Format::parse(
      "(A6,1X,A8,1X,F17.5,1X,3(I8,1X),F17.5,1X,I8,1X,F11.7,1X,2(F16.6,1X),A6,1X,A1,1X,A2,1X,"
      "A1,1X,A64,1X,A32,1X,I10,1X,I8,1X,A17)");
  return format;
}

// The fields record mode uses, in the 283-column layout and in the 287-column KB Core layout.
const common::Format& record_format(bool kb_core) {
  static const common::Format css = common::Format::parse(
      "(A6,1X,A8,1X,F17.5,46X,I8,1X,F11.7,1X,2(F16.6,1X),A6,1X,A1,1X,A2,1X,A1,1X,A64,1X,A32,1X,"
      "I10)");
  static const common::Format kb = common::Format::parse(
      "(A6,1X,A8,1X,F17.5,47X,I8,1X,F11.7,1X,2(F16.6,1X),A6,1X,A1,1X,A2,1X,A1,1X,A64,1X,A32,1X,"
      "I10)");
  return kb_core ? kb : css;
}

bool is_absolute(std::string_view path) { return !path.empty() && path[0] == '/'; }

}  // namespace

bool parse_record(std::string_view line, Wfdisc& record) {
  constexpr std::size_t kKbCoreLength = 287;
  const common::Destination fields[] = {
      &record.sta,   &record.chan,   &record.time,    &record.nsamp,   &record.samprate,
      &record.calib, &record.calper, &record.instype, &record.segtype, &record.datatype,
      &record.clip,  &record.dir,    &record.dfile,   &record.foff};
  return common::read(record_format(line.size() == kKbCoreLength), line, fields) ==
         common::ReadStatus::kOk;
}

std::optional<WfdiscRecords> WfdiscRecords::open(const std::string& path, int& system_error) {
  common::FileHandle file = common::open_for_reading(path);
  system_error = file.valid() ? 0 : errno;
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
  const common::Destination fields[] = {
      &record.sta,    &record.chan,    &record.time,    &record.wfid,     &record.chanid,
      &record.jdate,  &record.endtime, &record.nsamp,   &record.samprate, &record.calib,
      &record.calper, &record.instype, &record.segtype, &record.datatype, &record.clip,
      &record.dir,    &record.dfile,   &record.foff,    &record.commid,   &record.lddate};
  return common::read(wfdisc_format(), line, fields) == common::ReadStatus::kOk;
}

HeaderError read_wfdisc(const std::string& path, Wfdisc& record, int& system_error) {
  system_error = 0;
  common::FileHandle file = common::open_for_reading(path);
  if (!file.valid()) {
    system_error = errno;
    return HeaderError::kOpen;
  }
  common::TextReader reader(std::move(file));
  std::optional<std::string_view> line = reader.next_record();
  system_error = reader.error();
  if (!line || !parse_wfdisc(*line, record)) return HeaderError::kRead;
  return HeaderError::kNone;
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
