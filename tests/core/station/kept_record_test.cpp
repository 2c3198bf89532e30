// A record that cannot be stored: the board does not pass, the station keeps the record and
// takes no board until it is written, then goes on by itself.

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "support/rig.h"
#include "present/panel.h"

namespace skav::station {
namespace {

TEST(KeptRecord, AnUnwrittenRecordHoldsTheStationUntilItIsWrittenFirstAndInOrder) {
  // The records file fails at the board's end, after the station found it writable: a disk
  // that fills up during the run.
  bool full = true;
  test::RigOptions options;
  options.write_record = [&full](const std::filesystem::path& file, const BoardRecord& record) {
    return full ? Status::error(ENOSPC, file.string() + ": No space left on device") : append_record(file, record);
  };
  test::StationRig rig(std::move(options));
  rig.plug_line(sim::BoardOptions{}, 2);
  ASSERT_TRUE(rig.until_boards_done(1)) << rig.log_text();

  // The board's steps all passed, but its record is not stored: no PASS anywhere.
  auto snapshot = rig.station->snapshot();
  EXPECT_NE(snapshot->board->overall, Verdict::kPass);
  EXPECT_NE(present::make_panel(*snapshot).word, present::Word::kPass);
  ASSERT_EQ(rig.events.records().size(), 1u);
  EXPECT_NE(rig.events.records()[0].overall, Verdict::kPass) << "the faces would count a pass";
  EXPECT_NE(rig.log_text().find("Could not write the production record: "), std::string::npos);

  // No board is taken while the record waits.
  for (int i = 0; i < 35; ++i) rig.station->step();
  EXPECT_EQ(rig.station->state(), StationState::kIdle);

  // The file can be written again: the kept record goes first, then the station goes on.
  full = false;
  ASSERT_TRUE(rig.until_boards_done(2)) << rig.log_text();
  EXPECT_EQ(rig.station->snapshot()->board->overall, Verdict::kPass);
  std::vector<test::RecordLine> lines = rig.records();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].written_mac + " " + lines[1].written_mac,
            test::written_address(0) + " " + test::written_address(1));
}

TEST(KeptRecord, TheStationSaysWhyAndTriesOnceASecond) {
  int tries = 0;
  bool fail = true;
  test::RigOptions options;
  options.write_record = [&](const std::filesystem::path& file, const BoardRecord& record) {
    ++tries;
    return fail ? Status::error(EROFS, file.string() + ": Read-only file system") : append_record(file, record);
  };
  test::StationRig rig(std::move(options));
  rig.plug_line(sim::BoardOptions{}, 2);
  ASSERT_TRUE(rig.until_boards_done(1)) << rig.log_text();
  auto snapshot = rig.station->snapshot();
  EXPECT_FALSE(snapshot->board->record_stored);
  EXPECT_EQ(snapshot->records_kept, 1);
  present::Panel panel = present::make_panel(*snapshot);
  EXPECT_EQ(panel.word, present::Word::kStationError);
  EXPECT_EQ(panel.detail, "record not stored: " + (rig.dir / kRecordsFile).string() + ": Read-only file system");

  // Ten ticks of 100 ms between tries.
  for (int i = 0; i < 35; ++i) rig.station->step();
  EXPECT_EQ(tries, 4);
  fail = false;
  for (int i = 0; i < 5; ++i) rig.station->step();
  EXPECT_EQ(tries, 5);
  EXPECT_EQ(rig.station->snapshot()->records_kept, 0);
  EXPECT_NE(rig.log_text().find("The production record of board "), std::string::npos);
}

}  // namespace
}  // namespace skav::station
