// The Station Cycle tick by tick, with a peer that only answers Discovery Probes and a working
// folder whose config.ini names the environment alone: the silent board lets a run time out at
// once on the test's clock.

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <mutex>

#include "support/rig.h"

namespace skav::station {
namespace {

constexpr link::Mac kBoardMac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x2a};
constexpr MacDigits::Digits kAllF = {'F', 'F', 'F', 'F', 'F', 'F', 'F', 'F', 'F', 'F', 'F', 'F'};

using test::digits_of;

constexpr const char* kEnvironmentOnly = "[uboot_cfg]\nMem_type=spi\n";
constexpr const char* kTimedOut = "Find the UBOOT CONFIG file.....Fail\r\nTarget not responding after 30 s\r\n";

class StationCycle : public ::testing::Test {
 protected:
  void make(int barcode, test::RigOptions options = {}) {
    options.examples = false;
    options.barcode = barcode;
    options.config = kEnvironmentOnly;
    options.allow_worker_start = [this] { return worker_starts_allowed_-- > 0; };
    rig_ = std::make_unique<test::StationRig>(std::move(options));
    answerer_ = std::make_shared<test::ProbeAnswerer>(rig_->cable_board_end(), kBoardMac);
    rig_->set_peer([a = answerer_](const std::uint8_t* f, std::size_t n) { (*a)(f, n); });
    rig_->log.clear();
  }
  // Idle to Connected: the announcing tick, then a probe the board answers.
  void connect() {
    answerer_->answer = true;
    rig_->station->step();
    rig_->station->step();
    answerer_->answer = false;
    ASSERT_EQ(rig_->station->state(), StationState::kConnected);
  }
  Station& station() { return *rig_->station; }
  std::string log() const { return rig_->log_text(); }
  std::int32_t stored(const char* name) {
    std::int32_t value = -99;
    rig_->store.number_read(nullptr, name, value);
    return value;
  }

