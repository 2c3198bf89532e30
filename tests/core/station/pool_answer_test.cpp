// What the station does with its address pool's answers: it waits (and shows why) while the
// pool does not answer, goes on by itself when it does, and takes no more boards once the pool
// has no address left.

#include <gtest/gtest.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

#include "support/rig.h"

namespace skav::station {
namespace {

// A pool that answers as scripted, then reserves from 0200000A0000 on. With a gate, its second
// answer waits until the test opens the gate (at most 20 s).
class ScriptedPool : public settings::AddressPool {
 public:
  explicit ScriptedPool(std::deque<settings::PoolResult<>> answers, bool gated = false)
      : answers_(std::move(answers)), gate_open_(!gated) {}
  void open_gate() {
    {
      std::lock_guard lock(mutex_);
      gate_open_ = true;
    }
    gate_.notify_all();
  }
  settings::PoolResult<MacDigits::Digits> read_next(Log*) override {
    return {settings::PoolCode::kUnset, "none"};
  }
  settings::PoolResult<> write_next(Log*, const MacDigits::Digits&) override { return {}; }
  settings::PoolResult<settings::Reservation> reserve(Log*, const MacDigits::Digits&, bool,
                                                      const std::string& port) override {
    std::unique_lock lock(mutex_);
    ports_.push_back(port);
    if (ports_.size() == 2) gate_.wait_for(lock, std::chrono::seconds(20), [this] { return gate_open_; });
    if (!answers_.empty()) {
      settings::PoolResult<> answer = answers_.front();
      answers_.pop_front();
      if (!answer.ok()) return answer.as<settings::Reservation>();
    }
    settings::Reservation out;
    MacDigits::parse("0200000A0000", out.address);
    for (int i = 0; i < given_; ++i) out.address = MacDigits::next(out.address);
    out.next = MacDigits::next(out.address);
    ++given_;
    return {settings::PoolCode::kDone, {}, out};
  }
  settings::PoolResult<> finish(const settings::Reservation&, const settings::BoardOutcome&) override {
    return {};
  }
  std::vector<std::string> ports() const {
    std::lock_guard lock(mutex_);
    return ports_;
  }

 private:
  mutable std::mutex mutex_;
  std::deque<settings::PoolResult<>> answers_;
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
  rig.plug_line(sim::BoardOptions{}, 1);
  // While the run waits, the front end is shown that it waits, and why.
  ASSERT_TRUE(rig.step_until([&] { return rig.station->snapshot()->pool_waiting; })) << rig.log_text();
  EXPECT_EQ(rig.station->snapshot()->pool_problem, "database away");
  EXPECT_EQ(rig.station->snapshot()->run_status, RunStatus::kRunning);
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
  ScriptedPool pool({{PoolCode::kDone, ""}, {PoolCode::kExhausted, "range used up"}});
  test::RigOptions options;
  options.barcode = 0;
  options.pool = &pool;
  test::StationRig rig(std::move(options));
  sim::BoardLine& line = rig.plug_line(sim::BoardOptions{}, 3);
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

