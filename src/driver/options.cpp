#include "driver/options.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <thread>

#include "common/format.h"
#include "common/stop.h"
#include "common/text.h"
#include "driver/output.h"
#include "driver/selection.h"

namespace wavconv::driver {
namespace {

char upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

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
                      (upper(option[0]) == 'R'   ? " does not give a record number"
                       : upper(option[0]) == 'P' ? " does not give a number of threads"
                                                 : " does not give a whole number of seconds"));
  }
  return value;
}

bool is_option_letter(char letter) {
  return kOptionLetters.find(upper(letter)) != std::string_view::npos;
}

// True for a name made only of digits, with an optional sign: a value meant for the option
// before it.
bool looks_like_value(const std::string& arg) {
  std::size_t start = !arg.empty() && (arg[0] == '+' || arg[0] == '-') ? 1 : 0;
  if (arg.size() <= start) return false;
  for (std::size_t i = start; i < arg.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(arg[i]))) return false;
  }
  return true;
}

char letter_of(const std::string& arg) { return upper(arg[1]); }

// A /J, /L or /T option without a value, followed by `next` that is its value (a number; for
// /T a format's name).
bool lacks_value(const std::string& arg, const std::string& next) {
  if (arg.size() < 2 || arg[0] != '/' || common::trimmed_length(arg) != 2) return false;
  char letter = letter_of(arg);
  if (letter == 'T') return gse::find_output_format(next) != nullptr;
  return (letter == 'J' || letter == 'L') && looks_like_value(next);
}

// True when the directory `/<component>` exists at the root of the file system.
bool is_root_directory(const std::string& arg) {
  std::string component = arg.substr(0, arg.find('/', 1));
  struct stat info;
  return ::stat(component.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// A "/" argument that is a path, not an option: see parse_options().
bool is_path(const std::string& arg) {
  if (arg.size() < 2) return false;
  const bool further_slash = arg.find('/', 2) != std::string::npos;
  if (!is_option_letter(arg[1])) return arg.find('/', 1) != std::string::npos;
  switch (letter_of(arg)) {
    case 'I':
    case 'O':
      return is_root_directory(arg);
    case 'T':
      return further_slash &&
             !gse::find_output_format(common::cut_at_blank(std::string_view(arg).substr(2)));
    default:
      return further_slash;
  }
}

// The option that `letter` needs, and what that option is, when it is missing.
const char* needed(char letter, const Settings& settings) {
  switch (letter) {
    case 'Q':
    case 'S':
    case 'F':
      return settings.record_mode ? nullptr : "/R (record mode)";
    case 'P':
      return settings.many || settings.record_mode ? nullptr
                                                   : "/M (many headers) or /R (record mode)";
    default:
      return nullptr;
  }
}

// Reads the values of the options, in the order given; a later option of a letter wins.
void read_values(const std::vector<std::string>& options, Settings& settings) {
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
      case 'S':
      case 's':
        settings.scale_floats = true;
        break;
      case 'M':
      case 'm':
        settings.many = true;
        break;
      case 'P':
      case 'p':
        settings.threads = option_value(option, settings.threads);
        break;
      case 'T':
      case 't': {
        std::string value(common::cut_at_blank(std::string_view(option).substr(1)));
        const gse::OutputFormat* format = gse::find_output_format(value);
        if (format) {
          settings.format = format;
        } else if (settings.unknown_format.empty()) {
          settings.unknown_format = "/" + option;
        }
        break;
      }
    }
  }
}

}  // namespace

std::size_t thread_count(std::int32_t threads) {
  std::size_t n = threads > 0 ? static_cast<std::size_t>(threads)
                              : std::max(1u, std::thread::hardware_concurrency());
  return std::min(n, kMaxThreads);
}

bool is_standard_output(std::string_view path) {
  return path == "/dev/stdout" || path == "/dev/fd/1" || path == "/proc/self/fd/1";
}

std::string output_path(const Settings& settings) {
  if (*settings.OutFile == "-") return "/dev/stdout";
  return join_path(settings.dirout, *settings.OutFile);
}

bool names_headers(std::string_view name) {
  constexpr std::string_view kHeader = ".wfdisc";
  if (name.size() < kHeader.size()) return false;
  std::string_view end = name.substr(name.size() - kHeader.size());
  for (std::size_t i = 0; i < end.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(end[i])) != kHeader[i]) return false;
  }
  return true;
}