  int worker_starts_allowed_ = 1000;
  std::unique_ptr<test::StationRig> rig_;
  std::shared_ptr<test::ProbeAnswerer> answerer_;
};

TEST_F(StationCycle, FirstTickAnnouncesTheSearchWithoutAProbeAndTheSecondProbes) {
  make(0);
  station().step();
  EXPECT_EQ(log(), "Waiting connecting to Target...\r\n");
  EXPECT_EQ(answerer_->probes, 0);
  station().step();
  EXPECT_EQ(answerer_->probes, 1);
  EXPECT_EQ(station().state(), StationState::kSearching);
  EXPECT_EQ(log(), "Waiting connecting to Target...\r\n");
}

TEST_F(StationCycle, StatusTextShowsTheAdapterAndInBarcodeModeOffTheMacDigits) {
  test::RigOptions options;
  options.first_address = "";  // the first start's 001122334455
  make(1, std::move(options));
  EXPECT_EQ(station().status_text(), "") << "no status before the first tick";
  station().step();
  EXPECT_EQ(station().status_text(), "Ethernet -> Simulated board link");
  station().post_toggle_barcode();
  station().step();
  EXPECT_EQ(station().status_text(),
            "Ethernet -> Simulated board link   MAC_Addr -> [00-11-22-33-44-55]");
  EXPECT_EQ(stored(settings::kBarCode), 0);
}

TEST_F(StationCycle, AdapterIndexWithoutEntryGivesAnEmptyAdapterTextAndIsReportedAtStartUp) {
  test::RigOptions options;
  options.stored_adapter = true;
  options.start_up = false;
  make(1, std::move(options));
  rig_->store.number_write(nullptr, settings::kNetIF, 3);
  station().post_start_up();
  station().step();
  EXPECT_EQ(station().status_text(), "Ethernet -> ");
  EXPECT_EQ(log(), "Interface number out of range.inum:04,iIfNum:01\r\nOpen Network Interface Fail\r\n"
                   "Waiting connecting to Target...\r\n");
  EXPECT_FALSE(station().snapshot()->adapter_open);
  EXPECT_NE(station().snapshot()->adapter_problem, "");
}

TEST_F(StationCycle, FoundTargetStartsTheRunOnTheNextTickAndReturnsToIdleTwoTicksAfter) {
  make(0);
  connect();
  EXPECT_EQ(station().run_status(), RunStatus::kNoRun);
  station().step();  // the run starts; the silent board ends it at once
  ASSERT_TRUE(rig_->until_run_finished());
  EXPECT_EQ(log(), std::string("Waiting connecting to Target...\r\nConnected...\r\n") + kTimedOut);
  station().step();  // sees Run Status 2
  EXPECT_EQ(station().state(), StationState::kIdle);
  EXPECT_EQ(station().run_status(), RunStatus::kNoRun);
  EXPECT_EQ(station().boards_done(), 1);
  station().step();
  EXPECT_EQ(log(), std::string("Waiting connecting to Target...\r\nConnected...\r\n") + kTimedOut +
                       "Waiting connecting to Target...\r\n");
  EXPECT_TRUE(std::filesystem::exists(rig_->dir / kRecordsFile));
}

TEST_F(StationCycle, BarcodeModeAsksForTheAddressAndWaitsForTheEntry) {
  make(1);
  connect();
  EXPECT_EQ(log(), "Waiting connecting to Target...\r\nConnected...\r\nInput MAC Address : ");
  EXPECT_EQ(station().mac_digits(), kAllF);
  station().step();
  EXPECT_EQ(station().run_status(), RunStatus::kNoRun);
  rig_->type("00a0c914c829");
  station().step();
  EXPECT_EQ(station().run_status(), RunStatus::kNoRun) << "no run before Enter";
  rig_->type("\r");
  EXPECT_EQ(station().mac_digits(), digits_of("00a0c914c829"));
  station().step();
  EXPECT_NE(station().run_status(), RunStatus::kNoRun);
  ASSERT_TRUE(rig_->until_run_finished());
  EXPECT_EQ(log(), std::string("Waiting connecting to Target...\r\nConnected...\r\nInput MAC Address : "
                               "00a0c914c829\r\n") + kTimedOut);
}

// New (or Open) while the operator is half-way through an address: what was typed belongs to
// the old log, and the board is asked for its address afresh.
TEST_F(StationCycle, BarcodeEntryInterruptedByNewTakesOnlyWhatIsTypedAfterIt) {
  test::RigOptions options;
  options.first_address = "AAAAAAAAAAAA";
  make(1, std::move(options));
  connect();
  rig_->type("123456");
  rig_->log.clear();  // the window empties its log on New
  station().post_start_up();
  station().run_commands();
  EXPECT_EQ(log(), "Input MAC Address : ");
  EXPECT_EQ(station().snapshot()->entry_counter, 0);
  EXPECT_EQ(station().mac_digits(), kAllF);
  rig_->type("123456\r");
  EXPECT_TRUE(station().entry_pending()) << "six characters are not an address";
  EXPECT_EQ(station().snapshot()->entry_refused, "6 digits");
  EXPECT_EQ(station().snapshot()->entry_refusals, 1);
  rig_->type("0200000000B1\r");
  EXPECT_EQ(station().snapshot()->entry_refused, "");
  EXPECT_FALSE(station().entry_pending());
  EXPECT_EQ(station().mac_digits(), digits_of("0200000000B1"));
}

TEST_F(StationCycle, StoredBarcodeModeTwoCountsAsOff) {
  make(2);
  EXPECT_EQ(station().barcode_mode(), BarcodeMode::kOff);
  connect();
  EXPECT_FALSE(station().entry_pending());
  EXPECT_EQ(log(), "Waiting connecting to Target...\r\nConnected...\r\n");
  EXPECT_EQ(station().status_text(),
            "Ethernet -> Simulated board link   MAC_Addr -> [02-00-00-0A-00-00]");
  // Off, so the Barcode command turns it on, and the store then holds the mode's own value.
  station().post_toggle_barcode();
  station().run_commands();
  EXPECT_EQ(station().barcode_mode(), BarcodeMode::kOn);
  EXPECT_EQ(stored(settings::kBarCode), 1);
}

TEST_F(StationCycle, BarcodeModeChosenForTheStationsLifeIsNotStored) {
  test::RigOptions options;
  options.barcode_override = BarcodeMode::kOff;
  make(1, std::move(options));
  EXPECT_EQ(station().barcode_mode(), BarcodeMode::kOff);
  EXPECT_EQ(stored(settings::kBarCode), 1);
  // The operator's own choice is stored, and outlasts the next start-up.
  station().post_toggle_barcode();
  station().post_start_up();
  station().run_commands();
  EXPECT_EQ(station().barcode_mode(), BarcodeMode::kOn);
  EXPECT_EQ(stored(settings::kBarCode), 1);
}

TEST_F(StationCycle, AdapterChosenForTheStationsLifeIsNotStored) {
  test::RigOptions options;
  options.start_up = false;
  make(1, std::move(options));
  rig_->store.number_write(nullptr, settings::kNetIF, 5);
  station().post_start_up();
  station().step();
  EXPECT_EQ(station().status_text(), "Ethernet -> Simulated board link");
  EXPECT_EQ(station().selected_index(), 0);
  EXPECT_EQ(stored(settings::kNetIF), 5);
}

TEST_F(StationCycle, FailedWorkerStartIsLoggedAndRetriedOnTheNextTick) {
  worker_starts_allowed_ = 0;
  make(0);
  worker_starts_allowed_ = 0;
  connect();
  station().step();
  EXPECT_EQ(station().run_status(), RunStatus::kNoRun);
  EXPECT_EQ(log(), "Waiting connecting to Target...\r\nConnected...\r\nCreateThread failed.\r\n");
  worker_starts_allowed_ = 1;
  station().step();
  ASSERT_TRUE(rig_->step_until([&] { return station().boards_done() == 1; }));
}

// A line that ends after a number of boards gives out that many runs: a board connected after
// them waits, untouched, and nothing is logged for it.
TEST_F(StationCycle, NoRunStartsWithoutOneToTake) {
  int runs_left = 1;
  test::RigOptions options;
  options.take_run = [&runs_left] { return runs_left-- > 0; };
  make(0, std::move(options));
  connect();
  station().step();
  ASSERT_TRUE(rig_->step_until([&] { return station().boards_done() == 1; }));
  const std::string after_first = log();
  answerer_->answer = true;
  ASSERT_TRUE(rig_->step_until([&] { return station().state() == StationState::kConnected; }));
  for (int i = 0; i < 20; ++i) station().step();
  EXPECT_EQ(station().run_status(), RunStatus::kNoRun);
  EXPECT_EQ(station().boards_done(), 1);
  EXPECT_EQ(log(), after_first + "Waiting connecting to Target...\r\nConnected...\r\n");
}

// A station told to stop (its window closed) takes no board that answers: the run would end at
// its first wait, with a board's address spent. Until then, the same board is taken.
TEST_F(StationCycle, AStationToldToStopTakesNoBoard) {
  for (bool stopping : {true, false}) {
    make(0);
    connect();
    if (stopping) {
      station().request_stop();
      for (int i = 0; i < 20; ++i) station().step();
      EXPECT_EQ(station().run_status(), RunStatus::kNoRun);
      EXPECT_EQ(station().boards_done(), 0);
    } else {
      station().step();
      EXPECT_NE(station().run_status(), RunStatus::kNoRun);
      EXPECT_TRUE(rig_->step_until([&] { return station().boards_done() == 1; }));
    }
    rig_.reset();
  }
}

// A run holds the link while it lasts: the Interface dialog's OK waits for no one and changes
// nothing then.
TEST_F(StationCycle, InterfaceChangeIsRefusedWhileARunIsInProgress) {
  make(0);
  // A board that answers probes, then holds the run inside its first exchange until released.
  std::mutex mutex;
  std::condition_variable changed;
  bool held = false, release = false;
  rig_->set_peer([&, a = answerer_](const std::uint8_t* f, std::size_t n) {
    if (link::ether_type(f) == link::kEtherProbe) return (*a)(f, n);
    std::unique_lock lock(mutex);
    held = true;
    changed.notify_all();
    changed.wait(lock, [&] { return release; });
  });
  connect();
  station().step();
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return held; }));
  }
  ASSERT_EQ(station().run_status(), RunStatus::kRunning);
  station().post_apply_interface(0, digits_of("0A0B0C0D0E0F"));
  station().run_commands();
  EXPECT_NE(log().find("Network Interface not changed: a board is being programmed\r\n"), std::string::npos);
  // The board's own reservation moved the next address on; the dialog's was not stored.
  EXPECT_EQ(rig_->stored_address(), "0200000A0001");
  {
    std::lock_guard lock(mutex);
    release = true;
  }
  changed.notify_all();
  ASSERT_TRUE(rig_->step_until([&] { return station().boards_done() == 1; })) << log();
  EXPECT_NE(station().mac_digits(), digits_of("0A0B0C0D0E0F"));
}

