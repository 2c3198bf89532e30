#pragma once

#include <atomic>
#include <chrono>

namespace skav {

// The steady time that the link, the transfer and the station read and pause on. Handed in,
// so that tests can let a silence of 30 s pass at once.
class Clock {
 public:
  using time_point = std::chrono::steady_clock::time_point;
  using duration = std::chrono::steady_clock::duration;

  virtual ~Clock() = default;
  virtual time_point now() const = 0;
  // Pauses the calling thread for `length`.
  virtual void sleep_for(duration length) = 0;
};

// The system's monotonic clock; pauses are real sleeps.
Clock& steady_clock();

// Time that moves only when told: advance() or a pause moves it on at once. Any thread may
// read or move it.
class ManualClock : public Clock {
 public:
  time_point now() const override { return time_point(duration(ticks_.load())); }
  void sleep_for(duration length) override { advance(length); }
  void advance(duration length) { ticks_.fetch_add(length.count()); }

 private:
  std::atomic<duration::rep> ticks_{0};
};

}  // namespace skav
