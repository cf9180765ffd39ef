#include "driver/options.h"

#include <cctype>

#include "common/format.h"
#include "common/stop.h"
#include "common/text.h"

namespace wavconv::driver {
namespace {

// The value of a J, L or R option (its text without "/"), read with "(i1)" to "(i5)" when its
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
                  "option /" + option +
                      (std::toupper(static_cast<unsigned char>(option[0])) == 'R'
                           ? " does not give a record number"
                           : " does not give a whole number of seconds"));
  }
  return value;
}

bool is_option_letter(char letter) {
  return kOptionLetters.find(static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))) !=
         std::string_view::npos;
}

}  // namespace

Settings parse_options(const std::vector<std::string>& args) {
  Settings settings;
  std::vector<std::string> names, options;
  std::optional<Action> request;  // -h, --help or --version, the first one given
  bool options_ended = false;
  for (const std::string& arg : args) {
    if (options_ended) {
      names.push_back(arg);
    } else if (arg == "--") {
      options_ended = true;
    } else if (arg == "-h" || arg == "--help" || arg == "--version") {
      if (!request) request = arg == "--version" ? Action::kShowVersion : Action::kShowUsage;
    } else if (!arg.empty() && arg[0] == '/') {
      if (arg.size() >= 2 && is_option_letter(arg[1])) {
        options.push_back(arg.substr(1));
      } else {
        settings.ignored.push_back(arg);
      }
    } else if (arg.size() >= 2 && arg[0] == '-') {
      if (settings.unknown.empty()) settings.unknown = arg;
    } else {
      names.push_back(arg);
    }
  }
  if (request) {
    settings.action = *request;
  } else if (!settings.unknown.empty()) {
    settings.action = Action::kUnknownOption;
  } else if (names.empty()) {
    settings.action = args.empty() ? Action::kShowUsage : Action::kShowUsageFailed;
  } else if (!options_ended && !names[0].empty() && names[0][0] == '?') {
    settings.action = Action::kShowUsage;
  }
  if (settings.action != Action::kConvert) return settings;

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
      case 'R':
      case 'r':
        settings.record_mode = true;
        settings.record = option_value(option, settings.record);
        break;
      case 'F':
      case 'f':
        settings.round_floats = true;
        break;
      case 'Q':
      case 'q':
        settings.query = true;
        break;
    }
  }
  if (settings.length == 0 || settings.length > gse::kWholeSegment) {
    settings.length = gse::kWholeSegment;
  }
  return settings;
}

}  // namespace wavconv::driver