TEST_F(StationCycle, StartUpRestoresStoredSettingsAndRepairsMissingOnes) {
  test::RigOptions options;
  options.barcode = -1;
  options.first_address = "ABCDEF012345";
  options.examples = false;
  test::StationRig rig(std::move(options));
  EXPECT_EQ(rig.log_text(), "");
  EXPECT_EQ(rig.station->mac_digits(), digits_of("ABCDEF012345"));
  EXPECT_EQ(rig.station->barcode_mode(), BarcodeMode::kOn);
  std::int32_t value = -7;
  EXPECT_EQ(rig.store.number_read(nullptr, settings::kBarCode, value), 0);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(rig.store.number_read(nullptr, settings::kNetIF, value), 0);
  EXPECT_EQ(value, 0);
  EXPECT_TRUE(rig.station->snapshot()->adapter_open);
}

// The adapter goes away while the station searches and comes back: the log says each once,
// without blaming the board, and the station finds the next board without a restart.
TEST_F(StationCycle, AnAdapterThatGoesAwayIsReopenedWhenItIsBack) {
  make(0);
  station().step();
  station().step();
  rig_->backend().set_present(false);
  for (int i = 0; i < 30; ++i) station().step();
  EXPECT_EQ(log(), "Waiting connecting to Target...\r\nNetwork Interface sim0 is gone\r\n");
  EXPECT_FALSE(station().snapshot()->adapter_open);
  EXPECT_EQ(station().snapshot()->adapter_problem, "sim0 is gone");
  rig_->backend().set_present(true);
  answerer_->answer = true;
  ASSERT_TRUE(rig_->step_until([&] { return station().state() == StationState::kConnected; }));
  EXPECT_EQ(log(), "Waiting connecting to Target...\r\nNetwork Interface sim0 is gone\r\n"
                   "Network Interface sim0 is back\r\nConnected...\r\n");
  EXPECT_TRUE(station().snapshot()->adapter_open);
}