namespace {

// The long options that take a value: the window's, then the output's.
constexpr const char* kWindowOptions[] = {"--from", "--to", "--sta", "--chan", "--request"};
constexpr const char* kOutputOptions[] = {"--encoding", "--reclen", "--net", "--loc", "--rename"};

// The name of a long option with a value ("--from" for "--from" or "--from=..."); empty for
// another.
std::string value_option(std::string_view arg) {
  static const std::vector<const char*> names = value_options();
  for (const char* name : names) {
    std::string_view n(name);
    if (arg.substr(0, n.size()) == n && (arg.size() == n.size() || arg[n.size()] == '=')) {
      return std::string(n);
    }
  }
  return "";
}

// Reads the window options into `settings`; what is wrong with them, if anything.
std::optional<std::string> read_window(
    const std::vector<std::pair<std::string, std::optional<std::string>>>& given,
    const std::vector<std::string>& options, Settings& settings) {
  constexpr const char* kForms =
      ": not a time (YYYY-MM-DDThh:mm:ss[.f], \"YYYY/MM/DD hh:mm:ss[.f]\" or @epoch seconds)";
  Selection& window = settings.selection;
  std::int64_t after = 0;  // --to +seconds, in microseconds; 0: not given
  std::string after_text;
  for (const auto& [name, value] : given) {
    if (!value) return name + " needs a value";
    if (name == "--request") {
      if (value->empty()) return "--request needs a file (- for standard input)";
      settings.request = *value;
      continue;
    }
    window.text += " " + name + " " + common::printable(*value);
    if (name == "--from" || name == "--to") {
      if (name == "--to" && !value->empty() && (*value)[0] == '+') {
        std::optional<Microseconds> seconds = parse_seconds(value->substr(1));
        if (!seconds || *seconds <= 0) {
          return "--to " + common::printable(*value) + ": not a number of seconds above 0";
        }
        after = *seconds;
        after_text = *value;
        window.to.reset();
        continue;
      }
      std::optional<Microseconds> time = parse_time(*value);
      if (!time) return name + " " + common::printable(*value) + kForms;
      if (name == "--from") {
        window.from = time;
      } else {
        window.to = time;
        after = 0;
      }
    } else {
      std::vector<std::string> names = split_list(*value);
      if (names.empty()) return name + " " + common::printable(*value) + ": no name in the list";
      (name == "--sta" ? window.sta_list : window.chan_list) = names;
    }
  }
  if (after > 0) {
    if (!window.from) return "--to " + common::printable(after_text) + " needs --from";
    window.to = *window.from + after;
  }
  if (window.from && window.to && !(*window.from < *window.to)) {
    return "--from " + time_text(*window.from) + " is not before --to " + time_text(*window.to) +
           ": the window is empty";
  }
  if (!settings.request.empty() && !window.text.empty()) {
    return "--request does not go with --from, --to, --sta or --chan: the request says what it "
           "asks for";
  }
  if (settings.record > 0) {
    return "/R" + std::to_string(settings.record) +
           " does not go with --from, --to, --sta or --chan: they choose the records";
  }
  for (const std::string& option : options) {
    const char letter = upper(option[0]);
    if (letter == 'J' || letter == 'L') {
      return std::string("/").append(1, letter) +
             " does not go with --from, --to, --sta or --chan: it counts from a record's start";
    }
    if (letter == 'M') return "/M does not go with --from, --to, --sta or --chan";
    if (letter == 'S') {
      return "/S does not go with --from, --to, --sta or --chan: joined records are not scaled "
             "(/F rounds)";
    }
  }
  settings.window = true;
  settings.record_mode = true;
  return std::nullopt;
}

// Reads the output options into `settings`, whose format is known; what is wrong with them, if
// anything.
std::optional<std::string> read_output_options(
    const std::vector<std::pair<std::string, std::optional<std::string>>>& given,
    Settings& settings) {
  for (const auto& [name, value] : given) {
    if (!value) return name + " needs a value";
    const std::string shown = name + " " + common::printable(*value);
    if (name == "--encoding" || name == "--reclen") {
      if (std::string_view(settings.format->name) != "mseed") return name + " goes with /Tmseed";
    }
    if (name == "--encoding") {
      if (*value != "steim2" && *value != "steim1" && *value != "int32") {
        return shown + ": steim2, steim1 or int32";
      }
      settings.writer_options.encoding = *value;
    } else if (name == "--reclen") {
      int length = 0;
      auto [end, error] = std::from_chars(value->data(), value->data() + value->size(), length);
      if (error != std::errc() || end != value->data() + value->size() || length < 256 ||
          length > 65536 || (length & (length - 1)) != 0) {
        return shown + ": a power of two from 256 to 65536 bytes";
      }
      settings.writer_options.record_length = length;
    } else if (name == "--net" || name == "--loc") {
      if (std::optional<std::string> why = check_code(name, *value)) return why;
      if (name == "--net") {
        settings.identity.net = *value;
      } else {
        settings.identity.loc = *value;
      }
    } else if (std::optional<std::string> why = read_renames(*value, settings.identity.renames)) {
      return why;
    }
  }
  return std::nullopt;
}

}  // namespace

