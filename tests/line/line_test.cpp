// The line stepped tick by tick: its stations and their simulated boards on direct cables with
// the tests' clocks, each run carried out within the tick that starts it, so nothing sleeps.
// The run budget over several ports, the pool running out, and the totals.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/settings/store_address_pool.h"
#include "line/line.h"
#include "support/rig.h"

namespace skav::line {
namespace {

// A port on a direct cable whose far end is a line of simulated boards, served on the sending
// thread.
class CableAccess : public PortAccess {
 public:
  CableAccess(const sim::BoardOptions& first, int boards) : cable_(test::direct_cable()) {
    boards_ = std::make_unique<sim::BoardLine>(cable_->board_end(), first, boards);
    cable_->set_peer(test::serve(*boards_));
  }
  ~CableAccess() override { cable_->set_peer(nullptr); }
  link::FrameBackend& backend() override { return cable_->backend(); }
  test::Cable& cable() { return *cable_; }
  sim::BoardLine& boards() { return *boards_; }

 private:
  std::unique_ptr<test::Cable> cable_;
  std::unique_ptr<sim::BoardLine> boards_;
};

// A pool of `count` addresses from 0200000A0000; after them it has none, and says so when
// asked.
class SmallPool : public settings::AddressPool {
 public:
  explicit SmallPool(int count) : count_(count) {}
  settings::PoolResult<MacDigits::Digits> read_next(Log*) override {
    std::lock_guard lock(mutex_);
    MacDigits::Digits next{};
    MacDigits::parse("0200000A0000", next);
    for (int i = 0; i < given_; ++i) next = MacDigits::next(next);
    return {settings::PoolCode::kDone, {}, next};
  }
  settings::PoolResult<> write_next(Log*, const MacDigits::Digits&) override { return {}; }
  settings::PoolResult<> check(Log*) override {
    std::lock_guard lock(mutex_);
    if (given_ >= count_) return {settings::PoolCode::kExhausted, "range used up"};
    return {};
  }
  settings::PoolResult<settings::Reservation> reserve(Log*, const MacDigits::Digits&, bool,
                                                      const std::string&) override {
    std::lock_guard lock(mutex_);
    if (given_ >= count_) return {settings::PoolCode::kExhausted, "range used up"};
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

 private:
  std::mutex mutex_;
  int count_;
  int given_ = 0;
};

// Every line snapshot told, in order; `each`, when set, sees each as it is told.
class LineLog : public LineEvents {
 public:
  void on_snapshot(std::shared_ptr<const LineSnapshot> snapshot) override {
    if (each) each(*snapshot);
    std::lock_guard lock(mutex_);
    snapshots_.push_back(std::move(snapshot));
  }
  std::function<void(const LineSnapshot&)> each;
  std::vector<std::shared_ptr<const LineSnapshot>> snapshots() const {
    std::lock_guard lock(mutex_);
    return snapshots_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<const LineSnapshot>> snapshots_;
};

struct LineRigOptions {
  int ports = 2;
  int boards_per_port = 4;  // on each port's line of boards
  int budget = 0;
  int pool_addresses = 0;  // 0: the settings store's MACHWID
  int faulty_port = -1;    // this port's boards fail their read-back
  int barcode = 0;         // the stored BarCode: 1 asks for each board's address
};

// A line in a temporary working folder with the example configuration.
class LineRig {
 public:
  explicit LineRig(const LineRigOptions& options, const std::vector<station::BoardRecord>& before = {}) {
    dir.copy_from(std::filesystem::path(SKAV_SOURCE_DIR) / "examples");
    for (const station::BoardRecord& record : before)
      EXPECT_TRUE(station::append_record(dir / station::kRecordsFile, record).ok());
    LineParts parts;
    auto store = std::make_unique<settings::FileSettingsStore>(dir / "settings.reg");
    store->number_write(nullptr, settings::kBarCode, options.barcode);
    MacDigits::Digits first;
    MacDigits::parse("0200000A0000", first);
    store->machwid_write(nullptr, first);
    if (options.pool_addresses > 0)
      parts.pool = std::make_unique<SmallPool>(options.pool_addresses);
    else
      parts.pool = std::make_unique<settings::StoreAddressPool>(*store);
    parts.store = std::move(store);
    parts.boards = options.budget;
    parts.records_file = dir / station::kRecordsFile;
    for (int i = 0; i < options.ports; ++i) {
      sim::BoardOptions board;
      board.mac = sim::mac_plus(board.mac, static_cast<std::uint64_t>(i) * 100);
      if (i == options.faulty_port) board.faults.corrupt_read = -1;
      auto access = std::make_unique<CableAccess>(board, options.boards_per_port);
      accesses.push_back(access.get());
      logs.push_back(std::make_unique<StringLog>());
      events.push_back(std::make_unique<test::EventLog>());
      PortParts port;
      port.name = "port" + std::to_string(i);
      port.log = logs.back().get();
      port.events = events.back().get();
      port.options.dir = dir.path();
      port.options.clock = &access->cable().clock();
      port.options.interface = access->cable().adapter();
      port.options.inline_runs = true;
      port.access = std::move(access);
      parts.ports.push_back(std::move(port));
    }
    line = std::make_unique<Line>(std::move(parts), &told);
    line->post_all(StartUp{});
  }

