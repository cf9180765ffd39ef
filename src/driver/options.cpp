#include "driver/options.h"

#include "common/format.h"
#include "common/stop.h"
#include "common/text.h"

namespace wavconv::driver {
namespace {

constexpr const char* kUsage[] = {
    " WAVCONV v2.1  -  CSS to GSE1.0 conversion program        ",
    " COMMAND MODE:                                            ",
    " Call : WAVCONV InHFile OutFile /Options                  ",
    " Where:                                                   ",
    " InHFile : Name of the input CSS header file              ",
    " OutFile : Name of the output GSE file [InDFile_DOY.GSE]  ",
    " Options : /Jn /Ln /Idirin /Odirout                       ",
    " Jn      : jump n seconds from file begin [0]             ",
    " Ln      : retain n seconds as total file length [99999]  ",
    " Idirin  : set the path of the input file to dirin [.]    ",
    " Odirout : set the path of the output file to dirout [.]  ",
    " Output format is uncompressed 0 differences, INT8        ",
};

[[noreturn]] void show_usage(common::Console& console) {
  static const common::Format banner = common::Format::parse("(/,A60,/)");
  static const common::Format line = common::Format::parse("(A60)");
  // Each line is held in a 60-character field, so it ends with two more blanks.
  auto field = [](const char* text) { return common::fixed(text, 60); };
  console.write(common::write(banner, {std::string_view(field(kUsage[0]))}));
  for (std::size_t i = 1; i < std::size(kUsage); ++i) {
    console.write(common::write(line, {std::string_view(field(kUsage[i]))}));
  }
  common::stop(std::string(57, ' '), common::kSuccess);
}

// The value of a J or L option (its text without "/"), read with "(i1)" to "(i5)" when its
// trimmed length is 2 to 6; otherwise `current` stays.
std::int32_t option_value(const std::string& option, std::int32_t current) {
  static const common::Format formats[] = {
      common::Format::parse("(i1)"), common::Format::parse("(i2)"), common::Format::parse("(i3)"),
      common::Format::parse("(i4)"), common::Format::parse("(i5)")};
  std::size_t length = common::trimmed_length(option);
  if (length < 2 || length > 6) return current;
  std::int32_t value = 0;
  const common::Destination destination[] = {&value};
  std::string_view digits = std::string_view(option).substr(1, length - 1);
  if (common::read(formats[length - 2], digits, destination) != common::ReadStatus::kOk) {
    common::fatal(common::Statement::kRead, "internal", common::FatalError::kBadInteger,
                  "option /" + option + " does not give a whole number of seconds");
  }
  return value;
}

}  // namespace

Settings parse_options(const std::vector<std::string>& args, common::Console& console) {
  std::vector<std::string> names, options;
  for (const std::string& arg : args) {
    if (arg.empty() || arg[0] != '/') {
      names.push_back(arg);
    } else if (arg.size() >= 2) {
      options.push_back(arg.substr(1));
    }
  }
  if (names.empty() || (!names[0].empty() && names[0][0] == '?') || names[0] == "-h" ||
      names[0] == "--help") {
    show_usage(console);
  }

  Settings settings;
  settings.InHFile = names[0];
  if (names.size() >= 2) settings.OutFile = names[1];
  for (const std::string& option : options) {
    switch (option[0]) {
      case 'J':
      case 'j':
        settings.jump = option_value(option, settings.jump);
        break;
      case 'L':
      case 'l':
        settings.length = option_value(option, settings.length);
        break;
      case 'I':
      case 'i':
        settings.dirin = option.substr(1);
        break;
      case 'O':
      case 'o':
        settings.dirout = option.substr(1);
        break;
      default:
        break;  // other letters are ignored
    }
  }
  if (settings.length == 0) settings.length = 99999;
  if (settings.length > 99999) settings.length = 99999;
  return settings;
}

}  // namespace wavconv::driver
