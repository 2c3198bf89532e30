#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "core/link/in_memory.h"
#include "core/settings/file_settings_store.h"
#include "core/station/station.h"
#include "support/temp_dir.h"

namespace skav::station {
namespace {

using namespace std::chrono_literals;

constexpr link::Mac kBoardMac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x2a};

// A station over the in-process link whose board side the test scripts by hand. The working
// directory has no config.ini, so a run has nothing to send and ends at once.
class StationCycle : public ::testing::Test {
 protected:
  StationCycle()
      : backend_(wire_), store_(dir_ / "settings.reg") {}

  void make_station(int barcode) {
    store_.number_write(nullptr, settings::kBarCode, barcode);
    StationOptions options;
    options.dir = dir_.path();
    options.transfer_timeout = 2s;
    options.allow_worker_start = [this] { return worker_starts_allowed_-- > 0; };
    station_ = std::make_unique<Station>(backend_, store_, log_, nullptr, options);
    station_->start_up();
    log_.clear();
  }

  void board_replies() {
    std::uint8_t reply[60] = {};
    std::memset(reply, 0xff, 6);
    std::memcpy(reply + 6, kBoardMac.data(), 6);
    reply[12] = 0x80;
    reply[13] = 0x22;
    wire_.board_end().send(reply, sizeof reply);
  }

  int probes_sent() {
    int probes = 0;
    const std::uint8_t* frame = nullptr;
    while (wire_.board_end().receive(&frame, 0ms) > 0)
      if (link::ether_type(frame) == link::kEtherProbe) ++probes;
    return probes;
  }

  void wait_run_finished() {
    for (int i = 0; i < 500 && station_->run_status() != kRunFinished; ++i)
      std::this_thread::sleep_for(10ms);
    ASSERT_EQ(station_->run_status(), kRunFinished);
  }

