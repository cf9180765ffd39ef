#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/trace.h"

namespace wavconv::css {

// The station tables beside a header, `<base>.site` and `<base>.sitechan` (or their `.gz`):
// where each station stood and how each channel was oriented, over ranges of days.
class StationTables {
 public:
  // The tables beside `header_path` (which ends in ".wfdisc"; any other header has none). A table
  // that cannot be read, or a line that does not read, is reported in `problems` (one text a
  // problem, "path: reason") and left out.
  static StationTables load(const std::string& header_path, std::vector<std::string>& problems);

  // Whether either table was found.
  bool any() const { return has_site_ || has_sitechan_; }

  struct Found {
    common::Placement placement;
    bool located = false;  // latitude and longitude known
    int disagreeing = 0;   // rows that applied and disagreed (the later ondate won); 0 if none
  };
  // What the rows of `sta` (and `chan`) that apply on day `day` (yyyyddd) say.
  Found find(std::string_view sta, std::string_view chan, std::int64_t day) const;

  struct Site {
    std::string sta;
    std::int64_t ondate, offdate;
    std::optional<double> lat, lon, elev;
  };
  struct Sitechan {
    std::string sta, chan;
    std::int64_t ondate, offdate;
    std::optional<double> edepth, hang, vang;
  };
  // One line of each table read; nothing when it does not read.
  static std::optional<Site> parse_site(std::string_view line);
  static std::optional<Sitechan> parse_sitechan(std::string_view line);

 private:
  std::vector<Site> sites_;
  std::vector<Sitechan> sitechans_;
  bool has_site_ = false, has_sitechan_ = false;
};

}  // namespace wavconv::css
