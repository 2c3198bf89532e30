// One station with two ports over two veth pairs, `skav board` at the far end of each: both
// boards programmed at once, and each port's log file what a station of that port alone logs.

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

#include "bench/netns.h"
#include "support/netns.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace skav {
namespace {

using namespace std::chrono_literals;
using test::read_file;

std::string written_address(const std::string& log) {
  std::smatch match;
  if (!std::regex_search(log, match, std::regex("MAC Addr : ([0-9A-F]{12}) Test"))) return {};
  return match[1];
}

// A port that finished its board first searches for its next one while the other port still
// works: its log ends with the search's announcement, which a station that stopped after its one
// board never logs.
std::string without_next_search(std::string log) {
  const std::string search = "Waiting connecting to Target...\r\n";
  if (log.ends_with(search)) log.erase(log.size() - search.size());
  return log;
}

class TwoPorts : public ::testing::Test {
 protected:
  TwoPorts() { dir_.copy_from(std::filesystem::path(SKAV_SOURCE_DIR) / "examples"); }
  // A simulated board for one board on `interface`, in the background.
  std::unique_ptr<test::BackgroundProgram> board(const std::string& interface, const std::string& mac) {
    return std::make_unique<test::BackgroundProgram>(
        std::vector<std::string>{SKAV_BINARY, "board", "--interface", interface, "--mac", mac,
                                 "--boards", "1"},
        (dir_ / ("board-" + interface + ".txt")).string());
  }
  test::ProgramResult station(const std::vector<std::string>& interfaces, const std::string& mac,
                              const std::string& settings, int boards) {
    std::vector<std::string> argv = {SKAV_BINARY, "run"};
    for (const std::string& interface : interfaces) {
      argv.push_back("--interface");
      argv.push_back(interface);
    }
    std::vector<std::string> rest = {"--boards", std::to_string(boards), "--no-barcode", "--mac", mac,
                                     "--settings", (dir_ / settings).string(), "--timeout", "10",
                                     "-C", dir_.path().string()};
    argv.insert(argv.end(), rest.begin(), rest.end());
    return test::run_program(argv, 120s);
  }
  test::TempDir dir_;
};

TEST_F(TwoPorts, BothBoardsProgrammedAndEachPortsLogIsWhatOnePortLogs) {
  SKAV_REQUIRE_VETH_NAMESPACE();
  std::string added = bench::add_veth_pair("skav2", "skav3");
  ASSERT_EQ(added, "");

  auto first = board("skav1", "02:00:00:00:01:01");
  auto second = board("skav3", "02:00:00:00:02:01");
  test::ProgramResult both = station({"skav0", "skav2"}, "0200000B0000", "two.reg", 2);
  ASSERT_EQ(both.exit_code, 0) << both.out << both.err;
  EXPECT_EQ(first->wait(20s), 0) << read_file(dir_ / "board-skav1.txt");
  EXPECT_EQ(second->wait(20s), 0) << read_file(dir_ / "board-skav3.txt");

  std::string log0 = read_file(dir_ / "skav0.log");
  std::string log2 = read_file(dir_ / "skav2.log");
  std::string address0 = written_address(log0), address2 = written_address(log2);
  std::set<std::string> addresses = {address0, address2};
  EXPECT_EQ(addresses, (std::set<std::string>{"0200000B0000", "0200000B0001"})) << log0 << log2;
  EXPECT_NE(both.out.find("skav0: MAC Addr : " + address0 + " Test...Pass\r\n"), std::string::npos);
  EXPECT_NE(both.out.find("skav2: MAC Addr : " + address2 + " Test...Pass\r\n"), std::string::npos);
  std::string records = read_file(dir_ / "skav-records.csv");
  EXPECT_NE(records.find(",skav0,02:00:00:00:01:01,"), std::string::npos) << records;
  EXPECT_NE(records.find(",skav2,02:00:00:00:02:01,"), std::string::npos) << records;

  // The same boards, each alone through a station of its port alone, with the address its
  // port gave: standard output of the one-port station, byte for byte. Each has an address
  // ledger of its own, as on another PC: this PC's would rightly move past the address.
  struct Alone {
    std::string station_end, board_end, board_mac, address, log;
  } alone[] = {{"skav0", "skav1", "02:00:00:00:01:01", address0, log0},
               {"skav2", "skav3", "02:00:00:00:02:01", address2, log2}};
  for (const Alone& a : alone) {
    auto peer = board(a.board_end, a.board_mac);
    ::setenv("SKAV_LEDGER", (dir_ / (a.station_end + ".ledger")).c_str(), 1);
    test::ProgramResult one = station({a.station_end}, a.address, a.station_end + ".reg", 1);
    ASSERT_EQ(one.exit_code, 0) << one.err;
    EXPECT_EQ(peer->wait(20s), 0);
    EXPECT_EQ(one.out, without_next_search(a.log)) << a.station_end;
  }
}

}  // namespace
}  // namespace skav
