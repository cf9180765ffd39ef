#include "driver/pool.h"

#include <system_error>

#include "common/platform.h"

namespace wavconv::driver {

Pool::Pool(std::size_t threads, std::string& note) {
  for (std::size_t t = 1; t < threads; ++t) {
    try {
      workers_.emplace_back([this, t] { work(t); });
    } catch (const std::system_error& failure) {
      note = "started " + std::to_string(workers_.size() + 1) + " of " + std::to_string(threads) +
             " threads (" + failure.code().message() + "); converting with those";
      break;
    }
  }
}

Pool::~Pool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void Pool::run(std::size_t n, const std::function<void(std::size_t, std::size_t)>& job) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job_ = &job;
    items_ = n;
    next_ = 0;
    done_ = 0;
    ++generation_;
  }
  changed_.notify_all();
  take(0);
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return done_ == items_; });
  job_ = nullptr;
}

void Pool::take(std::size_t t) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (job_ && next_ < items_) {
    std::size_t i = next_++;
    const auto* job = job_;
    lock.unlock();
    (*job)(i, t);
    lock.lock();
    if (++done_ == items_) changed_.notify_all();
  }
}

void Pool::work(std::size_t t) {
  common::platform::hold_interrupts_in_this_thread();
  std::size_t seen = 0;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return closing_ || (job_ && generation_ != seen); });
      if (closing_) return;
      seen = generation_;
    }
    take(t);
  }
}

}  // namespace wavconv::driver
