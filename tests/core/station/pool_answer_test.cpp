// What the station does with its address pool's answers: it waits (and shows why) while the
// pool does not answer, goes on by itself when it does, and takes no more boards once the pool
// has no address left.

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>

#include "support/rig.h"

namespace skav::station {
namespace {

// A pool that answers as scripted, then reserves from 0200000A0000 on. With a gate, its second
// answer waits until the test opens the gate (at most 20 s).
class ScriptedPool : public settings::AddressPool {
 public:
  explicit ScriptedPool(std::deque<settings::PoolResult> answers, bool gated = false)
      : answers_(std::move(answers)), gate_open_(!gated) {}
  void open_gate() {
    {
      std::lock_guard lock(mutex_);
      gate_open_ = true;
    }
    gate_.notify_all();
  }
  int read_next(Log*, MacDigits::Digits&) override { return settings::kOk; }
  int write_next(Log*, const MacDigits::Digits&) override { return settings::kOk; }
  settings::PoolResult reserve(Log*, const MacDigits::Digits&, bool, const std::string& port,
                               settings::Reservation& out) override {
    std::unique_lock lock(mutex_);
    ports_.push_back(port);
    if (ports_.size() == 2) gate_.wait_for(lock, std::chrono::seconds(20), [this] { return gate_open_; });
    if (!answers_.empty()) {
      settings::PoolResult answer = answers_.front();
      answers_.pop_front();
      if (!answer.ok()) return answer;
    }
    MacDigits::parse("0200000A0000", out.address);
    for (int i = 0; i < given_; ++i) out.address = MacDigits::next(out.address);
    out.next = MacDigits::next(out.address);
    ++given_;
    return {};
  }
  Status finish(const settings::Reservation&, const settings::BoardOutcome&) override { return {}; }
  std::vector<std::string> ports() const {
    std::lock_guard lock(mutex_);
    return ports_;
  }

 private:
  mutable std::mutex mutex_;
  std::deque<settings::PoolResult> answers_;
  std::vector<std::string> ports_;
  int given_ = 0;
  std::condition_variable gate_;
  bool gate_open_;
};

using settings::PoolCode;

TEST(PoolAnswer, AStationWaitsForAnAbsentPoolSaysWhyOnceAndGoesOnByItself) {
  ScriptedPool pool({{PoolCode::kUnavailable, "database away"},
                     {PoolCode::kUnavailable, "database still away"},
                     {PoolCode::kUnavailable, "database still away"}},
                    true);
  test::RigOptions options;
  options.barcode = 0;
  options.pool = &pool;
  test::StationRig rig(std::move(options));
  rig.plug_line(board::BoardOptions{}, 1);
  // While the run waits, the front end is shown that it waits, and why.
  ASSERT_TRUE(rig.step_until([&] { return rig.station->snapshot()->pool_waiting; })) << rig.log_text();
  EXPECT_EQ(rig.station->snapshot()->pool_problem, "database away");
  EXPECT_EQ(rig.station->snapshot()->run_status, kRunning);
  pool.open_gate();
  ASSERT_TRUE(rig.until_boards_done(1)) << rig.log_text();

  std::string log = rig.log_text();
  std::string waiting = "MAC address pool unavailable, waiting: database away\r\n";
  std::string again = "MAC address pool available again\r\n";
  ASSERT_NE(log.find(waiting), std::string::npos) << log;
  EXPECT_EQ(log.find(waiting), log.rfind(waiting)) << "said once";
  EXPECT_LT(log.find(waiting), log.find(again));
  EXPECT_LT(log.find(again), log.find("Find the UBOOT CONFIG file.....")) << "nothing sent before";
  EXPECT_EQ(pool.ports().size(), 4u);
  EXPECT_EQ(pool.ports().front(), rig.cable().adapter());
  ASSERT_EQ(rig.records().size(), 1u);
  EXPECT_EQ(rig.records()[0].written_mac, "02:00:00:0A:00:00");
  EXPECT_EQ(rig.records()[0].verdict, "pass");

  // Then that it was over.
  EXPECT_FALSE(rig.station->snapshot()->pool_waiting);
  EXPECT_EQ(rig.station->snapshot()->pool_problem, "");
  EXPECT_FALSE(rig.station->snapshot()->pool_exhausted);
}

TEST(PoolAnswer, AnExhaustedPoolStopsTheStationTakingBoards) {
  ScriptedPool pool({{PoolCode::kReserved, ""}, {PoolCode::kExhausted, "range used up"}});
  test::RigOptions options;
  options.barcode = 0;
  options.pool = &pool;
  test::StationRig rig(std::move(options));
  board::BoardLine& line = rig.plug_line(board::BoardOptions{}, 3);
  ASSERT_TRUE(rig.until_boards_done(2)) << rig.log_text();
  std::string log = rig.log_text();
  EXPECT_NE(log.find("No MAC address for this board: range used up\r\n"), std::string::npos) << log;

  // Ticks go on, but the station no longer searches: the third board is never taken.
  int probes_before = line.current() ? line.current()->stats().probes_answered : -1;
  for (int i = 0; i < 20; ++i) rig.station->step();
  EXPECT_EQ(rig.log_text(), log) << "no search after the pool ran out";
  EXPECT_EQ(line.current() ? line.current()->stats().probes_answered : -1, probes_before);
  EXPECT_EQ(rig.station->boards_done(), 2);
  EXPECT_EQ(pool.ports().size(), 2u);
  auto snapshot = rig.station->snapshot();
  EXPECT_TRUE(snapshot->pool_exhausted);
  EXPECT_EQ(snapshot->pool_problem, "range used up");
  EXPECT_EQ(snapshot->state, StationState::kIdle);
  ASSERT_EQ(rig.records().size(), 2u);
  EXPECT_EQ(rig.records()[1].written_mac, "") << "no address, none recorded";
  EXPECT_EQ(rig.records()[1].environment, "fail");
}

// Two ports on one pool: the port that did not take the last address still shows the one the
// pool gives next, not the one it read at start-up.
TEST(PoolAnswer, PortsOnOnePoolShowTheSameNextAddress) {
  test::RigOptions first;
  first.barcode = 0;
  test::StationRig a(std::move(first));
  test::RigOptions second;
  second.barcode = 0;
  second.pool = &a.pool;
  test::StationRig b(std::move(second));
  auto shown = [](test::StationRig& rig) {
    rig.station->step();
    return rig.station->snapshot()->status_text;
  };
  EXPECT_NE(shown(b).find("[02-00-00-0A-00-00]"), std::string::npos) << shown(b);

  a.plug_line(board::BoardOptions{}, 1);
  ASSERT_TRUE(a.until_boards_done(1)) << a.log_text();
  EXPECT_EQ(a.stored_address(), "0200000A0001");
  EXPECT_NE(shown(a).find("[02-00-00-0A-00-01]"), std::string::npos) << shown(a);
  EXPECT_NE(shown(b).find("[02-00-00-0A-00-01]"), std::string::npos) << shown(b);

  // The address the operator sets in one port's Interface dialog is the next for every port.
  MacDigits::Digits set{};
  ASSERT_TRUE(MacDigits::parse("0200000B0000", set));
  b.station->post_apply_interface(b.station->snapshot()->selected_index, set);
  EXPECT_NE(shown(b).find("[02-00-00-0B-00-00]"), std::string::npos) << shown(b);
  EXPECT_NE(shown(a).find("[02-00-00-0B-00-00]"), std::string::npos) << shown(a);
}

}  // namespace
}  // namespace skav::station
