#include "driver/options.h"

#include "common/format.h"
#include "common/stop.h"
#include "common/text.h"

namespace wavconv::driver {
namespace {

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

Settings parse_options(const std::vector<std::string>& args) {
  std::vector<std::string> names, options;
  for (const std::string& arg : args) {
    if (arg.empty() || arg[0] != '/') {
      names.push_back(arg);
    } else if (arg.size() >= 2) {
      options.push_back(arg.substr(1));
    }
  }
  Settings settings;
  if (names.empty() || (!names[0].empty() && names[0][0] == '?') || names[0] == "-h" ||
      names[0] == "--help") {
    settings.action = Action::kShowUsage;
    return settings;
  }
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
  if (settings.length == 0 || settings.length > gse::kWholeSegment) {
    settings.length = gse::kWholeSegment;
  }
  return settings;
}

}  // namespace wavconv::driver
