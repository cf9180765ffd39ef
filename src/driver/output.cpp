#include "driver/output.h"

#include <filesystem>

#include "common/stop.h"
#include "common/text.h"

namespace wavconv::driver {

std::string join_path(const std::string& dir, const std::string& name) {
  std::string path = common::starts_blank(dir) ? "" : std::string(common::cut_at_blank(dir));
  return path.append(common::cut_at_blank(name));
}

std::string file_name(const std::string& path) {
  std::size_t slash = path.find_last_of("/\\");
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

std::string output_refusal(common::OutputFile::Open result) {
  switch (result) {
    case common::OutputFile::Open::kNotGse:
      return "not a GSE file, not replaced";
    case common::OutputFile::Open::kSharedLink:
      return "link in a shared folder owned by another user, not followed";
    default:
      return "";
  }
}

std::unique_ptr<common::OutputFile> open_output(const std::string& path, common::Console& console,
                                                std::string* refusal) {
  std::unique_ptr<common::OutputFile> output;
  int error = 0;
  common::OutputFile::Open result = common::OutputFile::open(path, output, error);
  if (result == common::OutputFile::Open::kFailed) {
    console.write_error(common::system_error_line(path, error));
    common::stop(kOpenOutputFailed, common::kFailure);
  }
  std::string why = output_refusal(result);
  if (!why.empty()) {
    if (refusal) {
      *refusal = std::move(why);
      return nullptr;
    }
    console.write_error(common::error_line(common::printable(path) + ": " + why));
    common::stop(kOpenOutputFailed, common::kFailure);
  }
  return output;
}

std::string check_output(const std::string& path, common::Console& console) {
  int error = 0;
  common::OutputFile::Open result = common::OutputFile::check(path, error);
  if (result == common::OutputFile::Open::kFailed ||
      result == common::OutputFile::Open::kWriteFails) {
    console.write_error(common::system_error_line(path, error));
    common::stop(
        result == common::OutputFile::Open::kFailed ? kOpenOutputFailed : kWriteOutputFailed,
        common::kFailure);
  }
  return output_refusal(result);
}

void stop_write_failed(const std::string& path, const common::OutputFile& output,
                       common::Console& console) {
  console.write_error(common::system_error_line(path, output.error()));
  // A name an earlier header of a /M run took is refused as an output that cannot be opened.
  common::stop(output.error() == common::kWrittenByEarlier ? kOpenOutputFailed : kWriteOutputFailed,
               common::kFailure);
}

}  // namespace wavconv::driver
