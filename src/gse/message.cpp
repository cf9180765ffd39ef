#include "gse/message.h"

namespace wavconv::gse {

std::string data_message_head(std::string_view version, std::string_view msg_id,
                              std::string_view ref_id) {
  std::string head = "BEGIN ";
  head.append(version).append("\nMSG_TYPE DATA\nMSG_ID ").append(msg_id).append("\n");
  if (!ref_id.empty()) head.append("REF_ID ").append(ref_id).append("\n");
  return head;
}

std::string waveform_section(std::string_view version, std::string_view subformat) {
  return std::string("DATA_TYPE WAVEFORM ")
      .append(version)
      .append(":")
      .append(subformat)
      .append("\n");
}

std::string error_log_section(std::string_view version, std::string_view lines) {
  return std::string("DATA_TYPE ERROR_LOG ").append(version).append("\n").append(lines);
}

}  // namespace wavconv::gse