std::vector<const char*> value_options() {
  std::vector<const char*> names(std::begin(kWindowOptions), std::end(kWindowOptions));
  names.insert(names.end(), std::begin(kOutputOptions), std::end(kOutputOptions));
  return names;
}

Settings parse_options(const std::vector<std::string>& args) {
  Settings settings;
  std::vector<std::string> names, options;
  std::optional<Action> request;  // -h, --help or --version, the first one given
  std::vector<std::pair<std::string, std::optional<std::string>>> window_options, output_options;
  bool options_ended = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!options_ended && settings.no_value.empty() && i + 1 < args.size() &&
        lacks_value(arg, args[i + 1])) {
      settings.no_value = arg.substr(0, 2);
      settings.value_meant = settings.no_value + args[i + 1];
    }
    if (options_ended) {
      names.push_back(arg);
    } else if (arg == "--") {
      options_ended = true;
    } else if (arg == "-h" || arg == "--help" || arg == "--version") {
      if (!request) request = arg == "--version" ? Action::kShowVersion : Action::kShowUsage;
    } else if (!arg.empty() && arg[0] == '/') {
      if (is_path(arg)) {
        settings.paths.push_back(arg);
      } else if (arg.size() >= 2 && is_option_letter(arg[1])) {
        options.push_back(arg.substr(1));
      } else {
        settings.ignored.push_back(arg);
      }
    } else if (std::string name = value_option(arg); !name.empty()) {
      auto& list = std::find(std::begin(kOutputOptions), std::end(kOutputOptions), name) !=
                           std::end(kOutputOptions)
                       ? output_options
                       : window_options;
      std::size_t equals = arg.find('=');
      if (equals != std::string::npos) {
        list.emplace_back(name, arg.substr(equals + 1));
      } else if (i + 1 < args.size()) {
        list.emplace_back(name, args[++i]);
      } else {
        list.emplace_back(name, std::nullopt);
      }
    } else if (arg.size() >= 2 && arg[0] == '-') {
      if (settings.unknown.empty()) settings.unknown = arg;
    } else {
      names.push_back(arg);
    }
  }
  if (request) {
    settings.action = *request;
  } else if (!settings.no_value.empty()) {
    settings.action = Action::kNoValue;
  } else if (!settings.unknown.empty()) {
    settings.action = Action::kUnknownOption;
  } else if (names.empty()) {
    settings.action = args.empty() ? Action::kShowUsage : Action::kShowUsageFailed;
  } else if (!options_ended && !names[0].empty() && names[0][0] == '?') {
    settings.action = Action::kShowUsage;
  } else if (!settings.paths.empty()) {
    settings.action = Action::kPathArgument;
  }
  if (settings.action != Action::kConvert) return settings;

  settings.InHFile = names[0];
  if (names.size() >= 2) settings.OutFile = names[1];
  settings.ignored_names.assign(names.begin() + std::min<std::size_t>(names.size(), 2),
                                names.end());
  settings.names = names;
  try {
    read_values(options, settings);
  } catch (const common::Stop& stop) {
    settings.bad_value = stop;
    settings.action = Action::kBadValue;
    return settings;
  }
  if (!settings.unknown_format.empty()) settings.action = Action::kUnknownFormat;
  if (settings.action == Action::kConvert) {
    if (!settings.format->make) {
      settings.needs = std::string(settings.format->title) + " is not in this build";
      settings.action = Action::kNeedsOption;
    } else if (std::optional<std::string> wrong = read_output_options(output_options, settings)) {
      settings.needs = *wrong;
      settings.action = Action::kNeedsOption;
    }
  }
  if (!window_options.empty() && settings.action == Action::kConvert) {
    if (std::optional<std::string> wrong = read_window(window_options, options, settings)) {
      settings.needs = *wrong;
      settings.action = Action::kNeedsOption;
    }
  }
  for (const std::string& option : options) {
    const char letter = upper(option[0]);
    const char* partner = needed(letter, settings);
    if (partner && settings.action == Action::kConvert) {
      settings.needs.assign(1, '/').append(1, letter).append(" needs ").append(partner);
      settings.action = Action::kNeedsOption;
    }
  }
  if (settings.many) {
    // Every name is a header: none is an output, none is left over.
    settings.OutFile.reset();
    settings.ignored_names.clear();
  }
  if (settings.length == 0 || settings.length > gse::kWholeSegment) {
    settings.length = gse::kWholeSegment;
  }
  return settings;
}

}  // namespace wavconv::driver
