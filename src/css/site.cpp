#include "css/site.h"

#include <zlib.h>

#include <algorithm>
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

std::string key_of(const StationTables::Site& row) { return row.sta; }
std::string key_of(const StationTables::Sitechan& row) { return row.sta + '\0' + row.chan; }
std::string key_of(const StationTables::Affiliation& row) { return row.sta; }

bool applies(std::int64_t ondate, std::int64_t offdate, std::int64_t day) {
  return day >= ondate && (offdate == -1 || day <= offdate);
}

// Calls `each(line, number)` for every line of a table file, plain or gzipped, read in pieces;
// `name` is the file read (`path` or `path`.gz). False when there is no such file. A file that
// cannot be read, holds a line longer than kLongestLine or more than kLargestTable bytes is
// reported in `problems` and `refused` is set; its lines are then not to be used.
template <typename Each>
bool each_line(const std::string& path, std::string& name, std::vector<std::string>& problems,
               bool& refused, Each&& each) {
  name = path;
  struct stat info;
  if (::stat(name.c_str(), &info) != 0) {
    name = path + ".gz";
    if (::stat(name.c_str(), &info) != 0) return false;
  }
  auto fail = [&](const std::string& reason) {
    problems.push_back(name + ": " + reason + ", table ignored");
    refused = true;
    return true;
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
  std::string line;
  std::int64_t number = 0, total = 0;
  char buffer[65536];
  for (int got; (got = gzread(gz, buffer, sizeof buffer)) > 0;) {
    total += got;
    if (total > kLargestTable) return fail("holds more than 256 MiB");
    for (std::string_view piece(buffer, static_cast<std::size_t>(got)); !piece.empty();) {
      if (line.empty()) {
        // Empty lines hold nothing to read: passed over at once.
        std::size_t empty = std::min(piece.find_first_not_of('\n'), piece.size());
        number += static_cast<std::int64_t>(empty);
        piece.remove_prefix(empty);
        if (piece.empty()) break;
      }
      std::size_t end = piece.find('\n');
      line.append(piece.substr(0, end));
      if (line.size() > kLongestLine + 1) {
        return fail("line " + std::to_string(number + 1) + " is longer than 1024 bytes");
      }
      if (end == std::string_view::npos) break;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.size() > kLongestLine) {
        return fail("line " + std::to_string(number + 1) + " is longer than 1024 bytes");
      }
      each(line, ++number);
      line.clear();
      piece.remove_prefix(end + 1);
    }
  }
  int error = Z_OK;
  gzerror(gz, &error);
  if (error != Z_OK && error != Z_BUF_ERROR) return fail("cannot be read");
  if (error == Z_BUF_ERROR) return fail("holds damaged gzip data");
  if (!line.empty()) {
    if (line.back() == '\r') line.pop_back();
    each(line, ++number);
  }
  return true;
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

std::optional<StationTables::Affiliation> StationTables::parse_affiliation(std::string_view line) {
  Affiliation row{field(line, 10, 15), field(line, 1, 8)};
  if (row.sta.empty() || row.net.empty()) return std::nullopt;
  return row;
}

std::optional<std::string> StationTables::base_of(const std::string& header_path) {
  constexpr std::string_view kHeader = ".wfdisc";
  if (header_path.size() <= kHeader.size() ||
      header_path.compare(header_path.size() - kHeader.size(), kHeader.size(), kHeader) != 0) {
    return std::nullopt;
  }
  return header_path.substr(0, header_path.size() - kHeader.size());
}

StationTables StationTables::load(const std::string& header_path,
                                  const std::function<bool(std::string_view)>& wanted,
                                  std::vector<std::string>& problems, bool& refused) {
  StationTables tables;
  std::optional<std::string> found_base = base_of(header_path);
  if (!found_base) return tables;
  const std::string& base = *found_base;
  // `sta`: the station's first column in the table.
  auto read = [&](const std::string& path, auto&& parse, auto& index, bool& found,
                  std::size_t sta = 1) {
    std::string name;
    bool table_refused = false;
    found = each_line(path, name, problems, table_refused,
                      [&](const std::string& line, std::int64_t number) {
                        if (line.find_first_not_of(' ') == std::string::npos) return;
                        // Only the stations the header names are kept.
                        if (!wanted(field(line, sta, sta + 5))) return;
                        if (auto row = parse(line)) {
                          index[key_of(*row)].push_back(std::move(*row));
                        } else {
                          problems.push_back(name + ": line " + std::to_string(number) +
                                             " does not read, ignored");
                        }
                      });
    if (table_refused) {
      index.clear();
      found = false;
      refused = true;
    }
  };
  read(base + ".site", parse_site, tables.sites_, tables.has_site_);
  read(base + ".sitechan", parse_sitechan, tables.sitechans_, tables.has_sitechan_);
  read(base + ".affiliation", parse_affiliation, tables.affiliations_, tables.has_affiliation_, 10);
  auto by_ondate = [](const auto& a, const auto& b) { return a.ondate < b.ondate; };
  for (auto& [key, rows] : tables.sites_) std::stable_sort(rows.begin(), rows.end(), by_ondate);
  for (auto& [key, rows] : tables.sitechans_) {
    std::stable_sort(rows.begin(), rows.end(), by_ondate);
  }
  return tables;
}

namespace {

// Of `rows` (sorted by ondate, ties in file order), the one that applies on `day` with the later
// ondate (the first in the file among equals); with `counting`, how many applied when they did
// not all say the same (else 0).
template <typename Row, typename Same>
const Row* winner(const std::vector<Row>& rows, std::int64_t day, bool counting, int& disagreeing,
                  Same&& same) {
  const Row* won = nullptr;
  if (!counting) {
    auto end = std::upper_bound(rows.begin(), rows.end(), day,
                                [](std::int64_t d, const Row& row) { return d < row.ondate; });
    for (auto it = end; it != rows.begin();) {
      --it;
      if (won && it->ondate != won->ondate) break;
      if (applies(it->ondate, it->offdate, day)) won = &*it;
    }
    return won;
  }
  int applying = 0;
  bool differ = false;
  for (const Row& row : rows) {
    if (!applies(row.ondate, row.offdate, day)) continue;
    ++applying;
    if (won && !same(row, *won)) differ = true;
    if (!won || row.ondate > won->ondate) won = &row;
  }
  disagreeing += differ ? applying : 0;
  return won;
}

}  // namespace

StationTables::Found StationTables::find(std::string_view sta, std::string_view chan,
                                         std::int64_t day, bool counting) const {
  Found found;
  std::string station(common::cut_at_blank(sta)), channel(common::cut_at_blank(chan));
  auto sites = sites_.find(station);
  const Site* site = sites == sites_.end()
                         ? nullptr
                         : winner(sites->second, day, counting, found.disagreeing,
                                  [](const Site& a, const Site& b) {
                                    return a.lat == b.lat && a.lon == b.lon && a.elev == b.elev;
                                  });
  auto chans = sitechans_.find(station + '\0' + channel);
  const Sitechan* sitechan =
      chans == sitechans_.end()
          ? nullptr
          : winner(chans->second, day, counting, found.disagreeing,
                   [](const Sitechan& a, const Sitechan& b) {
                     return a.edepth == b.edepth && a.hang == b.hang && a.vang == b.vang;
                   });
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
  // A station in several networks: the first row of the table names it.
  if (auto rows = affiliations_.find(station); rows != affiliations_.end()) {
    found.network = rows->second.front().net;
  }
  return found;
}

}  // namespace wavconv::css
