#include <cctype>

#include "gse/writer.h"

namespace wavconv::gse {

// The writers, each in its own file.
std::unique_ptr<Writer> make_gse1_writer();
std::unique_ptr<Writer> make_cm6_writer();
std::unique_ptr<Writer> make_int_writer();
std::unique_ptr<Writer> make_ims_writer();

namespace {

// The one table of output formats: a new format is its writer's file and a row here.
constexpr OutputFormat kFormats[] = {
    {"gse1", make_gse1_writer},
    {"cm6", make_cm6_writer},
    {"int", make_int_writer},
    {"ims", make_ims_writer},
};

}  // namespace

std::span<const OutputFormat> output_formats() { return kFormats; }

const OutputFormat* find_output_format(std::string_view name) {
  for (const OutputFormat& format : kFormats) {
    std::string_view known = format.name;
    if (known.size() != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size() && same; ++i) {
      same = std::tolower(static_cast<unsigned char>(name[i])) == known[i];
    }
    if (same) return &format;
  }
  return nullptr;
}

}  // namespace wavconv::gse
