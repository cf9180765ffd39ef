#include "targets.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/field_edit.h"
#include "common/format.h"
#include "common/stop.h"
#include "css/packed.h"
#include "css/wfdisc.h"
#include "driver/options.h"
#include "driver/run.h"

namespace wavconv::fuzz {
namespace {

namespace fs = std::filesystem;

#define FUZZ_CHECK(condition)                                                                 \
  do {                                                                                        \
    if (!(condition)) {                                                                       \
      std::fprintf(stderr, "invariant failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
      std::abort();                                                                           \
    }                                                                                         \
  } while (0)

// A private directory for this process, emptied before each input.
const fs::path& work_dir() {
  static const fs::path dir = [] {
    std::string pattern = (fs::temp_directory_path() / "wavconv-fuzz-XXXXXX").string();
    fs::path made = ::mkdtemp(pattern.data());
    std::atexit([] { fs::remove_all(work_dir()); });
    return made;
  }();
  return dir;
}

void reset_work_dir() {
  for (const auto& entry : fs::directory_iterator(work_dir())) fs::remove_all(entry.path());
}

void write_file(const fs::path& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::map<std::string, std::string> snapshot() {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(work_dir())) {
    if (entry.is_regular_file()) {
      files[fs::relative(entry.path(), work_dir()).string()] = read_file(entry.path());
    }
  }
  return files;
}

// Checks a finished file of blocks: each WID1 ... CHK1 with CHK1 equal to the checksum of its
// data lines, and STOP once, last. True when some sample was written as asterisks.
bool check_blocks(const std::string& text) {
  bool any_too_wide = false;
  const std::string stop_line = "STOP" + std::string(76, ' ') + "\r\n";
  FUZZ_CHECK(text.size() >= 4 * 82);
  FUZZ_CHECK(text.compare(text.size() - 82, 82, stop_line) == 0);
  std::size_t pos = 0;
  while (pos < text.size() - 82) {
    FUZZ_CHECK(text.compare(pos, 4, "WID1") == 0);
    pos += 3 * 82;
    long long c = 0;
    bool too_wide = false;  // asterisks: the checksum is that of values not shown
    while (text.compare(pos, 4, "CHK1") != 0) {
      std::size_t end = text.find("\r\n", pos);
      FUZZ_CHECK(end != std::string::npos && (end - pos) % 8 == 0 && end - pos <= 80);
      for (std::size_t f = pos; f < end; f += 8) {
        too_wide = too_wide || text[f] == '*';
        long long v = std::atoll(text.substr(f, 8).c_str());
        c = (c + v % 100000000) % 100000000;
      }
      pos = end + 2;
    }
    FUZZ_CHECK(too_wide || (c < 0 ? -c : c) == std::atoll(text.substr(pos + 9, 15).c_str()));
    any_too_wide = any_too_wide || too_wide;
    pos += 82;
  }
  return any_too_wide;
}

// Runs the arguments in the work directory, whose header and sample file are given, and checks
// what every run must keep: status 0 or 1, inputs unchanged, no temporary file left, every
// file written a whole file of blocks. Returns the files created; `too_wide` tells whether a
// sample was written as asterisks.
std::vector<std::string> checked_run(const std::vector<std::string>& args, common::StringSink& out,
                                     bool& too_wide) {
  too_wide = false;
  std::map<std::string, std::string> before = snapshot();
  common::StringSink err;
  common::Console console(out, err);
  int status = driver::run(args, console);
  FUZZ_CHECK(status == 0 || status == 1);
  std::map<std::string, std::string> after = snapshot();
  for (const auto& [name, bytes] : before) {
    if (name == "hdr.wfdisc" || name == "abc.w") FUZZ_CHECK(after[name] == bytes);
  }
  std::vector<std::string> created;
  for (const auto& [name, bytes] : after) {
    // No hidden output and no temporary file left, in any folder.
    std::string file = fs::path(name).filename().string();
    FUZZ_CHECK(file.empty() || file[0] != '.');
    if (before.count(name)) continue;
    created.push_back(name);
    too_wide = check_blocks(bytes) || too_wide;
  }
  if (status == 1) FUZZ_CHECK(out.text.size() + err.text.size() > 0);
  if (status == 0) FUZZ_CHECK(out.text.size() >= 3 && out.text.find(" \r\n") != std::string::npos);
  return created;
}

// The input split at "\n--\n" into header bytes, sample bytes and argument lines, the first
// two written to the work directory; the arguments that begin with "/" and at most one plain
// output name stay inside it.
std::vector<std::string> prepare(const std::uint8_t* data, std::size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> parts;
  for (std::size_t start = 0;;) {
    std::size_t end = input.find("\n--\n", start);
    parts.push_back(input.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos || parts.size() == 3) break;
    start = end + 4;
  }
  parts.resize(3);
  reset_work_dir();
  write_file(work_dir() / "hdr.wfdisc", parts[0]);
  write_file(work_dir() / "abc.w", parts[1]);
  std::vector<std::string> args{"hdr.wfdisc"};
  std::istringstream lines(parts[2]);
  for (std::string line; std::getline(lines, line) && args.size() < 8;) {
    if (!line.empty() && line[0] == '/' && line.size() > 1 && line[1] != 'I' && line[1] != 'i' &&
        line[1] != 'O' && line[1] != 'o') {
      args.push_back(line);
    } else if (args.size() == 1 && !line.empty() &&
               line.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_") ==
                   std::string::npos) {
      args.push_back(line);
    }
  }
  std::string dir = work_dir().string() + "/";
  args.push_back("/I" + dir);
  args.push_back("/O" + dir);
  return args;
}

}  // namespace

void wfdisc_record(const std::uint8_t* data, std::size_t size) {
  std::string_view line(reinterpret_cast<const char*>(data), size);
  css::Wfdisc record;
  if (css::parse_wfdisc(line, record)) {
    FUZZ_CHECK(record.sta.size() == 6 && record.dir.size() == 64 && record.dfile.size() == 32);
    std::string path = css::sample_path("in/h.wfdisc", record);
    FUZZ_CHECK(path.find(' ') == std::string::npos);
  }
}

void numeric_input(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return;
  bool real = data[0] & 1;
  int width = 1 + (data[0] >> 1) % 40;
  int digits = data[1] % 20;
  std::string field(reinterpret_cast<const char*>(data + 2), size - 2);
  std::string format = real ? "(f" + std::to_string(width) + "." + std::to_string(digits) + ")"
                            : "(i" + std::to_string(width) + ")";
  common::Format parsed = common::Format::parse(format);
  std::int32_t i = 0;
  float f = 0;
  double d = 0;
  if (real) {
    const common::Destination single[] = {&f};
    if (common::read(parsed, field, single) == common::ReadStatus::kOk) {
      std::string text = common::edit_real(f, width, digits);
      FUZZ_CHECK(static_cast<int>(text.size()) == width);
    }
    const common::Destination wide[] = {&d};
    common::read(parsed, field, wide);
  } else {
    const common::Destination integer[] = {&i};
    if (common::read(parsed, field, integer) == common::ReadStatus::kOk) {
      FUZZ_CHECK(static_cast<int>(common::edit_integer(i, width).size()) == width);
    }
  }
}

void command_line(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args;
  std::string current;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  args.push_back(current);
  try {
    driver::Settings settings = driver::parse_options(args);
    FUZZ_CHECK(settings.length != 0 && settings.length <= 99999);
  } catch (const common::Stop& stop) {
    FUZZ_CHECK(stop.status == 1 && stop.kind == common::Stop::Kind::kFatal);
  }
}

void conversion(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args = prepare(data, size);
  common::StringSink out;
  bool too_wide = false;
  FUZZ_CHECK(checked_run(args, out, too_wide).size() <= 1);
}

void record_mode(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args = prepare(data, size);
  args.insert(args.begin(), "/R");
  common::StringSink out;
  bool too_wide = false;
  checked_run(args, out, too_wide);
  FUZZ_CHECK(!too_wide);  // such a record is refused instead
}

void e1_data(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return;
  std::int64_t count = data[0] << 8 | data[1];
  // A copy of exactly the data, so that a read past its end is a sanitizer finding.
  std::vector<unsigned char> bytes(data + 2, data + size);
  std::int64_t reads = 0;
  css::ByteReader reader = [&](std::int64_t position, unsigned char* out, std::size_t n) {
    FUZZ_CHECK(position >= 0 && ++reads <= 2 * count + 2);
    if (position >= static_cast<std::int64_t>(bytes.size())) return std::size_t{0};
    std::size_t got = std::min(n, bytes.size() - static_cast<std::size_t>(position));
    std::memcpy(out, bytes.data() + position, got);
    return got;
  };
  std::vector<std::int32_t> out(static_cast<std::size_t>(count - count / 3));
  std::optional<css::DecodeFault> fault =
      css::decode_e1(reader, count, css::Kept{count / 3, count - count / 3, out.data()});
  if (fault)
    FUZZ_CHECK(fault->offset >= 0 && fault->offset <= static_cast<std::int64_t>(bytes.size()));
}

}  // namespace wavconv::fuzz
