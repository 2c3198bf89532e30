// The station's PC loses power at random moments (SIGKILL) while it programs boards over the real
// link: after every restart the settings read, the stored next address lies beyond every address
// already written into a board, no address was given twice, and the records hold whole lines.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <thread>

#include "sim/board_line.h"
#include "core/settings/file_settings_store.h"
#include "support/rig.h"
#include "backends/pcap/pcap_backend.h"
#include "support/netns.h"
#include "support/run_program.h"

namespace skav {
namespace {

using namespace std::chrono_literals;

std::uint64_t address_value(const std::string& text) {
  std::string digits;
  for (char c : text)
    if (c != ':') digits += c;
  return std::strtoull(digits.c_str(), nullptr, 16);
}

class CrashSafety : public ::testing::Test {
 protected:
  CrashSafety() {
    dir_.copy_from(std::filesystem::path(SKAV_SOURCE_DIR) / "examples");
  }

  std::vector<std::string> station_command(bool first) const {
    std::vector<std::string> argv = {SKAV_BINARY, "run", "--interface", "skav0", "--no-barcode",
                                     "--settings", (dir_ / "settings.reg").string(),
                                     "--timeout", "2", "-C", dir_.path().string()};
    // Only the first start sets the first address; a restart continues from the stored one.
    if (first) argv.insert(argv.end(), {"--mac", "0200000B0000"});
    return argv;
  }

  // The addresses in the boards' environments so far, one entry per board.
  static std::vector<std::string> written_addresses(const sim::BoardLine& line) {
    std::set<const sim::SimBoard*> boards;
    if (const sim::SimBoard* current = line.current()) boards.insert(current);
    int finished = line.finished_count();
    for (int i = 0; i < finished; ++i)
      if (const sim::SimBoard* board = line.finished_board(i)) boards.insert(board);
    std::vector<std::string> addresses;
    for (const sim::SimBoard* board : boards) {
      std::string address = test::ethaddr_of(*board);
      if (!address.empty()) addresses.push_back(address);
    }
    return addresses;
  }

  // Waits at most `limit` until the board on the cable has taken `header` Command Headers.
  static void wait_for_header(const sim::BoardLine& line, int header,
                              std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      const sim::SimBoard* board = line.current();
      if (board != nullptr &&
          board->wait_until([&](const sim::SimBoard& b) { return b.stats().headers >= header; },
                            20ms))
        return;
    }
  }

  // Waits, at most `limit`, until the station's start-up has stored its first address.
  void wait_for_stored_address(std::chrono::milliseconds limit) {
    settings::FileSettingsStore store(dir_ / "settings.reg");
    auto deadline = std::chrono::steady_clock::now() + limit;
    MacDigits::Digits stored{};
    while (store.machwid_read(nullptr, stored) != settings::kOk &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(10ms);
  }

  // Everything that must hold whenever the station is down.
  void check_after_kill(const sim::BoardLine& line, int kill) {
    SCOPED_TRACE("after kill " + std::to_string(kill));
    settings::FileSettingsStore store(dir_ / "settings.reg");
    MacDigits::Digits stored{};
    ASSERT_EQ(store.machwid_read(nullptr, stored), settings::kOk);
    ASSERT_TRUE(MacDigits::all_hex(stored)) << std::string(stored.data(), stored.size());
    std::uint64_t next = address_value(std::string(stored.data(), stored.size()));

    std::vector<std::string> addresses = written_addresses(line);
    std::set<std::string> distinct(addresses.begin(), addresses.end());
    EXPECT_EQ(distinct.size(), addresses.size()) << "an address was given to two boards";
    for (const std::string& address : addresses) EXPECT_LT(address_value(address), next) << address;
    max_boards_ = std::max(max_boards_, static_cast<int>(addresses.size()));

    std::string records = test::read_file(dir_ / station::kRecordsFile);
    if (records.empty()) return;
    EXPECT_EQ(records.back(), '\n') << "a record was cut short";
    std::vector<std::string> lines = test::split_lines(records);
    EXPECT_EQ(lines[0] + "\n", station::records_header());
    for (const std::string& record : lines)
      EXPECT_EQ(std::count(record.begin(), record.end(), ','),
                static_cast<std::ptrdiff_t>(station::kRecordColumnCount) - 1)
          << record;
    records_ = static_cast<int>(lines.size()) - 1;
  }

  test::TempDir dir_;
  int max_boards_ = 0;
  int records_ = 0;
};

TEST_F(CrashSafety, KilledAtRandomMomentsTheStationNeverGivesAnAddressTwice) {
  SKAV_REQUIRE_VETH_NAMESPACE();
  pcap::PcapBackend backend;
  link::OpenResult board_end = backend.open_for_board("skav1");
  ASSERT_TRUE(board_end.device) << board_end.error;
  sim::BoardOptions options;
  options.mac = {0x02, 0x00, 0x00, 0x00, 0x01, 0x00};
  // A board left mid-exchange by a dead station soon waits for a fresh one.
  options.stall_reset = 300ms;
  // Slow memories keep each exchange open long enough for kills to land inside it.
  options.status_delay = 15ms;
  sim::BoardLine line(*board_end.device, options);
  line.start();

  std::mt19937 random(4242);
  const std::filesystem::path output = dir_ / "station.log";
  constexpr int kKills = 30;
  int cut_short = 0;
  for (int kill = 0; kill < kKills; ++kill) {
    test::BackgroundProgram station(station_command(kill == 0), output.string());
    ASSERT_TRUE(station.started());
    // The first station stores the starting address (--mac) as it starts; on a busy machine
    // that can take longer than the shortest pause below.
    if (kill == 0) wait_for_stored_address(10s);
    if (kill % 3 == 0) {
      // Any moment: start-up, searching, a run, the record.
      std::this_thread::sleep_for(std::chrono::milliseconds(100 + random() % 1400));
    } else {
      // Inside a run: once the board has taken Command Header k (1-9: the environment, the
      // sections, the diagnostic image), give or take a few milliseconds.
      int header = 1 + static_cast<int>(random() % 9);
      wait_for_header(line, header, 5s);
      std::this_thread::sleep_for(std::chrono::milliseconds(random() % 15));
    }
    if (station.kill_now()) ++cut_short;
    check_after_kill(line, kill);
    if (HasFatalFailure()) break;
  }
  // The station got work done between the kills, and was killed while it was working.
  EXPECT_EQ(cut_short, kKills) << test::read_file(output);
  EXPECT_GT(max_boards_, 3);
  // Some kills cut a run short after its board had its address: no record for those.
  int cut_mid_run = static_cast<int>(written_addresses(line).size()) - records_;
  EXPECT_GT(cut_mid_run, 0);

  // After all that, the station still programs boards with the next addresses.
  std::vector<std::string> before = written_addresses(line);
  int finished_before = line.finished_count();
  std::vector<std::string> argv = station_command(false);
  argv.insert(argv.end(), {"--boards", "2"});
  test::ProgramResult result = test::run_program(argv, 120s);
  EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
  EXPECT_GE(line.finished_count(), finished_before + 1);
  check_after_kill(line, kKills);
  std::vector<std::string> after = written_addresses(line);
  EXPECT_GE(after.size(), before.size() + 1);
  std::printf("crash safety: %d kills (%d inside a run after the address was written), "
              "%zu boards given an address, %d records, no address twice\n",
              kKills, cut_mid_run, after.size(), records_);
  line.stop();
}

}  // namespace
}  // namespace skav
