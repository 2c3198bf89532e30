// A board that failed and is run again over the real link keeps its address: `skav run` twice
// over a veth pair, the pool's next address unmoved between them.

#include <gtest/gtest.h>

#include "backends/pcap/pcap_backend.h"
#include "core/settings/file_settings_store.h"
#include "core/station/records.h"
#include "sim/board_line.h"
#include "support/netns.h"
#include "support/rig.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace skav {
namespace {

using namespace std::chrono_literals;

class RetestStation : public ::testing::Test {
 protected:
  RetestStation() { dir_.copy_from(std::filesystem::path(SKAV_SOURCE_DIR) / "examples"); }
  // One board through `skav run`, served by a board line of one on the far end.
  test::ProgramResult run_one(const sim::BoardOptions& board, std::vector<std::string> extra) {
    pcap::PcapBackend backend;
    link::OpenResult board_end = backend.open_for_board("skav1");
    EXPECT_TRUE(board_end.device) << board_end.error;
    if (!board_end.device) return {};
    sim::BoardLine line(*board_end.device, board, 1);
    line.start();
    std::vector<std::string> args = {SKAV_BINARY, "run", "--interface", "skav0", "--boards", "1",
                                     "--no-barcode", "--settings", (dir_ / "settings.reg").string(),
                                     "--timeout", "5", "-C", dir_.path().string()};
    args.insert(args.end(), extra.begin(), extra.end());
    test::ProgramResult result = test::run_program(args, 60s);
    line.stop();
    return result;
  }
  std::string stored_next() {
    MacDigits::Digits next{};
    settings::FileSettingsStore store(dir_ / "settings.reg");
    return store.machwid_read(nullptr, next) == settings::kOk ? MacDigits::text(next) : "?";
  }
  test::TempDir dir_;
};

TEST_F(RetestStation, AFailedBoardRunAgainGetsTheSameAddressAsAttemptTwoAndTheNextStays) {
  SKAV_REQUIRE_VETH_NAMESPACE();
  sim::BoardOptions failing;
  failing.faults.corrupt_read = 1;  // the environment's read-back differs
  test::ProgramResult first = run_one(failing, {"--mac", "0200000A0000"});
  EXPECT_NE(first.out.find("MAC Addr : 0200000A0000 Test...Fail\r\n"), std::string::npos) << first.out << first.err;
  ASSERT_EQ(stored_next(), "0200000A0001");

  // The same board again, answering with the address it was given.
  sim::BoardOptions again;
  again.mac = {0x02, 0x00, 0x00, 0x0A, 0x00, 0x00};
  test::ProgramResult second = run_one(again, {});
  ASSERT_EQ(second.exit_code, 0) << second.out << second.err;
  EXPECT_NE(second.out.find("MAC Addr : 0200000A0000 re-test, attempt 2\r\n"), std::string::npos) << second.out;
  EXPECT_NE(second.out.find("MAC Addr : 0200000A0000 Test...Pass\r\n"), std::string::npos) << second.out;
  EXPECT_EQ(stored_next(), "0200000A0001") << "the pool's next address did not move";

  std::vector<std::vector<std::string>> rows = station::parse_csv(test::read_file(dir_ / station::kRecordsFile));
  ASSERT_EQ(rows.size(), 3u);
  for (std::size_t i = 1; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i][3], "02:00:00:0A:00:00") << i;
    EXPECT_EQ(rows[i][station::kFirstRecordColumns], std::to_string(i)) << "the attempt";
  }
}

}  // namespace
}  // namespace skav
