#include "driver/identity.h"

#include <tuple>

#include "common/text.h"
#include "driver/selection.h"

namespace wavconv::driver {
namespace {

// Why `name` cannot be a name of at most `longest` characters; nothing when it can.
std::optional<std::string> name_problem(std::string_view name, std::size_t longest) {
  if (name.empty()) return "an empty name";
  if (name.size() > longest) {
    return common::printable(std::string(name)) + " is longer than " + std::to_string(longest) +
           " characters";
  }
  for (unsigned char c : name) {
    if (c <= ' ' || c >= 0x7f) {
      return common::printable(std::string(name)) + " holds a blank or a character not printable";
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> check_code(std::string_view option, std::string_view code) {
  if (std::optional<std::string> why = name_problem(code, 8)) {
    return std::string(option) + " " + common::printable(std::string(code)) + ": " + *why;
  }
  return std::nullopt;
}

std::optional<std::string> read_renames(std::string_view list, std::vector<Rename>& renames) {
  const std::string shown = "--rename " + common::printable(std::string(list));
  std::vector<std::string> pairs = split_list(list);
  if (pairs.empty()) return shown + ": no OLD=NEW pair in the list";
  for (const std::string& pair : pairs) {
    std::size_t equals = pair.find('=');
    if (equals == std::string::npos) {
      return shown + ": " + common::printable(pair) + " is not OLD=NEW";
    }
    std::string_view old_name = std::string_view(pair).substr(0, equals);
    std::string_view new_name = std::string_view(pair).substr(equals + 1);
    const std::size_t old_dot = old_name.find('.'), new_dot = new_name.find('.');
    if ((old_dot == std::string_view::npos) != (new_dot == std::string_view::npos)) {
      return shown + ": " + common::printable(pair) +
             " renames a channel on one side only (OLD.CHAN=NEW.CH)";
    }
    Rename rename;
    rename.sta = old_name.substr(0, old_dot);
    rename.new_sta = new_name.substr(0, new_dot);
    if (old_dot != std::string_view::npos) {
      rename.chan = old_name.substr(old_dot + 1);
      rename.new_chan = new_name.substr(new_dot + 1);
    }
    // Stations of at most 6 characters, and channels (where a pair names them) of at most 8.
    std::vector<std::pair<const std::string*, std::size_t>> names = {{&rename.sta, 6},
                                                                     {&rename.new_sta, 6}};
    if (old_dot != std::string_view::npos) {
      names.insert(names.end(), {{&rename.chan, 8}, {&rename.new_chan, 8}});
    }
    for (const auto& [name, longest] : names) {
      if (std::optional<std::string> why = name_problem(*name, longest)) {
        return shown + ": " + *why;
      }
    }
    renames.push_back(std::move(rename));
  }
  return std::nullopt;
}

std::pair<std::string, std::string> renamed(const std::vector<Rename>& renames,
                                            std::string_view sta, std::string_view chan) {
  std::string_view station = common::cut_at_blank(sta), channel = common::cut_at_blank(chan);
  std::pair<std::string, std::string> names{std::string(sta), std::string(chan)};
  const Rename* chosen = nullptr;
  for (const Rename& rename : renames) {
    if (rename.sta != station) continue;
    if (!rename.chan.empty() && rename.chan == channel) {
      chosen = &rename;
      break;
    }
    if (rename.chan.empty() && !chosen) chosen = &rename;
  }
  if (chosen) {
    names.first = chosen->new_sta;
    if (!chosen->chan.empty()) names.second = chosen->new_chan;
  }
  return {common::pad_or_cut(names.first, 6), common::pad_or_cut(names.second, 8)};
}

void apply_identity(const Identity& identity, std::string_view sta, std::string_view chan,
                    const std::string& table_network, common::Trace& trace) {
  if (!identity.renames.empty()) {
    std::tie(trace.sta, trace.chan) = renamed(identity.renames, sta, chan);
  }
  trace.net = identity.net ? *identity.net : table_network;
  trace.loc = identity.loc;
}

}  // namespace wavconv::driver
