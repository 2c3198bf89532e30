// What the station's snapshot says of a step whose data moves: which way it goes (the write,
// then the read-back), and how long the board has been silent, on the station's clock. A board
// is held mid-write by the cable while the test moves the clock.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "support/rig.h"

namespace skav::station {
namespace {

using namespace std::chrono_literals;

class HeldBoard : public ::testing::Test {
 protected:
  HeldBoard() {
    test::RigOptions options;
    options.barcode = 0;
    rig_ = std::make_unique<test::StationRig>(std::move(options));
    board_ = rig_->make_board(sim::BoardOptions{});
    // The board takes every frame, but the first data frame after the header numbered
    // `hold_at_header_` waits on the cable until the test lets it go.
    rig_->set_peer([this](const std::uint8_t* frame, std::size_t length) {
      if (frame != nullptr && link::ether_type(frame) == link::kEtherHostData &&
          board_->stats().headers == hold_at_header_) {
        std::unique_lock lock(mutex_);
        if (!released_) {
          held_ = true;
          changed_.notify_all();
          changed_.wait(lock, [this] { return released_; });
        }
      }
      test::serve(*board_)(frame, length);
    });
  }
  ~HeldBoard() override { release(); }

  bool wait_held() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 10s, [this] { return held_; });
  }
  void release() {
    {
      std::lock_guard lock(mutex_);
      released_ = true;
    }
    changed_.notify_all();
  }
  const StepView& kernel() { return rig_->station->snapshot()->board->steps[static_cast<std::size_t>(StepSlot::kKernel)]; }
  ManualClock& clock() { return dynamic_cast<ManualClock&>(rig_->clock()); }

  std::unique_ptr<test::StationRig> rig_;
  sim::SimBoard* board_ = nullptr;
  int hold_at_header_ = 0;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool held_ = false;
  bool released_ = false;
};

// Headers: the environment's write (1) and read-back (2), the kernel's write (3) and read-back
// (4).
TEST_F(HeldBoard, ASilentBoardMidWriteIsToldInWholeSecondsFromTheSecondOn) {
  hold_at_header_ = 3;
  ASSERT_TRUE(rig_->step_until([&] { return rig_->station->run_status() == RunStatus::kRunning; }));
  ASSERT_TRUE(wait_held());
  rig_->station->step();
  EXPECT_EQ(kernel().state, StepView::State::kRunning);
  EXPECT_EQ(kernel().phase, DataPhase::kWriting);
  EXPECT_EQ(kernel().silent_seconds, 0);

  clock().advance(1900ms);
  rig_->station->step();
  EXPECT_EQ(kernel().silent_seconds, 0) << "under two seconds is no silence worth telling";
  clock().advance(100ms);
  rig_->station->step();
  EXPECT_EQ(kernel().silent_seconds, 2);
  clock().advance(1500ms);
  rig_->station->step();
  EXPECT_EQ(kernel().silent_seconds, 3);

  release();
  ASSERT_TRUE(rig_->until_boards_done(1)) << rig_->log_text();
  EXPECT_EQ(rig_->records().at(0).verdict, "pass");
  EXPECT_EQ(kernel().silent_seconds, 0) << "a finished step has no silence";
  EXPECT_EQ(kernel().phase, DataPhase::kNone);
}

TEST_F(HeldBoard, TheReadBackIsVerifying) {
  hold_at_header_ = 4;
  ASSERT_TRUE(rig_->step_until([&] { return rig_->station->run_status() == RunStatus::kRunning; }));
  ASSERT_TRUE(wait_held());
  rig_->station->step();
  EXPECT_EQ(kernel().phase, DataPhase::kVerifying);
  clock().advance(5s);
  rig_->station->step();
  EXPECT_EQ(kernel().silent_seconds, 5);
  release();
  ASSERT_TRUE(rig_->until_boards_done(1)) << rig_->log_text();
  EXPECT_EQ(rig_->records().at(0).verdict, "pass");
}

}  // namespace
}  // namespace skav::station
