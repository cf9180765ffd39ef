#include "css/site.h"

#include <zlib.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/platform.h"
#include "common/text.h"

namespace wavconv::css {
namespace {

// Columns first..last (from 1) of `line`, without blanks around; a short line reads as blanks.
std::string field(std::string_view line, std::size_t first, std::size_t last) {
  if (first > line.size()) return "";
  std::string_view text = line.substr(first - 1, last - first + 1);
  std::size_t begin = text.find_first_not_of(' ');
  if (begin == std::string_view::npos) return "";
  return std::string(text.substr(begin, text.find_last_not_of(' ') - begin + 1));
}

std::optional<double> number(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::optional<std::int64_t> whole_number(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  long long value = std::strtoll(text.c_str(), &end, 10);
  if (end != text.c_str() + text.size() || errno == ERANGE) return std::nullopt;
  return value;
}

// A value that must read; the CSS null (-999 for coordinates and depths, -1 for angles) as
// unknown. False when it does not read.
bool value_of(std::string_view line, std::size_t first, std::size_t last, double null,
              std::optional<double>& out) {
  std::string text = field(line, first, last);
  std::optional<double> value = number(text);
  if (!value) return false;
  out = *value == null ? std::nullopt : value;
  return true;
}

bool dates_of(std::string_view line, std::size_t on_first, std::size_t on_last,
              std::size_t off_first, std::size_t off_last, std::int64_t& ondate,
              std::int64_t& offdate) {
  std::optional<std::int64_t> on = whole_number(field(line, on_first, on_last));
  std::optional<std::int64_t> off = whole_number(field(line, off_first, off_last));
  if (!on || !off) return false;
  ondate = *on;
  offdate = *off;
  return true;
}

bool applies(std::int64_t ondate, std::int64_t offdate, std::int64_t day) {
  return day >= ondate && (offdate == -1 || day <= offdate);
}

// The lines of a table file, plain or gzipped (`name` is the one read: `path` or `path`.gz);
// nothing when there is no such file. A file that exists but cannot be read is reported.
std::optional<std::vector<std::string>> read_table(const std::string& path, std::string& name,
                                                   std::vector<std::string>& problems) {
  name = path;
  struct stat info;
  if (::stat(name.c_str(), &info) != 0) {
    name = path + ".gz";
    if (::stat(name.c_str(), &info) != 0) return std::nullopt;
  }
  auto fail = [&](const std::string& reason) {
    problems.push_back(name + ": " + reason + ", table ignored");
    return std::nullopt;
  };
  if (!S_ISREG(info.st_mode)) return fail("not a regular file");
  int fd = common::platform::open_file(name, O_RDONLY);
  if (fd < 0) return fail(std::strerror(errno));
  gzFile gz = gzdopen(fd, "rb");
  if (!gz) {
    ::close(fd);
    return fail("cannot be read");
  }
  std::unique_ptr<gzFile_s, int (*)(gzFile)> closer(gz, gzclose);
  if (name.size() > 3 && name.compare(name.size() - 3, 3, ".gz") == 0 && gzdirect(gz)) {
    return fail("holds damaged gzip data");
  }
  std::string text;
  char buffer[65536];
  int got;
  while ((got = gzread(gz, buffer, sizeof buffer)) > 0) text.append(buffer, got);
  int error = Z_OK;
  gzerror(gz, &error);
  if (got < 0 || error != Z_OK) return fail("cannot be read");
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

}  // namespace

std::optional<StationTables::Site> StationTables::parse_site(std::string_view line) {
  Site site;
  site.sta = field(line, 1, 6);
  if (site.sta.empty() || !dates_of(line, 8, 15, 17, 24, site.ondate, site.offdate) ||
      !value_of(line, 26, 34, -999, site.lat) || !value_of(line, 36, 44, -999, site.lon) ||
      !value_of(line, 46, 54, -999, site.elev)) {
    return std::nullopt;
  }
  return site;
}

std::optional<StationTables::Sitechan> StationTables::parse_sitechan(std::string_view line) {
  Sitechan row;
  row.sta = field(line, 1, 6);
  row.chan = field(line, 8, 15);
  if (row.sta.empty() || row.chan.empty() ||
      !dates_of(line, 17, 24, 35, 42, row.ondate, row.offdate) ||
      !value_of(line, 49, 57, -999, row.edepth) || !value_of(line, 59, 64, -1, row.hang) ||
      !value_of(line, 66, 71, -1, row.vang)) {
    return std::nullopt;
  }
  return row;
}

StationTables StationTables::load(const std::string& header_path,
                                  std::vector<std::string>& problems) {
  StationTables tables;
  constexpr std::string_view kHeader = ".wfdisc";
  if (header_path.size() <= kHeader.size() ||
      header_path.compare(header_path.size() - kHeader.size(), kHeader.size(), kHeader) != 0) {
    return tables;
  }
  std::string base = header_path.substr(0, header_path.size() - kHeader.size());
  auto each_line = [&](const std::string& path, auto&& parse, auto& rows, bool& found) {
    std::string name;
    std::optional<std::vector<std::string>> lines = read_table(path, name, problems);
    if (!lines) return;
    found = true;
    for (std::size_t i = 0; i < lines->size(); ++i) {
      const std::string& line = (*lines)[i];
      if (line.find_first_not_of(' ') == std::string::npos) continue;
      if (auto row = parse(line)) {
        rows.push_back(std::move(*row));
      } else {
        problems.push_back(name + ": line " + std::to_string(i + 1) + " does not read, ignored");
      }
    }
  };
  each_line(base + ".site", parse_site, tables.sites_, tables.has_site_);
  each_line(base + ".sitechan", parse_sitechan, tables.sitechans_, tables.has_sitechan_);
  return tables;
}

StationTables::Found StationTables::find(std::string_view sta, std::string_view chan,
                                         std::int64_t day) const {
  Found found;
  std::string station(common::cut_at_blank(sta)), channel(common::cut_at_blank(chan));
  // Of the rows that apply, the one with the later ondate wins; rows that say otherwise are
  // counted.
  const Site* site = nullptr;
  int applying_sites = 0;
  bool sites_differ = false;
  for (const Site& row : sites_) {
    if (row.sta != station || !applies(row.ondate, row.offdate, day)) continue;
    ++applying_sites;
    if (site && (row.lat != site->lat || row.lon != site->lon || row.elev != site->elev)) {
      sites_differ = true;
    }
    if (!site || row.ondate > site->ondate) site = &row;
  }
  const Sitechan* sitechan = nullptr;
  int applying_chans = 0;
  bool chans_differ = false;
  for (const Sitechan& row : sitechans_) {
    if (row.sta != station || row.chan != channel || !applies(row.ondate, row.offdate, day)) {
      continue;
    }
    ++applying_chans;
    if (sitechan && (row.edepth != sitechan->edepth || row.hang != sitechan->hang ||
                     row.vang != sitechan->vang)) {
      chans_differ = true;
    }
    if (!sitechan || row.ondate > sitechan->ondate) sitechan = &row;
  }
  if (site) {
    found.placement.latitude = site->lat;
    found.placement.longitude = site->lon;
    found.placement.elevation = site->elev;
  }
  if (sitechan) {
    found.placement.depth = sitechan->edepth;
    found.placement.hang = sitechan->hang;
    found.placement.vang = sitechan->vang;
  }
  found.located = found.placement.latitude && found.placement.longitude;
  found.disagreeing = (sites_differ ? applying_sites : 0) + (chans_differ ? applying_chans : 0);
  return found;
}

}  // namespace wavconv::css
