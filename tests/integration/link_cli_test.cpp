#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_board.h"
#include "backends/pcap/pcap_backend.h"
#include "support/netns.h"
#include "support/run_program.h"

namespace skav {
namespace {

using std::chrono::seconds;
using test::run_program;

constexpr const char* kPrivilegeHint =
    "Raw Ethernet access needs root or the capabilities cap_net_raw (and cap_net_admin for "
    "promiscuous mode), e.g. sudo setcap cap_net_raw,cap_net_admin=eip $(command -v skav)\r\n";

// A simulated board answering on skav1 for as long as the object lives.
class BoardOnSkav1 {
 public:
  explicit BoardOnSkav1(const link::Mac& mac) {
    opened_ = backend_.open_for_board("skav1");
    if (!opened_.device) return;
    sim::BoardOptions options;
    options.mac = mac;
    board_ = std::make_unique<sim::SimBoard>(*opened_.device, options);
    thread_ = std::thread([this] { board_->run(stop_); });
  }
  ~BoardOnSkav1() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  const std::string& error() const { return opened_.error; }
  bool ok() const { return board_ != nullptr; }

 private:
  pcap::PcapBackend backend_;
  link::OpenResult opened_;
  std::unique_ptr<sim::SimBoard> board_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(SkavAdapters, ListsTheAdaptersNumberedFromOne) {
  SKAV_REQUIRE_VETH_NAMESPACE();
  test::ProgramResult result = run_program({SKAV_BINARY, "adapters"}, seconds(30));
  ASSERT_FALSE(result.timed_out);
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.err, "");
  std::istringstream lines(result.out);
  std::string line;
  int expected_number = 1;
  bool station_end = false;
  bool board_end = false;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    int number = 0;
    std::string name;
    std::string text;
    fields >> number >> name;
    std::getline(fields >> std::ws, text);
    EXPECT_EQ(number, expected_number++) << line;
    EXPECT_FALSE(text.empty()) << line;
    if (name == "skav0") station_end = true;
    if (name == "skav1") board_end = true;
  }
  EXPECT_TRUE(station_end) << result.out;
  EXPECT_TRUE(board_end) << result.out;
}

TEST(SkavDiscover, PrintsTheMacAddressOfTheBoardThatAnswers) {
  SKAV_REQUIRE_VETH_NAMESPACE();
  BoardOnSkav1 board({0x02, 0x00, 0x00, 0x00, 0x00, 0x07});
  ASSERT_TRUE(board.ok()) << board.error();
  test::ProgramResult result =
      run_program({SKAV_BINARY, "discover", "--interface", "skav0"}, seconds(30));
  ASSERT_FALSE(result.timed_out);
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out, "02:00:00:00:00:07\n");
  EXPECT_EQ(result.err, "");
}

TEST(SkavDiscover, GivesUpAfterTheTimeOutWhenNoBoardAnswers) {
  SKAV_REQUIRE_VETH_NAMESPACE();
  test::ProgramResult result =
      run_program({SKAV_BINARY, "discover", "--interface", "skav0", "--timeout", "0.5"},
                  seconds(30));
  ASSERT_FALSE(result.timed_out);
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "No board answered on skav0 within 0.5 s\r\n");
}

TEST(SkavDiscover, RejectsAnUnknownInterface) {
  SKAV_REQUIRE_VETH_NAMESPACE();
  test::ProgramResult result =
      run_program({SKAV_BINARY, "discover", "--interface", "skav9", "--timeout", "1"},
                  seconds(30));
  ASSERT_FALSE(result.timed_out);
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "No adapter named skav9 (skav adapters lists them)\r\n");
}

// Runs skav as "nobody" without capabilities; empty when that is not possible here.
std::vector<std::string> unprivileged(std::vector<std::string> arguments) {
  const char* setpriv = "/usr/bin/setpriv";
  if (access(setpriv, X_OK) != 0) return {};
  std::vector<std::string> argv = {setpriv,         "--reuid=65534", "--regid=65534",
                                   "--clear-groups", "--inh-caps=-all", SKAV_BINARY};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return argv;
}

bool unreachable_for_nobody(const test::ProgramResult& result) {
  return result.exit_code == 126 || result.exit_code == 127;
}

TEST(SkavAdapters, ListsWithoutPrivileges) {
  SKAV_REQUIRE_VETH_NAMESPACE();
  std::vector<std::string> argv = unprivileged({"adapters"});
  if (argv.empty()) GTEST_SKIP() << "needs /usr/bin/setpriv to drop privileges";
  test::ProgramResult result = run_program(argv, seconds(30));
  ASSERT_FALSE(result.timed_out);
  if (unreachable_for_nobody(result)) GTEST_SKIP() << "skav not executable by nobody: " << result.err;
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_NE(result.out.find(" skav0 "), std::string::npos) << result.out;
}

TEST(SkavDiscover, WithoutPrivilegesExplainsWhyTheAdapterCannotBeOpened) {
  SKAV_REQUIRE_VETH_NAMESPACE();
  std::vector<std::string> argv =
      unprivileged({"discover", "--interface", "skav0", "--timeout", "1"});
  if (argv.empty()) GTEST_SKIP() << "needs /usr/bin/setpriv to drop privileges";
  test::ProgramResult result = run_program(argv, seconds(30));
  ASSERT_FALSE(result.timed_out);
  if (unreachable_for_nobody(result)) GTEST_SKIP() << "skav not executable by nobody: " << result.err;
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.out, "");
  const std::string first = "Unable to open the adapter. skav0 is not supported by WinPcap\r\n";
  ASSERT_EQ(result.err.compare(0, first.size(), first), 0) << result.err;
  std::string rest = result.err.substr(first.size());
  ASSERT_EQ(rest.rfind("Reason: ", 0), 0u) << result.err;
  std::size_t reason_end = rest.find("\r\n");
  ASSERT_NE(reason_end, std::string::npos);
  EXPECT_GT(reason_end, std::string("Reason: ").size()) << "the reason must not be empty";
  EXPECT_EQ(rest.substr(reason_end + 2), kPrivilegeHint);
}

}  // namespace
}  // namespace skav
