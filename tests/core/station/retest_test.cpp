// A board that failed and is plugged in again keeps its address: the station's run, stepped on
// the test's clock with simulated boards.

#include <gtest/gtest.h>

#include <string>

#include "support/rig.h"

namespace skav::station {
namespace {

// The board as the station left it: answering with the address it was given.
sim::BoardOptions answering_with(const link::Mac& mac) {
  sim::BoardOptions options;
  options.mac = mac;
  return options;
}

constexpr link::Mac kFirstWritten{0x02, 0x00, 0x00, 0x0A, 0x00, 0x00};  // the rig's first address

TEST(Retest, AFailedBoardPluggedAgainGetsItsAddressAgainAsItsSecondAttempt) {
  test::StationRig rig;
  sim::BoardOptions failing;
  failing.faults.corrupt_read = 1;  // the environment's read-back differs
  rig.plug(failing);
  ASSERT_TRUE(rig.until_boards_done(1)) << rig.log_text();
  ASSERT_EQ(rig.stored_address(), "0200000A0001");

  sim::SimBoard* again = rig.plug(answering_with(kFirstWritten));
  ASSERT_TRUE(rig.until_boards_done(2)) << rig.log_text();
  EXPECT_EQ(test::ethaddr_of(*again), test::written_address(0));
  EXPECT_EQ(rig.stored_address(), "0200000A0001") << "the next address did not move";
  EXPECT_NE(rig.log_text().find("MAC Addr : 0200000A0000 re-test, attempt 2\r\n"), std::string::npos)
      << rig.log_text();

  // A board with any other address is a new one.
  sim::SimBoard* other = rig.plug(sim::BoardOptions{});
  ASSERT_TRUE(rig.until_boards_done(3)) << rig.log_text();
  EXPECT_EQ(test::ethaddr_of(*other), test::written_address(1));
  EXPECT_EQ(rig.stored_address(), "0200000A0002");

  std::vector<BoardRecord> records = rig.events.records();
  ASSERT_EQ(records.size(), 3u);
  struct Expected {
    const char* written;
    Verdict overall;
    int attempt;
  };
  const Expected expected[] = {{"02:00:00:0A:00:00", Verdict::kFail, 1},
                               {"02:00:00:0A:00:00", Verdict::kPass, 2},
                               {"02:00:00:0A:00:01", Verdict::kPass, 1}};
  for (std::size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(records[i].written_mac, expected[i].written) << i;
    EXPECT_EQ(records[i].overall, expected[i].overall) << i;
    EXPECT_EQ(records[i].attempt, expected[i].attempt) << i;
  }
  // The records file says the same, in its attempt column.
  std::vector<std::vector<std::string>> rows = parse_csv(test::read_file(rig.dir / kRecordsFile));
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0][kFirstRecordColumns], "attempt");
  EXPECT_EQ(rows[2][kFirstRecordColumns], "2");
}

TEST(Retest, ABoardThatPassedAndComesBackGetsANewAddress) {
  test::StationRig rig;
  rig.plug(sim::BoardOptions{});
  ASSERT_TRUE(rig.until_boards_done(1)) << rig.log_text();
  sim::SimBoard* back = rig.plug(answering_with(kFirstWritten));
  ASSERT_TRUE(rig.until_boards_done(2)) << rig.log_text();
  EXPECT_EQ(test::ethaddr_of(*back), test::written_address(1));
  EXPECT_EQ(rig.stored_address(), "0200000A0002");
  ASSERT_EQ(rig.events.records().size(), 2u);
  EXPECT_EQ(rig.events.records()[1].attempt, 1);
}

TEST(Retest, InBarcodeModeTheEnteredAddressDecides) {
  test::RigOptions options;
  options.barcode = 1;
  test::StationRig rig(std::move(options));
  // The board answers with an address this station sent and that failed; the operator types
  // another one, and that is the board's.
  BoardRecord before;
  before.time = iso8601_now();
  before.written_mac = "02:00:00:0A:00:00";
  before.overall = Verdict::kFail;
  ASSERT_TRUE(append_record(rig.dir / kRecordsFile, before).ok());
  sim::SimBoard* board = rig.plug(answering_with(kFirstWritten));
  ASSERT_TRUE(rig.until_entry_pending()) << rig.log_text();
  rig.type("0200000B0007\r");
  ASSERT_TRUE(rig.until_boards_done(1)) << rig.log_text();
  EXPECT_EQ(test::ethaddr_of(*board), "02:00:00:0B:00:07");
  EXPECT_EQ(rig.events.records().at(0).attempt, 1);
}

TEST(Retest, InBarcodeModeAnEnteredAddressIsAReTestWhenItsLastRunDidNotPass) {
  struct Case {
    const char* name;
    std::vector<Verdict> before;  // this station's earlier runs of the entered address
    bool programmed;
    int attempt;
  };
  const Case cases[] = {
      {"never sent: a new address", {}, true, 1},
      {"failed once: its second attempt", {Verdict::kFail}, true, 2},
      {"failed, then timed out: its third", {Verdict::kFail, Verdict::kTimeout}, true, 3},
      {"passed: refused, not given twice", {Verdict::kFail, Verdict::kPass}, false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::RigOptions options;
    options.barcode = 1;
    test::StationRig rig(std::move(options));
    for (std::size_t i = 0; i < c.before.size(); ++i) {
      BoardRecord before;
      before.time = iso8601_now();
      before.written_mac = "02:00:00:0A:00:00";
      before.overall = c.before[i];
      before.attempt = static_cast<int>(i) + 1;
      ASSERT_TRUE(append_record(rig.dir / kRecordsFile, before).ok());
    }
    sim::SimBoard* board = rig.plug(sim::BoardOptions{});
    ASSERT_TRUE(rig.until_entry_pending()) << rig.log_text();
    rig.type("0200000A0000\r");
    ASSERT_TRUE(rig.until_boards_done(1)) << rig.log_text();
    const BoardRecord record = rig.events.records().at(0);
    EXPECT_EQ(record.attempt, c.attempt);
    if (c.programmed) {
      EXPECT_EQ(test::ethaddr_of(*board), "02:00:00:0A:00:00");
      EXPECT_EQ(record.written_mac, "02:00:00:0A:00:00");
    } else {
      EXPECT_EQ(record.overall, Verdict::kFail);
      EXPECT_NE(rig.log_text().find("passed"), std::string::npos) << rig.log_text();
      EXPECT_EQ(test::ethaddr_of(*board), "") << "no environment was written";
    }
    if (c.attempt > 1) {
      EXPECT_NE(rig.log_text().find("MAC Addr : 0200000A0000 re-test, attempt " + std::to_string(c.attempt)),
                std::string::npos)
          << rig.log_text();
      EXPECT_EQ(rig.stored_address(), "0200000A0000") << "a re-test does not move the next address";
    }
  }
}

}  // namespace
}  // namespace skav::station