  // Steps the line until `done` holds, at most `limit` steps. True when it held.
  bool step_until(const std::function<bool(const LineSnapshot&)>& done, int limit = 2000) {
    for (int i = 0; i < limit; ++i) {
      if (done(*line->snapshot())) return true;
      line->step();
    }
    return done(*line->snapshot());
  }
  void steps(int count) {
    for (int i = 0; i < count; ++i) line->step();
  }
  std::string logs_text() const {
    std::string text;
    for (std::size_t i = 0; i < logs.size(); ++i) text += "port " + std::to_string(i) + ":\n" + logs[i]->text();
    return text;
  }
  std::vector<test::RecordLine> records() const { return test::read_records(dir / station::kRecordsFile); }

  test::TempDir dir;
  std::vector<std::unique_ptr<StringLog>> logs;
  std::vector<std::unique_ptr<test::EventLog>> events;
  std::vector<CableAccess*> accesses;
  LineLog told;
  std::unique_ptr<Line> line;
};

// Stopping the line (the window closed) tells every port before it waits for any: stopped one
// after another, the later ports went on programming, and took new boards and addresses,
// while the first ones wound down.
TEST(LineStop, EveryPortIsToldBeforeAnyIsWaitedFor) {
  LineRig rig({.ports = 3});
  rig.steps(3);
  std::vector<bool> told_when_first_stopped;
  rig.told.each = [&](const LineSnapshot& snapshot) {
    if (!told_when_first_stopped.empty() || snapshot.ports[0] == nullptr || !snapshot.ports[0]->stopped) return;
    for (std::size_t port = 0; port < 3; ++port)
      told_when_first_stopped.push_back(rig.line->station(port).stop_requested());
  };
  rig.line->stop();
  EXPECT_EQ(told_when_first_stopped, (std::vector<bool>{true, true, true}));
  for (std::size_t port = 0; port < 3; ++port) EXPECT_TRUE(rig.line->port_snapshot(port)->stopped) << port;
}

TEST(LineBudget, ExactlyTheBudgetsBoardsOverAllPortsAndNoneBeyond) {
  struct Case {
    int ports, budget;
  };
  for (const Case& c : {Case{1, 2}, Case{2, 3}, Case{3, 4}, Case{3, 7}}) {
    SCOPED_TRACE(std::to_string(c.ports) + " ports, " + std::to_string(c.budget) + " boards");
    LineRig rig({.ports = c.ports, .boards_per_port = 4, .budget = c.budget});
    ASSERT_TRUE(rig.step_until([](const LineSnapshot& s) { return s.done(); })) << rig.logs_text();
    // Ticks go on: boards wait on every port, and none is taken.
    rig.steps(200);
    auto shown = rig.line->snapshot();
    EXPECT_EQ(shown->end, LineEnd::kBoardsDone);
    EXPECT_EQ(shown->budget, c.budget);
    EXPECT_EQ(shown->runs_started, c.budget);
    EXPECT_EQ(shown->boards_done, c.budget);
    EXPECT_EQ(shown->totals.shift.boards, c.budget);
    EXPECT_EQ(static_cast<int>(rig.records().size()), c.budget);
    int finished = 0;
    for (CableAccess* access : rig.accesses) finished += access->boards().finished_count();
    EXPECT_EQ(finished, c.budget) << "no board beyond the budget was programmed";
    if (c.ports > 1 && c.budget > c.ports) {
      // The budget is shared: more than one port took boards.
      int ports_used = 0;
      for (const auto& port : shown->ports) ports_used += port->boards_done > 0 ? 1 : 0;
      EXPECT_GT(ports_used, 1);
    }
  }
}

TEST(LineBudget, WithoutABudgetTheLineIsNeverDone) {
  LineRig rig({.ports = 2, .boards_per_port = 2});
  ASSERT_TRUE(rig.step_until([](const LineSnapshot& s) { return s.boards_done == 4; })) << rig.logs_text();
  rig.steps(50);
  EXPECT_FALSE(rig.line->snapshot()->done());
  EXPECT_EQ(rig.line->snapshot()->runs_started, 4);
}

TEST(LinePool, AnExhaustedPoolStopsEveryPortAndIsToldOnce) {
  LineRig rig({.ports = 3, .boards_per_port = 4, .pool_addresses = 3});
  ASSERT_TRUE(rig.step_until([](const LineSnapshot& s) { return s.done(); })) << rig.logs_text();
  auto at_end = rig.line->snapshot();
  rig.steps(200);
  auto shown = rig.line->snapshot();
  EXPECT_EQ(shown->end, LineEnd::kPoolExhausted);
  EXPECT_EQ(shown->pool, PoolState::kExhausted);
  EXPECT_EQ(shown->pool_problem, "range used up");
  EXPECT_EQ(shown->runs_started, at_end->runs_started) << "no run started after the line stopped";
  EXPECT_EQ(shown->boards_done, at_end->boards_done);
  int addressed = 0;
  for (const test::RecordLine& record : rig.records()) addressed += record.written_mac.empty() ? 0 : 1;
  EXPECT_EQ(addressed, 3) << "every address of the pool went to a board";
  EXPECT_EQ(shown->totals.shift.passed, 3);
  for (const auto& port : shown->ports) EXPECT_EQ(port->run_status, station::RunStatus::kNoRun);

  // Told once: a single snapshot turns the line's pool to exhausted, and the line's end with it
  // stays.
  int turns = 0;
  PoolState before = PoolState::kAvailable;
  for (const auto& snapshot : rig.told.snapshots()) {
    if (snapshot->pool == PoolState::kExhausted && before != PoolState::kExhausted) ++turns;
    before = snapshot->pool;
  }
  EXPECT_EQ(turns, 1);
}

station::BoardRecord record_at(const std::string& time, station::Verdict overall) {
  station::BoardRecord record;
  record.time = time;
  record.adapter = "eth9";
  record.board_mac = "02:00:00:00:09:01";
  record.overall = overall;
  return record;
}

TEST(LineTotals, ShiftTodayAndFirstPassYieldAfterBoardsPassAndFail) {
  const std::string now = station::iso8601_now();
  const std::string today = date_of(now);
  std::vector<station::BoardRecord> before = {
      record_at(now, station::Verdict::kPass),
      record_at(now, station::Verdict::kFail),
      record_at("2001-02-03T04:05:06+00:00", station::Verdict::kPass),  // another day
  };
  // Port 1's boards fail their read-back; port 0's pass.
  LineRig rig({.ports = 2, .boards_per_port = 2, .budget = 4, .faulty_port = 1}, before);
  EXPECT_EQ(rig.line->snapshot()->totals.date, today);
  EXPECT_EQ(rig.line->snapshot()->totals.today, (Counts{2, 1, 1, 2, 1, 2, 0})) << "from the records file";
  EXPECT_EQ(rig.line->snapshot()->totals.shift, Counts{});
  ASSERT_TRUE(rig.step_until([](const LineSnapshot& s) { return s.done(); })) << rig.logs_text();

  const Totals& totals = rig.line->snapshot()->totals;
  EXPECT_EQ(totals.shift, (Counts{4, 2, 2, 4, 2, 4, 0}));
  ASSERT_TRUE(totals.shift.first_pass_yield().has_value());
  EXPECT_DOUBLE_EQ(*totals.shift.first_pass_yield(), 0.5);
  EXPECT_EQ(totals.today, (Counts{6, 3, 3, 6, 3, 6, 0}));
  EXPECT_FALSE(totals.shift_since.empty());
  // The totals agree with the records the stations wrote.
  int passed = 0;
  for (const test::RecordLine& record : rig.records()) passed += record.verdict == "pass" ? 1 : 0;
  EXPECT_EQ(passed, 2 + 2);  // two before, two now
}

// Each port counts its own boards; Reset, posted to any port, empties the shift and every
// port's count but leaves today's.
TEST(LineTotals, PortCountsAndResetShift) {
  LineRig rig({.ports = 2, .boards_per_port = 3, .budget = 3, .faulty_port = 1});
  ASSERT_EQ(rig.line->snapshot()->port_counts, (std::vector<Counts>(2)));
  ASSERT_TRUE(rig.step_until([](const LineSnapshot& s) { return s.done(); })) << rig.logs_text();
  std::shared_ptr<const LineSnapshot> done = rig.line->snapshot();
  ASSERT_EQ(done->port_counts.size(), 2u);
  const Counts& good = done->port_counts[0];
  const Counts& bad = done->port_counts[1];
  EXPECT_EQ(good.boards + bad.boards, 3);
  EXPECT_EQ(good.passed, good.boards);
  EXPECT_EQ(good.failed, 0);
  EXPECT_EQ(bad.failed, bad.boards);
  EXPECT_EQ(bad.passed, 0);
  EXPECT_GT(bad.boards, 0);
  EXPECT_EQ(done->totals.shift.boards, 3);
  EXPECT_EQ(done->shift_resets, 0);
  const Counts today = done->totals.today;

  struct Case {
    std::size_t port;
    bool resets;
  };
  // A port the line does not have takes no command, not even a line's.
  for (const Case& c : {Case{7, false}, Case{1, true}}) {
    const std::uint64_t before = rig.line->snapshot()->sequence;
    rig.line->post(c.port, ResetShift{});
    std::shared_ptr<const LineSnapshot> after = rig.line->snapshot();
    if (!c.resets) {
      EXPECT_EQ(after->sequence, before) << c.port;
      EXPECT_EQ(after->totals.shift.boards, 3) << c.port;
      continue;
    }
    EXPECT_GT(after->sequence, before);
    EXPECT_EQ(after->shift_resets, 1);
    EXPECT_EQ(after->totals.shift, Counts{});
    EXPECT_EQ(after->port_counts, (std::vector<Counts>(2)));
    EXPECT_EQ(after->totals.today, today) << "today's count stays";
    EXPECT_FALSE(after->totals.shift_since.empty());
    ASSERT_FALSE(rig.told.snapshots().empty());
    EXPECT_EQ(rig.told.snapshots().back(), after) << "the reset is told to the face";
  }
}

// A run of the board that was sent `written`, as its record says.
station::BoardRecord run_of(const char* written, station::Verdict overall, int attempt) {
  station::BoardRecord record = record_at("2026-12-10T08:00:00+01:00", overall);
  record.written_mac = written;
  record.attempt = attempt;
  return record;
}

TEST(LineTotals, BoardsAndRunsApartWithFirstPassAndFinalYield) {
  using station::Verdict;
  constexpr const char* kA = "02:00:00:0A:00:00";
  constexpr const char* kB = "02:00:00:0A:00:01";
  struct Case {
    const char* name;
    std::vector<station::BoardRecord> runs;
    Counts counts;  // boards, passed, failed, first attempts, passed first, runs, interrupted
    std::optional<double> first_pass, final_yield;
  };
  const std::vector<Case> cases = {
      {"nothing yet", {}, {}, std::nullopt, std::nullopt},
      {"one pass", {run_of(kA, Verdict::kPass, 1)}, {1, 1, 0, 1, 1, 1, 0}, 1.0, 1.0},
      {"a re-test that passes moves its board from failed to passed",
       {run_of(kA, Verdict::kFail, 1), run_of(kA, Verdict::kPass, 2)},
       {1, 1, 0, 1, 0, 2, 0}, 0.0, 1.0},
      {"re-tests in either case of the address are one board",
       {run_of(kA, Verdict::kFail, 1), run_of("02:00:00:0a:00:00", Verdict::kTimeout, 2),
        run_of(kA, Verdict::kFail, 3), run_of(kB, Verdict::kPass, 1)},
       {2, 1, 1, 2, 1, 4, 0}, 0.5, 0.5},
      {"a board cut off by its adapter is interrupted, not failed",
       {run_of(kA, Verdict::kAdapterLost, 1), run_of(kB, Verdict::kFail, 1)},
       {2, 0, 1, 2, 0, 2, 1}, 0.0, 0.0},
      {"a board whose run was stopped is interrupted, not failed",
       {run_of(kA, Verdict::kStopped, 1), run_of(kB, Verdict::kTimeout, 1)},
       {2, 0, 1, 2, 0, 2, 1}, 0.0, 0.0},
      {"an interrupted board re-tested and passed is passed",
       {run_of(kA, Verdict::kAdapterLost, 1), run_of(kA, Verdict::kPass, 2)},
       {1, 1, 0, 1, 0, 2, 0}, 0.0, 1.0},
      {"a re-test whose first run was another day is a board today, not a first pass",
       {run_of(kA, Verdict::kPass, 2)}, {1, 1, 0, 0, 0, 1, 0}, 0.0, 1.0},
      {"first runs that got one address (an operator's entry) are boards of their own",
       {run_of(kA, Verdict::kFail, 1), run_of(kA, Verdict::kPass, 1)},
       {2, 1, 1, 2, 1, 2, 0}, 0.5, 0.5},
      {"runs that wrote no address are boards of their own",
       {run_of("", Verdict::kFail, 1), run_of("", Verdict::kFail, 1)},
       {2, 0, 2, 2, 0, 2, 0}, 0.0, 0.0},
  };
  for (const Case& c : cases) {
    Tally tally;
    for (const station::BoardRecord& run : c.runs) tally.add(run);
    EXPECT_EQ(tally.counts(), c.counts) << c.name;
    EXPECT_EQ(tally.counts().first_pass_yield(), c.first_pass) << c.name;
    EXPECT_EQ(tally.counts().final_yield(), c.final_yield) << c.name;
  }
}

TEST(LineTotals, TodayFromARecordsFileCountsReTestsAsRunsOfOneBoard) {
  test::TempDir dir;
  // A file written before attempts were counted, then lines of this station: read by the
  // header's names, the older lines count as first runs.
  std::string old_header = station::records_header();
  old_header = old_header.substr(0, old_header.rfind(",attempt")) + "\n";
  station::BoardRecord first = run_of("02:00:00:0A:00:00", station::Verdict::kFail, 1);
  std::string old_line = station::format_record(first);
  old_line = old_line.substr(0, old_line.rfind(',')) + "\n";
  auto file = dir.write("old.csv", old_header + old_line);
  EXPECT_EQ(read_day(file, "2026-12-10").counts(), (Counts{1, 0, 1, 1, 0, 1, 0}));

  auto mixed = dir.write("mixed.csv", station::records_header() +
                                          station::format_record(first) +
                                          station::format_record(run_of("02:00:00:0A:00:00", station::Verdict::kPass, 2)) +
                                          station::format_record(run_of("02:00:00:0A:00:01", station::Verdict::kAdapterLost, 1)) +
                                          station::format_record(run_of("02:00:00:0A:00:02", station::Verdict::kStopped, 1)));
  EXPECT_EQ(read_day(mixed, "2026-12-10").counts(), (Counts{3, 1, 0, 3, 0, 4, 2}));
}

TEST(LineTotals, ARecordOfALaterDayStartsThatDayAfresh) {
  Totals totals;
  Tally shift, today;
  totals.date = "2026-12-09";
  today.add(run_of("02:00:00:0A:00:00", station::Verdict::kFail, 1));
  add_board(totals, shift, today, record_at("2026-12-10T00:00:01+01:00", station::Verdict::kFail));
  EXPECT_EQ(totals.date, "2026-12-10");
  EXPECT_EQ(totals.today, (Counts{1, 0, 1, 1, 0, 1, 0}));
  EXPECT_EQ(totals.shift, (Counts{1, 0, 1, 1, 0, 1, 0})) << "the shift goes on over midnight";
  EXPECT_EQ(date_of("not a time"), "");
}

TEST(LineTyping, TheTerminalsKeysGoToThePortThatAskedFirst) {
  // Barcode Mode: each port asks for its board's address.
  LineRig rig({.ports = 2, .boards_per_port = 1, .barcode = 1});
  ASSERT_TRUE(rig.step_until([](const LineSnapshot& s) { return s.asking.size() == 2; }))
      << rig.logs_text();
  const std::size_t first = rig.line->snapshot()->asking.front();
  EXPECT_EQ(rig.line->snapshot()->typing_port, first);
  for (char c : std::string("0200000B0001")) EXPECT_EQ(rig.line->type(c), first);
  EXPECT_EQ(rig.line->type(13), first);
  const std::size_t second = 1 - first;
  EXPECT_EQ(rig.line->port_for_typing(first), second) << "a window showing the served port turns";
  ASSERT_TRUE(rig.step_until([&](const LineSnapshot& s) { return s.ports[first]->boards_done == 1; }))
      << rig.logs_text();
  EXPECT_EQ(rig.line->snapshot()->typing_port, second);
  std::vector<station::BoardRecord> finished = rig.events[first]->records();
  ASSERT_EQ(finished.size(), 1u);
  EXPECT_EQ(finished[0].written_mac, "02:00:00:0B:00:01") << "the typed address went to its port";
  EXPECT_EQ(rig.line->snapshot()->ports[second]->boards_done, 0) << "its entry never began";
}

}  // namespace
}  // namespace skav::line
