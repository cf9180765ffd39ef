#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace wavconv::driver {

// Threads that share the items of one job at a time with the thread that gives it. A thread
// that cannot be started leaves the pool with those that could; the workers hold the signals
// that end a run, so that the giving thread takes them.
class Pool {
 public:
  // Up to `threads` in all (the giving thread is one); `note` says why fewer, when they are.
  Pool(std::size_t threads, std::string& note);
  ~Pool();
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;

  // The threads that share a job, the giving one included.
  std::size_t size() const { return workers_.size() + 1; }
  // Calls job(i, t) for every i below n, t numbering the thread (0 for the giving one), and
  // returns when all are done.
  void run(std::size_t n, const std::function<void(std::size_t, std::size_t)>& job);

 private:
  void work(std::size_t t);
  // Takes items of the current job until none is left.
  void take(std::size_t t);

  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable changed_;
  const std::function<void(std::size_t, std::size_t)>* job_ = nullptr;
  std::size_t items_ = 0, next_ = 0, done_ = 0;
  std::size_t generation_ = 0;
  bool closing_ = false;
};

}  // namespace wavconv::driver
