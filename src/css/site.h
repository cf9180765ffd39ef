#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/trace.h"

namespace wavconv::css {

inline constexpr std::size_t kLongestLine = 1024;                       // bytes of a table's line
inline constexpr std::int64_t kLargestTable = std::int64_t{256} << 20;  // bytes, inflated

// The station tables beside a header, `<base>.site`, `<base>.sitechan` and `<base>.affiliation`
// (or their `.gz`): where each station stood and how each channel was oriented, over ranges of
// days, and the network each station belongs to.
class StationTables {
 public:
  // The tables beside `header_path` (which ends in ".wfdisc"; any other header has none), read
  // line by line, keeping the rows of the stations `wanted` says yes to, indexed by station (and
  // channel). A line that does not read is reported in `problems` (one text a problem,
  // "path: reason") and left out. A table that cannot be read, holds a line longer than 1024
  // bytes or more than 256 MiB (inflated) is reported, left out whole, and sets `refused`.
  static StationTables load(const std::string& header_path,
                            const std::function<bool(std::string_view)>& wanted,
                            std::vector<std::string>& problems, bool& refused);

  // The tables' path without ".site" and ".sitechan": the header's without ".wfdisc"; nothing
  // for a header of another name (it has no tables).
  static std::optional<std::string> base_of(const std::string& header_path);

  // Whether the site or sitechan table was found.
  bool any() const { return has_site_ || has_sitechan_; }
  // Whether the affiliation table was found.
  bool any_network() const { return has_affiliation_; }

  struct Found {
    common::Placement placement;
    bool located = false;  // latitude and longitude known
    int disagreeing = 0;   // rows that applied and disagreed (the later ondate won); 0 if none
    std::string network;   // from the affiliation table; empty when it names none
  };
  // What the rows of `sta` (and `chan`) that apply on day `day` (yyyyddd) say; `disagreeing` is
  // counted only when `counting` (it needs every row of the station).
  Found find(std::string_view sta, std::string_view chan, std::int64_t day,
             bool counting = true) const;

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
  struct Affiliation {
    std::string sta, net;
  };
  // One line of each table read; nothing when it does not read.
  static std::optional<Site> parse_site(std::string_view line);
  static std::optional<Sitechan> parse_sitechan(std::string_view line);
  static std::optional<Affiliation> parse_affiliation(std::string_view line);

 private:
  std::unordered_map<std::string, std::vector<Site>> sites_;          // by station
  std::unordered_map<std::string, std::vector<Sitechan>> sitechans_;  // by station NUL channel
  std::unordered_map<std::string, std::vector<Affiliation>> affiliations_;  // by station
  bool has_site_ = false, has_sitechan_ = false, has_affiliation_ = false;
};

}  // namespace wavconv::css