  a.plug_line(sim::BoardOptions{}, 1);
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

// --- The pool's check before a board's run ---

// A store that cannot be written holds the connected board back (no run, so no address given
// twice), says why once, and the board is programmed by itself once the store can be written.
TEST(PoolCheck, AStoreThatCannotBeWrittenHoldsTheBoardUntilItCanBe) {
  test::TempDir folder;
  test::FullDiskStore store(folder / "pool.reg");
  ASSERT_EQ(store.machwid_write(nullptr, test::digits_of("0200000A0000")), settings::kOk);
  settings::StoreAddressPool pool(store);
  test::RigOptions options;
  options.barcode = 0;
  options.pool = &pool;
  test::StationRig rig(std::move(options));
  rig.plug_line(sim::BoardOptions{}, 3);
  ASSERT_TRUE(rig.until_boards_done(1)) << rig.log_text();

  // The station looks again once a second on its clock; a tick here is a tenth of one.
  auto& clock = dynamic_cast<ManualClock&>(rig.clock());
  auto tick = [&] {
    clock.advance(std::chrono::milliseconds(100));
    return false;
  };
  store.full = true;
  ASSERT_TRUE(rig.step_until([&] { return rig.station->snapshot()->pool_waiting || tick(); })) << rig.log_text();
  for (int i = 0; i < 35; ++i) {
    tick();
    rig.station->step();  // about three checks more
  }
  auto snapshot = rig.station->snapshot();
  EXPECT_EQ(snapshot->state, StationState::kConnected);
  EXPECT_EQ(snapshot->run_status, RunStatus::kNoRun) << "no run while the store cannot be written";
  const std::string why = "the next MAC address could not be stored in " +
                          (folder / "pool.reg").string() + ": " + std::strerror(ENOSPC);
  EXPECT_EQ(snapshot->pool_problem, why);
  ASSERT_TRUE(snapshot->station_fault) << "a pool that cannot give an address is the station's fault";
  EXPECT_EQ(snapshot->station_fault->cause, why);
  const std::string waiting = "MAC address pool unavailable, waiting: " + why + "\r\n";
  std::string log = rig.log_text();
  ASSERT_NE(log.find(waiting), std::string::npos) << log;
  EXPECT_EQ(log.find(waiting), log.rfind(waiting)) << "said once";

  store.full = false;
  ASSERT_TRUE(rig.step_until([&] { return rig.station->boards_done() >= 3 || tick(); })) << rig.log_text();
  EXPECT_NE(rig.log_text().find(waiting + "MAC address pool available again\r\n"), std::string::npos);
  EXPECT_FALSE(rig.station->snapshot()->pool_waiting);
  EXPECT_FALSE(rig.station->snapshot()->station_fault);
  std::vector<std::string> written;
  for (const test::RecordLine& record : rig.records()) written.push_back(record.written_mac);
  EXPECT_EQ(written, (std::vector<std::string>{test::written_address(0), test::written_address(1),
                                               test::written_address(2)}));
}

// A stored next address that is not 12 hexadecimal digits is neither taken for a missing one
// nor repaired at start-up: the board waits for the operator's address, shown what was found.
TEST(PoolCheck, ABadStoredNextAddressWaitsForTheOperatorsNextAddress) {
  test::RigOptions options;
  options.barcode = 0;
  options.start_up = false;
  test::StationRig rig(std::move(options));
  rig.dir.write("settings.reg",
                "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\SKAV]\r\n"
                "\"BarCode\"=dword:00000000\r\n\"MACHWID\"=\"0200000A00\"\r\n");
  rig.station->post_start_up();
  rig.plug_line(sim::BoardOptions{}, 1);
  ASSERT_TRUE(rig.step_until([&] { return rig.station->snapshot()->pool_waiting; })) << rig.log_text();
  EXPECT_EQ(rig.station->snapshot()->pool_problem,
            "the next MAC address in " + (rig.dir / "settings.reg").string() +
                ", \"0200000A00\", is not 12 hexadecimal digits: set the next address in the "
                "Interface dialog or with --mac");
  EXPECT_EQ(rig.stored_address(), "") << "left for the operator, not repaired";
  EXPECT_NE(test::read_file(rig.dir / "settings.reg").find("\"MACHWID\"=\"0200000A00\""), std::string::npos);

  // A group address is no board's; the operator's individual one is taken, and the board goes.
  const int index = rig.station->snapshot()->selected_index;
  rig.station->post_apply_interface(index, test::digits_of("0300000B0000"));
  rig.station->step();
  EXPECT_NE(rig.log_text().find("Network Interface not changed: 03:00:00:0B:00:00 is a group "
                                "(multicast) address, not a board's own\r\n"),
            std::string::npos);
  EXPECT_EQ(rig.station->snapshot()->run_status, RunStatus::kNoRun);
  rig.station->post_apply_interface(index, test::digits_of("0200000B0000"));
  ASSERT_TRUE(rig.until_boards_done(1)) << rig.log_text();
  ASSERT_EQ(rig.records().size(), 1u);
  EXPECT_EQ(rig.records()[0].written_mac, "02:00:00:0B:00:00");
  EXPECT_EQ(rig.stored_address(), "0200000B0001");
}

}  // namespace
}  // namespace skav::station