  test::TempDir dir_;
  link::InMemoryWire wire_;
  link::InMemoryBackend backend_;
  settings::FileSettingsStore store_;
  StringLog log_;
  int worker_starts_allowed_ = 1000;
  std::unique_ptr<Station> station_;
};

TEST_F(StationCycle, FirstTickAnnouncesTheSearchWithoutAProbeAndTheSecondProbes) {
  make_station(0);
  station_->tick();
  EXPECT_EQ(log_.text(), "Waiting connecting to Target...\r\n");
  EXPECT_EQ(probes_sent(), 0);
  station_->tick();
  EXPECT_EQ(probes_sent(), 1);
  EXPECT_EQ(station_->state(), StationState::kSearching);
  EXPECT_EQ(log_.text(), "Waiting connecting to Target...\r\n");
}

TEST_F(StationCycle, StatusTextShowsTheAdapterAndInBarcodeModeOffTheMacDigits) {
  make_station(1);
  EXPECT_EQ(station_->status_text(), "Ethernet -> Simulated board link");
  station_->toggle_barcode();
  EXPECT_EQ(station_->status_text(),
            "Ethernet -> Simulated board link   MAC_Addr -> [00-11-22-33-44-55]");
  std::int32_t stored = -5;
  ASSERT_EQ(store_.number_read(nullptr, settings::kBarCode, stored), 0);
  EXPECT_EQ(stored, 0);
}

TEST_F(StationCycle, AdapterIndexWithoutEntryGivesAnEmptyAdapterText) {
  store_.number_write(nullptr, settings::kNetIF, 7);
  make_station(1);
  EXPECT_EQ(station_->status_text(), "Ethernet -> ");
}

TEST_F(StationCycle, FoundTargetStartsTheRunOnTheNextTickAndReturnsToIdleTwoTicksAfter) {
  make_station(0);
  station_->tick();  // Idle -> Searching
  board_replies();
  station_->tick();  // probe answered
  EXPECT_EQ(station_->state(), StationState::kConnected);
  EXPECT_EQ(station_->run_status(), kNoRun);
  station_->tick();  // run starts
  wait_run_finished();
  EXPECT_EQ(log_.text(), "Waiting connecting to Target...\r\nConnected...\r\nSuccess !!\r\n");
  station_->tick();  // sees Run Status 2
  EXPECT_EQ(station_->state(), StationState::kIdle);
  EXPECT_EQ(station_->run_status(), kNoRun);
  EXPECT_EQ(station_->boards_done(), 1);
  station_->tick();
  EXPECT_EQ(log_.text(),
            "Waiting connecting to Target...\r\nConnected...\r\nSuccess !!\r\n"
            "Waiting connecting to Target...\r\n");
  EXPECT_TRUE(std::filesystem::exists(dir_ / kRecordsFile));
}

TEST_F(StationCycle, BarcodeModeAsksForTheAddressAndWaitsForTheEntry) {
  make_station(1);
  station_->tick();
  board_replies();
  station_->tick();
  EXPECT_EQ(log_.text(),
            "Waiting connecting to Target...\r\nConnected...\r\nInput MAC Address : ");
  EXPECT_EQ(station_->mac_digits(), (MacDigits::Digits{'F', 'F', 'F', 'F', 'F', 'F', 'F', 'F',
                                                        'F', 'F', 'F', 'F'}));
  station_->tick();
  EXPECT_EQ(station_->run_status(), kNoRun);
  for (char c : std::string("00a0c914c829")) station_->key_char(c);
  station_->tick();
  EXPECT_EQ(station_->run_status(), kNoRun) << "no run before Enter";
  station_->key_char(13);
  EXPECT_EQ(station_->mac_digits(), (MacDigits::Digits{'0', '0', 'a', '0', 'c', '9', '1', '4',
                                                        'c', '8', '2', '9'}));
  station_->tick();
  EXPECT_NE(station_->run_status(), kNoRun);
  wait_run_finished();
  EXPECT_EQ(log_.text(),
            "Waiting connecting to Target...\r\nConnected...\r\nInput MAC Address : "
            "00a0c914c829\r\nSuccess !!\r\n");
}

TEST_F(StationCycle, StoredBarcodeModeTwoCountsAsOff) {
  make_station(2);
  EXPECT_EQ(station_->barcode_mode(), 2);
  EXPECT_EQ(station_->status_text(),
            "Ethernet -> Simulated board link   MAC_Addr -> [00-11-22-33-44-55]");
  station_->tick();
  board_replies();
  station_->tick();
  EXPECT_FALSE(station_->entry_pending());
  EXPECT_EQ(log_.text(), "Waiting connecting to Target...\r\nConnected...\r\n");
  station_->toggle_barcode();
  EXPECT_EQ(station_->barcode_mode(), 0);
}

TEST_F(StationCycle, FailedWorkerStartIsLoggedAndRetriedOnTheNextTick) {
  worker_starts_allowed_ = 0;
  make_station(0);
  station_->tick();
  board_replies();
  station_->tick();
  station_->tick();
  EXPECT_EQ(station_->run_status(), kNoRun);
  EXPECT_EQ(log_.text(),
            "Waiting connecting to Target...\r\nConnected...\r\nCreateThread failed.\r\n");
  worker_starts_allowed_ = 1;
  station_->tick();
  wait_run_finished();
  EXPECT_EQ(station_->state(), StationState::kConnected);
}

TEST_F(StationCycle, InterfaceChangeIsRefusedWhileARunIsInProgress) {
  make_station(0);
  worker_starts_allowed_ = 1000;
  // Hold a run open: a board that answers but never acknowledges anything.
  dir_.write("config.ini", "[uboot_cfg]\nFilename=none\nMem_type=spi\n");
  station_->tick();
  board_replies();
  station_->tick();
  station_->tick();
  ASSERT_EQ(station_->run_status(), kRunning);
  EXPECT_FALSE(station_->apply_interface(0, MacDigits::kDefault));
  station_->stop();  // ends the run at its next wait
  EXPECT_EQ(station_->run_status(), kRunFinished);
  EXPECT_NE(log_.text().find("Find the UBOOT CONFIG file.....Fail\r\nStopped by the operator\r\n"),
            std::string::npos)
      << log_.text();
}

TEST_F(StationCycle, StartUpRestoresStoredSettingsAndRepairsMissingOnes) {
  MacDigits::Digits stored{'A', 'B', 'C', 'D', 'E', 'F', '0', '1', '2', '3', '4', '5'};
  store_.machwid_write(nullptr, stored);
  StationOptions options;
  options.dir = dir_.path();
  Station station(backend_, store_, log_, nullptr, options);
  station.start_up();
  EXPECT_EQ(log_.text(), "");
  EXPECT_EQ(station.mac_digits(), stored);
  EXPECT_EQ(station.barcode_mode(), 1);
  std::int32_t value = -7;
  EXPECT_EQ(store_.number_read(nullptr, settings::kBarCode, value), 0);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(store_.number_read(nullptr, settings::kNetIF, value), 0);
  EXPECT_EQ(value, 0);
  EXPECT_TRUE(station.link().is_open());
}

TEST_F(StationCycle, AdapterThatCannotBeOpenedIsReportedAtStartUp) {
  store_.number_write(nullptr, settings::kNetIF, 3);
  StationOptions options;
  options.dir = dir_.path();
  Station station(backend_, store_, log_, nullptr, options);
  station.start_up();
  EXPECT_EQ(log_.text(),
            "Interface number out of range.inum:04,iIfNum:01\r\nOpen Network Interface Fail\r\n");
}

}  // namespace
}  // namespace skav::station
