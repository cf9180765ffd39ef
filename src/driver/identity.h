#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/trace.h"

namespace wavconv::driver {

// One --rename pair: a station (`chan` empty), or one channel of a station, and its new names.
struct Rename {
  std::string sta, chan;
  std::string new_sta, new_chan;
};

// The names a trace is written under, as the command line sets them: --net, --loc, --rename.
struct Identity {
  std::optional<std::string> net;  // wins over the affiliation table
  std::string loc;
  std::vector<Rename> renames;
};

// Reads a --net or --loc code: 1 to 8 printable characters, no blank; what is wrong otherwise.
std::optional<std::string> check_code(std::string_view option, std::string_view code);

// Reads a --rename list, "OLD=NEW" and "OLD.CHAN=NEW.CH" pairs separated by commas, into
// `renames`; what is wrong with it otherwise. Names are printable without blanks; a station
// takes at most 6 characters and a channel 8, as the archive holds them.
std::optional<std::string> read_renames(std::string_view list, std::vector<Rename>& renames);

// The station and channel a record of `sta` and `chan` (as the archive has them, blank-padded
// or not) is written under: the pair for its channel, else the pair for its station, else its
// own; blank-padded to 6 and 8 characters.
std::pair<std::string, std::string> renamed(const std::vector<Rename>& renames,
                                            std::string_view sta, std::string_view chan);

// Gives `trace` (of the archive's `sta` and `chan`) its names as written: renamed, the network
// of --net or else `table_network`, and the location of --loc.
void apply_identity(const Identity& identity, std::string_view sta, std::string_view chan,
                    const std::string& table_network, common::Trace& trace);

}  // namespace wavconv::driver
