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

}  // namespace

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

}  // namespace wavconv::css
