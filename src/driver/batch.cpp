#include "driver/batch.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "common/files.h"
#include "common/platform.h"
#include "common/stop.h"
#include "common/text.h"
#include "driver/file_keys.h"
#include "driver/output.h"
#include "driver/progress.h"
#include "driver/record_mode.h"
#include "driver/run.h"

namespace wavconv::driver {
namespace {

// The inputs of the header this thread converts, as keys; none outside /M.
thread_local std::vector<std::uint64_t>* header_inputs = nullptr;

// Bytes a header's run prints: the first kKept in memory, the rest in an unnamed temporary
// file, so that a header of many messages costs little memory while it waits for its turn.
class SpillSink : public common::ByteSink {
 public:
  ~SpillSink() override {
    if (spill_) std::fclose(spill_);
  }
  void write(std::string_view bytes) override {
    if (!spill_ && kept_.size() + bytes.size() > kKept) spill_ = std::tmpfile();
    if (!spill_ || std::fwrite(bytes.data(), 1, bytes.size(), spill_) != bytes.size()) {
      kept_.append(bytes);  // without a temporary file, in memory after all
    }
  }
  // Hands every byte to `take`, in order, in pieces.
  template <typename Take>
  void replay(Take&& take) {
    if (!kept_.empty()) take(std::string_view(kept_));
    if (!spill_ || std::fflush(spill_) != 0 || std::fseek(spill_, 0, SEEK_SET) != 0) return;
    std::string piece(kKept, '\0');
    for (std::size_t got; (got = std::fread(piece.data(), 1, piece.size(), spill_)) > 0;) {
      take(std::string_view(piece.data(), got));
    }
  }

 private:
  static constexpr std::size_t kKept = 64 << 10;
  std::string kept_;
  std::FILE* spill_ = nullptr;
};

// What one header's run printed, and how it ended.
struct Outcome {
  SpillSink out, err;
  int status = 0;
  RecordTally records;  // in record mode
};

// The headers of a /M run and what the threads found. Outputs are put in place in the order of
// the names: a header's new file takes its name only when every header before it has finished,
// and not when one of them wrote that file; so the outcome does not depend on the threads. A
// header is started only while fewer than `window` headers wait to be reported, so that memory
// follows the threads, not the number of headers.
class Batch {
 public:
  Batch(const Settings& settings, std::size_t window)
      : base_(without_names(settings)), names_(settings.names), window_(window) {
    finished_.assign(names_.size(), false);
    outcomes_.resize(names_.size());
    inputs_of_.resize(names_.size());
  }

  // Converts headers until none is left (a worker thread).
  void work() {
    // Signals are taken by the reporting thread, which creates no files while workers run.
    common::platform::hold_interrupts_in_this_thread();
    for (std::size_t i; (i = next_.fetch_add(1)) < names_.size();) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return i < reported_ + window_; });
      }
      convert(i);
    }
  }

  // Converts header `i` in this thread, records its outcome.
  void convert(std::size_t i) {
    std::vector<std::uint64_t> inputs;
    header_inputs = &inputs;
    common::set_before_replace(
        [this, i, &inputs](const std::string& target) { return claim(i, target, inputs); });
    std::unique_ptr<Outcome> outcome = run_header(i);
    common::set_before_replace({});
    header_inputs = nullptr;
    // Records of one sample file name it once.
    std::sort(inputs.begin(), inputs.end());
    inputs.erase(std::unique(inputs.begin(), inputs.end()), inputs.end());
    inputs.shrink_to_fit();
    std::lock_guard<std::mutex> lock(mutex_);
    outcomes_[i] = std::move(outcome);
    inputs_of_[i] = std::move(inputs);
    finished_[i] = true;
    // The inputs of the headers before the first unfinished one are known to every later claim.
    while (prefix_ < finished_.size() && finished_[prefix_]) {
      for (std::uint64_t key : inputs_of_[prefix_]) inputs_.insert(key);
      inputs_of_[prefix_] = {};
      ++prefix_;
    }
    changed_.notify_all();
  }

  // Waits for header `i` at most `wait`; true when it has finished.
  bool wait_for(std::size_t i, std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, wait, [&] { return finished_[i]; });
  }
  // Header `i`'s outcome, handed over once it has finished; later headers may then start.
  std::unique_ptr<Outcome> take(std::size_t i) {
    std::lock_guard<std::mutex> lock(mutex_);
    reported_ = i + 1;
    changed_.notify_all();
    return std::move(outcomes_[i]);
  }
  std::size_t size() const { return names_.size(); }

 private:
  static Settings without_names(const Settings& settings) {
    Settings one = settings;
    one.names.clear();
    one.many = false;
    one.in_batch = true;
    one.OutFile.reset();
    return one;
  }

  // Whether header `i` may put its output at `target`, judged when every header before it has
  // finished (so that the verdict does not depend on the threads): 0, or the reason why not.
  int claim(std::size_t i, const std::string& target, const std::vector<std::uint64_t>& inputs) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return prefix_ >= i; });
    for (std::uint64_t input : inputs) {
      if (written_.contains(input)) return common::kReadsAnOutput;
    }
    std::uint64_t key = path_key(target);
    if (written_.contains(key)) return common::kWrittenByEarlier;
    if (inputs_.contains(key)) return common::kInputOfEarlier;
    written_.insert(key);
    return 0;
  }

  std::unique_ptr<Outcome> run_header(std::size_t i) {
    Settings one = base_;
    one.InHFile = names_[i];
    auto outcome = std::make_unique<Outcome>();
    one.tally = &outcome->records;
    common::Console console(outcome->out, outcome->err);
    try {
      if (one.record_mode) convert_records(one, console);
      convert_default(one, console);
    } catch (const common::Stop& stop) {
      outcome->status = console.finish(stop);
    } catch (const std::exception& failure) {
      outcome->err.write(common::error_line(std::string("internal failure: ") + failure.what()));
      outcome->status = common::kFailure;
    }
    return outcome;
  }

  const Settings base_;  // the settings of every header, without the names
  const std::vector<std::string>& names_;
  const std::size_t window_;
  std::atomic<std::size_t> next_{0};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<bool> finished_;
  std::size_t prefix_ = 0;    // headers 0..prefix_-1 have all finished
  std::size_t reported_ = 0;  // headers 0..reported_-1 have been handed to the reporter
  std::vector<std::unique_ptr<Outcome>> outcomes_;
  FileKeys written_;                                   // outputs put in place, links followed
  FileKeys inputs_;                                    // the inputs of every header before prefix_
  std::vector<std::vector<std::uint64_t>> inputs_of_;  // a finished header's, until then
};