// A removed adapter need not fail: its handle may hear nothing from then on while its sends are
// refused or go nowhere, and it may be made again under its name before anything failed. The
// station asks about once a second while it searches (at once when a probe is refused), says
// once that the adapter is gone, reopens it when it is there, and connects the next board.
TEST_F(StationCycle, AnAdapterRemovedQuietlyBetweenBoardsIsNoticedAndReopened) {
  struct Case {
    const char* name;
    bool sends_refused;
    bool made_again_at_once;
  };
  const Case cases[] = {{"sends go nowhere", false, false},
                        {"sends refused", true, false},
                        {"made again at once, sends go nowhere", false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    make(0);
    station().step();
    station().step();
    rig_->backend().vanish_quietly(c.sends_refused);
    if (c.made_again_at_once) rig_->backend().set_present(true);
    station().step();
    EXPECT_EQ(log().find("is gone") != std::string::npos, c.sends_refused) << log();
    for (int i = 0; i < 30; ++i) station().step();
    const std::string gone = "Waiting connecting to Target...\r\nNetwork Interface sim0 is gone\r\n";
    const std::string back = "Network Interface sim0 is back\r\n";
    EXPECT_EQ(log(), c.made_again_at_once ? gone + back : gone);
    rig_->backend().set_present(true);
    answerer_->answer = true;
    for (int i = 0; i < 30 && station().state() != StationState::kConnected; ++i) station().step();
    EXPECT_EQ(log(), gone + back + "Connected...\r\n");
    EXPECT_TRUE(station().snapshot()->adapter_open);
    EXPECT_EQ(station().snapshot()->adapter_problem, "");
  }
}

}  // namespace
}  // namespace skav::station
