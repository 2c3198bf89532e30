#include "core/clock.h"

#include <thread>

namespace skav {

namespace {

class SteadyClock : public Clock {
 public:
  time_point now() const override { return std::chrono::steady_clock::now(); }
  void sleep_for(duration length) override { std::this_thread::sleep_for(length); }
};

}  // namespace

Clock& steady_clock() {
  static SteadyClock clock;
  return clock;
}

}  // namespace skav
