#pragma once

#include <condition_variable>
#include <mutex>

namespace skav::test {

// Lets `count` threads start together. Not std::latch: libstdc++ 12's atomic wait can miss its
// wake-up where there is no futex, as with MinGW's threads, and hang the test.
class StartGate {
 public:
  explicit StartGate(int count) : count_(count) {}
  void arrive_and_wait() {
    std::unique_lock lock(mutex_);
    if (++waiting_ == count_) opened_.notify_all();
    opened_.wait(lock, [this] { return waiting_ >= count_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  const int count_;
  int waiting_ = 0;
};

}  // namespace skav::test
