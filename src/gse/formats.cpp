#include <cctype>

#include "gse/writer.h"

namespace wavconv::gse {

// The writers, each in its own file.
std::unique_ptr<Writer> make_gse1_writer(const WriterOptions&);
std::unique_ptr<Writer> make_cm6_writer(const WriterOptions&);
std::unique_ptr<Writer> make_int_writer(const WriterOptions&);
std::unique_ptr<Writer> make_ims_writer(const WriterOptions&);
std::unique_ptr<Writer> make_sac_writer(const WriterOptions&);
extern const common::FileKind kMseedFile, kSacFile;

// miniSEED is packed by libmseed, where the build has it.
#ifdef WAVCONV_MSEED
std::unique_ptr<Writer> make_mseed_writer(const WriterOptions&);
#else
constexpr std::nullptr_t make_mseed_writer = nullptr;
#endif

namespace {

// The one table of output formats: a new format is its writer's file and a row here.
constexpr OutputFormat kFormats[] = {
    {"gse1", "GSE1.0", "gse", &common::kGseFile, make_gse1_writer},
    {"cm6", "GSE2.0 CM6", "gse", &common::kGseFile, make_cm6_writer},
    {"int", "GSE2.0 INT", "gse", &common::kGseFile, make_int_writer},
    {"ims", "IMS2.0", "gse", &common::kGseFile, make_ims_writer},
    {"mseed", "miniSEED", "mseed", &kMseedFile, make_mseed_writer},
    {"sac", "SAC", "sac", &kSacFile, make_sac_writer},
};

}  // namespace

std::span<const OutputFormat> output_formats() { return kFormats; }

std::string format_names(const char* last_separator) {
  std::string names;
  for (std::size_t i = 0; i < std::size(kFormats); ++i) {
    if (i > 0) names += i + 1 == std::size(kFormats) ? last_separator : ", ";
    names += kFormats[i].name;
  }
  return names;
}

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
