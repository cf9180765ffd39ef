#include "gse/naming.h"

#include <cctype>
#include <cstdio>

#include "common/field_edit.h"
#include "common/text.h"

namespace wavconv::gse {

std::string day_of_year_text(std::int64_t day) {
  std::string text = common::edit_integer(day, 3);
  if (text[0] == ' ') text[0] = '0';
  if (text[1] == ' ') text[1] = '0';
  return text;
}

std::string block_day_text(std::int32_t jdate, std::int64_t year, bool starts_at_first_sample,
                           int start_day_of_year) {
  std::int64_t day = static_cast<std::int64_t>(jdate) - year * 1000;
  if (starts_at_first_sample && day >= 1 && day <= 366) return day_of_year_text(day);
  return day_of_year_text(start_day_of_year);
}

namespace {

bool is_separator(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\';
#else
  return c == '/';
#endif
}

}  // namespace

std::string default_output_name(std::string_view dfile, std::string_view day_text,
                                std::string_view extension) {
  constexpr std::size_t kNameLength = 32;
  // Only the last component of a dfile path names the output, so that it lands in the output
  // directory whatever the header says.
  std::string_view path = common::cut_at_blank(dfile);
  for (std::size_t i = path.size(); i-- > 0;) {
    if (is_separator(path[i])) {
      dfile = path.substr(i + 1);
      break;
    }
  }
  std::string name = common::pad_or_cut(dfile, kNameLength);
  std::size_t p = name.find_first_of(std::string_view(". \0", 3));
  if (p != std::string::npos) {
    std::string suffix = std::string("_").append(day_text).append(".").append(extension);
    name.replace(p, std::min(suffix.size(), kNameLength - p), suffix.substr(0, kNameLength - p));
  }
  // Text past a blank that the suffix wrote over may hold a separator: the name ends there.
  name = std::string(common::cut_at_blank(name));
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (is_separator(name[i])) name.resize(i);
  }
  return name;
}

std::string record_output_name(std::string_view sta, std::string_view chan,
                               const common::Calendar& start, std::string_view extension) {
  auto safe = [](std::string_view text) {
    std::string out(common::cut_at_blank(text));
    for (char& c : out) {
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.') c = '_';
    }
    // No hidden output files.
    if (!out.empty() && out[0] == '.') out[0] = '_';
    return out;
  };
  char when[64];
  long long year = start.year;
  std::snprintf(when, sizeof when, "%s%04lld%03d_%02d%02d%02d", year < 0 ? "-" : "",
                year < 0 ? -year : year, start.day_of_year, start.hour, start.minute, start.second);
  return safe(sta) + "_" + safe(chan) + "_" + when + "." + std::string(extension);
}

}  // namespace wavconv::gse
