#include "common/text.h"

namespace wavconv::common {

std::string_view cut_at_blank(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == ' ' || text[i] == '\0') return text.substr(0, i);
  }
  return text;
}

std::size_t trimmed_length(std::string_view text) {
  for (std::size_t i = text.size(); i > 0; --i) {
    if (text[i - 1] != ' ' && text[i - 1] != '\0') return i;
  }
  return 0;
}

bool starts_blank(std::string_view text) {
  return text.empty() || text[0] == ' ' || text[0] == '\0';
}

std::string pad_or_cut(std::string_view text, std::size_t length) {
  std::string out(text.substr(0, length));
  out.resize(length, ' ');
  return out;
}

std::string printable(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return out;
}

}  // namespace wavconv::common