// Writes a header's lines to standard error: each line it printed, "wavconv: <header>: " before
// it (its own "wavconv: " and leading blanks left out); blank lines and the success line dropped.
// What it wrote on standard error comes first, then what it wrote on standard output.
void report(const std::string& header, Outcome& outcome, common::Console& console) {
  const std::string lead = common::printable(header) + ": ";
  std::string text, line;
  auto end_line = [&] {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::size_t first = line.find_first_not_of(' ');
    if (first != std::string::npos) {
      std::string_view shown = std::string_view(line).substr(first);
      if (shown.rfind("wavconv: ", 0) == 0) shown.remove_prefix(9);
      text += common::error_line(lead + std::string(shown));
    }
    line.clear();
    if (text.size() >= (64 << 10)) {
      console.write_error(text);
      text.clear();
    }
  };
  for (SpillSink* stream : {&outcome.err, &outcome.out}) {
    stream->replay([&](std::string_view piece) {
      for (std::size_t start = 0; start < piece.size();) {
        std::size_t end = piece.find('\n', start);
        line.append(piece.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) break;
        end_line();
        start = end + 1;
      }
    });
    if (!line.empty()) end_line();
  }
  if (!text.empty()) console.write_error(text);
}

}  // namespace

void note_input(const std::string& path) {
  if (header_inputs) header_inputs->push_back(path_key(path));
}

void convert_many(const Settings& settings, common::Console& console) {
  const std::size_t n = settings.names.size();
  const std::size_t threads = std::min(thread_count(settings.threads), n);
  Batch batch(settings, 2 * threads + 2);
  Progress progress(console, "header", static_cast<std::int64_t>(n));
  // The workers convert; this thread reports, in the order of the names, as they finish. A
  // thread that cannot be started leaves the run with those that could.
  std::vector<std::thread> workers;
  for (std::size_t t = 0; t < threads; ++t) {
    try {
      workers.emplace_back([&batch] { batch.work(); });
    } catch (const std::system_error& failure) {
      console.write_error(common::error_line(
          "started " + std::to_string(workers.size()) + " of " + std::to_string(threads) +
          " threads (" + failure.code().message() + "); converting with " +
          (workers.empty() ? std::string("this one") : std::to_string(workers.size()))));
      break;
    }
  }
  std::int64_t refused = 0;
  RecordTally records;
  for (std::size_t i = 0; i < n; ++i) {
    if (workers.empty()) batch.convert(i);
    while (!batch.wait_for(i, std::chrono::milliseconds(100))) {
      progress.update(static_cast<std::int64_t>(i));
    }
    std::unique_ptr<Outcome> outcome = batch.take(i);
    progress.clear();
    report(settings.names[i], *outcome, console);
    refused += outcome->status == common::kSuccess ? 0 : 1;
    records.converted += outcome->records.converted;
    records.refused += outcome->records.refused;
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
