#include "driver/batch.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/files.h"
#include "common/platform.h"
#include "common/stop.h"
#include "common/text.h"
#include "driver/output.h"
#include "driver/progress.h"
#include "driver/record_mode.h"
#include "driver/run.h"

namespace wavconv::driver {
namespace {

// What one header's run printed, and how it ended.
struct Outcome {
  std::string out, err;
  int status = 0;
  RecordTally records;  // in record mode
};

// The headers of a /M run and what the threads found. Outputs are put in place in the order of
// the names: a header's new file takes its name only when every header before it has finished,
// and not when one of them wrote that file; so the outcome does not depend on the threads.
class Batch {
 public:
  Batch(const Settings& settings) : settings_(settings), names_(settings.names) {
    finished_.assign(names_.size(), false);
    outcomes_.resize(names_.size());
  }

  // Converts headers until none is left.
  void work() {
    // Signals are taken by the reporting thread, which creates no files.
    common::platform::hold_interrupts_in_this_thread();
    for (std::size_t i; (i = next_.fetch_add(1)) < names_.size();) {
      common::set_before_replace([this, i](const std::string& target) { return claim(i, target); });
      Outcome outcome = convert(i);
      common::set_before_replace({});
      std::lock_guard<std::mutex> lock(mutex_);
      outcomes_[i] = std::move(outcome);
      finished_[i] = true;
      while (prefix_ < finished_.size() && finished_[prefix_]) ++prefix_;
      changed_.notify_all();
    }
  }

  // Waits for header `i` at most `wait`; true when it has finished.
  bool wait_for(std::size_t i, std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, wait, [&] { return finished_[i]; });
  }
  const Outcome& outcome(std::size_t i) const { return outcomes_[i]; }
  std::size_t size() const { return names_.size(); }

 private:
  bool claim(std::size_t i, const std::string& target) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return prefix_ >= i; });
    return written_.insert(absolute_path(target)).second;
  }

  Outcome convert(std::size_t i) {
    Settings one = settings_;
    one.many = false;
    one.in_batch = true;
    one.InHFile = names_[i];
    one.OutFile.reset();
    common::StringSink out, err;
    common::Console console(out, err);
    Outcome outcome;
    one.tally = &outcome.records;
    try {
      if (one.record_mode) convert_records(one, console);
      convert_default(one, console);
    } catch (const common::Stop& stop) {
      outcome.status = console.finish(stop);
    } catch (const std::exception& failure) {
      err.write(common::error_line(std::string("internal failure: ") + failure.what()));
      outcome.status = common::kFailure;
    }
    outcome.out = std::move(out.text);
    outcome.err = std::move(err.text);
    return outcome;
  }

  const Settings& settings_;
  const std::vector<std::string>& names_;
  std::atomic<std::size_t> next_{0};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<bool> finished_;
  std::size_t prefix_ = 0;  // headers 0..prefix_-1 have all finished
  std::vector<Outcome> outcomes_;
  std::set<std::string> written_;  // outputs put in place, links followed
};

// A header's lines for standard error: each line it printed, "wavconv: <header>: " before it
// (its own "wavconv: " and leading blanks left out); blank lines and the success line dropped.
std::string messages(const std::string& header, const Outcome& outcome) {
  std::string text;
  for (const std::string* stream : {&outcome.err, &outcome.out}) {
    std::size_t start = 0;
    while (start < stream->size()) {
      std::size_t end = stream->find('\n', start);
      if (end == std::string::npos) end = stream->size();
      std::string line = stream->substr(start, end - start);
      start = end + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::size_t first = line.find_first_not_of(' ');
      if (first == std::string::npos) continue;
      line.erase(0, first);
      if (line.rfind("wavconv: ", 0) == 0) line.erase(0, 9);
      text += common::error_line(common::printable(header) + ": " + line);
    }
  }
  return text;
}

}  // namespace

void convert_many(const Settings& settings, common::Console& console) {
  Batch batch(settings);
  const std::size_t n = batch.size();
  std::size_t threads = settings.threads > 0 ? static_cast<std::size_t>(settings.threads)
                                             : std::max(1u, std::thread::hardware_concurrency());
  threads = std::min(threads, n);
  Progress progress(console, "header", static_cast<std::int64_t>(n));
  // The workers convert; this thread reports, in the order of the names, as they finish.
  std::vector<std::thread> workers;
  for (std::size_t t = 0; t < threads; ++t) workers.emplace_back([&batch] { batch.work(); });
  std::int64_t refused = 0;
  RecordTally records;
  for (std::size_t i = 0; i < n; ++i) {
    while (!batch.wait_for(i, std::chrono::milliseconds(100))) {
      progress.update(static_cast<std::int64_t>(i));
    }
    const Outcome& outcome = batch.outcome(i);
    std::string text = messages(settings.names[i], outcome);
    if (!text.empty()) {
      progress.clear();
      console.write_error(text);
    }
    refused += outcome.status == common::kSuccess ? 0 : 1;
    records.converted += outcome.records.converted;
    records.refused += outcome.records.refused;
    progress.update(static_cast<std::int64_t>(i + 1));
  }
  for (std::thread& worker : workers) worker.join();
  if (settings.record_mode) {
    progress.summary(records.converted, records.refused, "record");
  } else {
    progress.summary(static_cast<std::int64_t>(n) - refused, refused);
  }
  if (refused > 0) {
    common::stop(" Error: " + std::to_string(refused) + " of " + std::to_string(n) +
                     " headers not converted",
                 common::kFailure);
  }
  common::stop(" ", common::kSuccess);
}

}  // namespace wavconv::driver
