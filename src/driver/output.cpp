#include "driver/output.h"

#include <cerrno>
#include <filesystem>

#include "common/platform.h"
#include "common/stop.h"
#include "common/text.h"

namespace wavconv::driver {

std::string join_path(const std::string& dir, const std::string& name) {
  std::string path = common::starts_blank(dir) ? "" : std::string(common::cut_at_blank(dir));
  return path.append(common::cut_at_blank(name));
}

std::string file_name(const std::string& path) {
  std::size_t slash = path.find_last_of(common::platform::kPathSeparators);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool same_file(const std::string& a, const std::string& b) {
  std::error_code error;
  return !b.empty() && std::filesystem::equivalent(a, b, error) && !error;
}

void stop_header_failed(const std::string& header_path, css::HeaderError error, int system_error,
                        common::Console& console) {
  if (system_error != 0) console.write_error(common::system_error_line(header_path, system_error));
  console.write_line(error == css::HeaderError::kOpen ? css::kOpenMessage : css::kReadMessage);
  common::stop_without_message(common::kFailure);
}

std::string output_refusal(common::OutputFile::Open result, const common::FileKind& kind) {
  switch (result) {
    case common::OutputFile::Open::kNotOfKind:
      return std::string("not a ") + kind.name + " file, not replaced";
    case common::OutputFile::Open::kSharedLink:
      return "link in a shared folder owned by another user, not followed";
    default:
      return "";
  }
}

namespace {

// An output refused without a system failure (`why` not empty): put in `refusal` when the
// caller takes it, otherwise the run stops with it. True when the output may be opened.
bool accepted(const std::string& path, std::string why, common::Console& console,
              std::string* refusal) {
  if (why.empty()) return true;
  if (!refusal) {
    console.write_error(common::error_line(common::printable(path) + ": " + why));
    common::stop(kOpenOutputFailed, common::kFailure);
  }
  *refusal = std::move(why);
  return false;
}

}  // namespace

OutputOpening try_open_output(const std::string& path, const common::FileKind& kind) {
  OutputOpening opening;
  common::OutputFile::Open result =
      common::OutputFile::open(path, kind, opening.file, opening.error);
  if (result != common::OutputFile::Open::kFailed) {
    opening.error = 0;
  } else if (opening.error == 0) {
    opening.error = EIO;  // a failure always has a reason to say
  }
  opening.refusal = output_refusal(result, kind);
  if (!opening.refusal.empty()) opening.file.reset();
  return opening;
}

void stop_open_failed(const std::string& path, int error, common::Console& console) {
  console.write_error(common::system_error_line(path, error));
  common::stop(kOpenOutputFailed, common::kFailure);
}

std::unique_ptr<common::OutputFile> open_output(const std::string& path,
                                                const common::FileKind& kind,
                                                common::Console& console, std::string* refusal) {
  OutputOpening opening = try_open_output(path, kind);
  if (opening.error != 0) stop_open_failed(path, opening.error, console);
  if (!accepted(path, std::move(opening.refusal), console, refusal)) return nullptr;
  return std::move(opening.file);
}

bool check_output(const std::string& path, const common::FileKind& kind, common::Console& console,
                  std::string* refusal) {
  int error = 0;
  common::OutputFile::Open result = common::OutputFile::check(path, kind, error);
  if (result == common::OutputFile::Open::kFailed ||
      result == common::OutputFile::Open::kWriteFails) {
    console.write_error(common::system_error_line(path, error));
    common::stop(
        result == common::OutputFile::Open::kFailed ? kOpenOutputFailed : kWriteOutputFailed,
        common::kFailure);
  }
  return accepted(path, output_refusal(result, kind), console, refusal);
}

std::string absolute_path(const std::string& path) {
  std::error_code error;
  std::filesystem::path full = std::filesystem::absolute(path, error);
  return (error ? std::filesystem::path(path) : full).lexically_normal().string();
}

void stop_write_failed(const std::string& path, const common::OutputFile& output,
                       common::Console& console) {
  console.write_error(common::system_error_line(path, output.error()));
  // An output a /M run refuses for another header's sake is one that cannot be opened.
  common::stop(output.error() <= common::kWrittenByEarlier ? kOpenOutputFailed : kWriteOutputFailed,
               common::kFailure);
}

}  // namespace wavconv::driver
