#pragma once

#include <string>
#include <string_view>

namespace wavconv::gse {

// The lines of a GSE2.0 / IMS2.0 data message, each ending in a line feed.

// BEGIN, MSG_TYPE DATA and MSG_ID; with `ref_id` (the id and source of the message answered),
// REF_ID too.
std::string data_message_head(std::string_view version, std::string_view msg_id,
                              std::string_view ref_id = {});

// The line that opens a section of waveforms in `subformat` (CM6, INT).
std::string waveform_section(std::string_view version, std::string_view subformat);

// A section of free-text lines that say what was not answered.
std::string error_log_section(std::string_view version, std::string_view lines);

// The message's last line.
inline constexpr std::string_view kMessageEnd = "STOP\n";

}  // namespace wavconv::gse
