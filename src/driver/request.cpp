#include "driver/request.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <sstream>

#include "common/text.h"

namespace wavconv::driver {
namespace {

// The request lines of the formats, all but WAVEFORM answered with a line of the error log.
constexpr std::string_view kRequestLines[] = {
    "ARRIVAL",   "BULLETIN", "CHAN_STATUS", "CHANNEL", "COMM_STATUS",  "COMMENT",
    "DETECTION", "EVENT",    "EXECSUM",     "NETWORK", "ORIGIN",       "OUTAGE",
    "RESPONSE",  "SLSD",     "STA_STATUS",  "STATION", "WAVE_MISSION", "WAVE_QUALITY",
};

constexpr std::string_view kVersions[] = {"IMS2.0", "GSE2.0", "GSE2.1"};

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::vector<std::string> words(std::string_view line) {
  std::istringstream in{std::string(line)};
  std::vector<std::string> out;
  for (std::string word; in >> word;) out.push_back(word);
  return out;
}

// "YYYY/MM/DD" and, when given, "hh:mm[:ss[.f]]" as a time.
std::optional<Microseconds> request_time(const std::vector<std::string>& parts) {
  if (parts.empty() || parts.size() > 2) return std::nullopt;
  std::string clock = parts.size() == 2 ? parts[1] : "00:00:00";
  if (clock.size() == 5) clock += ":00";
  return parse_time(parts[0] + " " + clock);
}

std::string at(int number, const std::string& why) {
  return "line " + std::to_string(number) + ": " + why;
}

}  // namespace

std::variant<Request, std::string> parse_request(std::string_view text) {
  if (text.size() > kMaxRequestBytes) {
    return std::string("larger than ") + std::to_string(kMaxRequestBytes >> 20) +
           " MiB: not a request message";
  }
  Request request;
  Selection environment;  // what the environment lines have set so far
  std::string time_text, sta_text, chan_text;
  bool begun = false, typed = false, stopped = false;
  int number = 0;
  for (std::size_t start = 0; start < text.size() && !stopped;) {
    std::size_t end = std::min(text.find('\n', start), text.size());
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) {
      line.remove_suffix(1);
    }
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.front()))) {
      line.remove_prefix(1);
    }
    if (line.empty()) continue;
    const std::vector<std::string> parts = words(line);
    const std::string keyword = upper(parts[0]);
    const std::string shown = common::printable(line);
    if (!begun) {
      if (keyword != "BEGIN")
        return at(number, "the message begins with BEGIN, not \"" + shown + "\"");
      if (parts.size() != 2) return at(number, "BEGIN names one version (IMS2.0, GSE2.0, GSE2.1)");
      request.version = upper(parts[1]);
      if (std::find(std::begin(kVersions), std::end(kVersions), request.version) ==
          std::end(kVersions)) {
        return at(number, "version " + common::printable(parts[1]) +
                              " is not read (IMS2.0, GSE2.0, GSE2.1)");
      }
      begun = true;
      continue;
    }
    std::string rest(line.substr(std::min(line.size(), parts[0].size())));
    rest.erase(0, rest.find_first_not_of(" \t"));
    if (keyword == "STOP") {
      stopped = true;
    } else if (keyword == "MSG_TYPE") {
      if (parts.size() != 2 || upper(parts[1]) != "REQUEST") {
        return at(number, "\"" + shown + "\": not a REQUEST message");
      }
      typed = true;
    } else if (keyword == "MSG_ID") {
      if (parts.size() < 2) return at(number, "MSG_ID without an id");
      request.msg_id = common::printable(rest);  // written again in REF_ID
    } else if (keyword == "TIME") {
      auto to = std::find_if(parts.begin() + 1, parts.end(),
                             [](const std::string& w) { return upper(w) == "TO"; });
      std::optional<Microseconds> from =
          request_time(std::vector<std::string>(parts.begin() + 1, to));
      std::optional<Microseconds> until =
          to == parts.end() ? std::nullopt
                            : request_time(std::vector<std::string>(to + 1, parts.end()));
      if (!from || !until) {
        return at(number, "\"" + shown +
                              "\" does not read (TIME YYYY/MM/DD [hh:mm[:ss[.f]]] TO "
                              "YYYY/MM/DD [hh:mm[:ss[.f]]])");
      }
      if (!(*from < *until)) return at(number, "\"" + shown + "\": the window is empty");
      environment.from = from;
      environment.to = until;
      time_text = shown;
    } else if (keyword == "STA_LIST" || keyword == "CHAN_LIST") {
      std::vector<std::string> names = split_list(rest);
      if (names.empty()) return at(number, keyword + " without a name");
      (keyword == "STA_LIST" ? environment.sta_list : environment.chan_list) = names;
      (keyword == "STA_LIST" ? sta_text : chan_text) = shown;
    } else if (keyword == "WAVEFORM" ||
               std::find(std::begin(kRequestLines), std::end(kRequestLines), keyword) !=
                   std::end(kRequestLines)) {
      RequestLine asked;
      asked.number = number;
      asked.text = shown;
      if (keyword != "WAVEFORM") {
        asked.why = "not answered here (only WAVEFORM lines are)";
      } else {
        // WAVEFORM [version[:subformat]]: the message's version and CM6 unless it says.
        std::string format = parts.size() > 1 ? upper(parts[1]) : request.version;
        std::size_t colon = format.find(':');
        asked.version = format.substr(0, colon);
        asked.subformat = colon == std::string::npos ? "CM6" : format.substr(colon + 1);
        if (std::find(std::begin(kVersions), std::end(kVersions), asked.version) ==
            std::end(kVersions)) {
          asked.why = "version " + common::printable(asked.version) +
                      " is not written here (IMS2.0, GSE2.0, GSE2.1)";
        } else if (asked.subformat != "CM6" && asked.subformat != "INT") {
          asked.why =
              "subformat " + common::printable(asked.subformat) + " is not written here (CM6, INT)";
        } else {
          asked.answered = true;
          asked.selection = environment;
          for (const std::string* part : {&time_text, &sta_text, &chan_text}) {
            if (!part->empty()) asked.selection.text += " " + *part;
          }
        }
      }
      request.lines.push_back(std::move(asked));
    }
    // Any other line (REF_ID, E-MAIL, FTP, LAT, ...) is taken and not used.
  }
  if (!begun) return std::string("an empty message: a request begins with BEGIN");
  if (!stopped) return at(number, "the message ends without STOP");
  if (!typed) return std::string("the message has no MSG_TYPE REQUEST line");
  if (request.msg_id.empty()) return std::string("the message has no MSG_ID line");
  if (request.lines.empty()) return std::string("the message asks for nothing (no request line)");
  return request;
}

}  // namespace wavconv::driver
