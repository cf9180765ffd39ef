#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "driver/selection.h"

namespace wavconv::driver {

// One request line of a REQUEST message (WAVEFORM, BULLETIN, STATION, ...).
struct RequestLine {
  int number = 0;    // its line in the message, from 1
  std::string text;  // as written, without the blanks around it
  // A WAVEFORM line this program answers: the window that the environment lines before it set
  // (TIME, STA_LIST, CHAN_LIST), and the version and subformat (CM6 or INT) of its answer.
  bool answered = false;
  Selection selection;
  std::string version, subformat;
  std::string why;  // for a line not answered: why
};

// A GSE2.0, GSE2.1 or IMS2.0 REQUEST message.
struct Request {
  std::string version;  // BEGIN's, in capitals
  std::string msg_id;   // MSG_ID's id and source, as written
  std::vector<RequestLine> lines;
};

// The most a request message may hold.
inline constexpr std::size_t kMaxRequestBytes = 1 << 20;

// Reads a request message: BEGIN, MSG_TYPE REQUEST, MSG_ID, the environment lines (TIME ... TO
// ..., STA_LIST, CHAN_LIST; REF_ID, E-MAIL, FTP and any other are taken and not used), the
// request lines, STOP. What does not read, as "line 5: ..." (or a line about the whole message).
std::variant<Request, std::string> parse_request(std::string_view text);

}  // namespace wavconv::driver
