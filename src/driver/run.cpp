#include "driver/run.h"

#include <filesystem>
#include <memory>

#include "common/calendar.h"
#include "common/stop.h"
#include "common/text.h"
#include "common/text_file.h"
#include "css/samples.h"
#include "css/wfdisc.h"
#include "driver/options.h"
#include "gse/block.h"
#include "gse/naming.h"
#include "gse/window.h"

namespace wavconv::driver {
namespace {

constexpr const char* kOpenOutputFailed = " Error opening output GSE file";
constexpr const char* kWriteOutputFailed = " Error writing output GSE file";
constexpr const char* kTooLarge = " Sample file too large for one GSE block";
constexpr const char* kTooWide = " Error: samples too wide for INT8 written as ********";

// A directory prefix (ignored when it starts with a blank or NUL) joined to a name, each cut
// at its first blank or NUL; no separator is inserted.
std::string join_path(const std::string& dir, const std::string& name) {
  std::string path = common::starts_blank(dir) ? "" : std::string(common::lead(dir));
  return path.append(common::lead(name));
}

bool same_file(const std::string& a, const std::string& b) {
  std::error_code error;
  return !b.empty() && std::filesystem::equivalent(a, b, error) && !error;
}

// The whole conversion; ends by throwing a Stop.
[[noreturn]] void convert(const std::vector<std::string>& args, common::Console& console) {
  Settings settings = parse_options(args, console);

  std::string header_path = join_path(settings.dirin, settings.InHFile);
  css::Wfdisc record;
  css::HeaderError header_error = css::read_wfdisc(header_path, record);
  if (header_error != css::HeaderError::kNone) {
    console.list_write(header_error == css::HeaderError::kOpen ? css::kOpenMessage
                                                               : css::kReadMessage);
    common::stop_without_message(common::kFailure);
  }

  std::string samples_path = css::sample_path(header_path, record);
  css::SampleFile sample_file = css::SampleFile::open(samples_path);
  std::int64_t nsamp = sample_file.sample_count();
  if (nsamp > css::kMaxSamples) common::stop(kTooLarge, common::kFailure);
  record.nsamp = static_cast<std::int32_t>(nsamp);
  record.endtime = css::end_time(record.time, nsamp, record.samprate);
  css::Samples samples = sample_file.load(nsamp);

  gse::Window window = gse::choose_window(settings.jump, settings.length, record.samprate, nsamp);
  // The block's date and time are those of its first sample.
  double offset = static_cast<double>(window.first - 1) / static_cast<double>(record.samprate);
  common::Calendar start =
      common::to_calendar(common::nearest_integer(record.time + offset, "the start time"));
  std::string day_text =
      gse::block_day_text(record.jdate, start.year, window.first == 1, start.day_of_year);

  std::string name =
      settings.OutFile ? *settings.OutFile : gse::default_output_name(record.dfile, day_text);
  std::string output_path = join_path(settings.dirout, name);
  if (common::lead(name).empty() || same_file(output_path, header_path) ||
      same_file(output_path, samples_path)) {
    common::stop(kOpenOutputFailed, common::kFailure);
  }

  std::unique_ptr<common::OutputFile> output;
  if (common::OutputFile::open(output_path, output) == common::OutputFile::Open::kFailed) {
    common::stop(kOpenOutputFailed, common::kFailure);
  }
  std::span<const std::int32_t> block_samples;
  if (window.count() > 0) {
    block_samples =
        std::span<const std::int32_t>(samples.values.get() + window.first - 1, window.count());
  }
  gse::BlockResult result = gse::write_block(record, start, day_text, block_samples,
                                             gse::checksum(block_samples), *output);
  if (!result.written || !output->close()) common::stop(kWriteOutputFailed, common::kFailure);
  if (result.too_wide > 0) common::stop(kTooWide, common::kFailure);
  common::stop(" ", common::kSuccess);
}

}  // namespace

int run(const std::vector<std::string>& args, common::Console& console) {
  try {
    convert(args, console);
  } catch (const common::Stop& stop) {
    return console.finish(stop);
  }
}

}  // namespace wavconv::driver
