// Faults of the station's own (an image missing or too large, config.ini missing, the records
// file unwritable): the connected board waits untouched, no address is used and no record is
// written, the snapshot says what is wrong and what to do, and once it is put right the
// waiting board is programmed by itself. Stepped on the test's clock over the direct cable.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "core/station/readiness.h"
#include "support/rig.h"

namespace skav::station {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// How a case breaks the working folder, and how the operator puts it right.
struct FaultCase {
  const char* name;
  std::function<void(test::TempDir&)> do_break;
  std::function<void(test::TempDir&)> put_right;
  std::function<std::string(const test::TempDir&)> cause;
  const char* remedy;
  bool cause_then_system_error = false;  // `cause` is followed by the system's own words
};

// Test names show the case's name, not its bytes.
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

void move_aside(test::TempDir& dir, const std::string& name) { fs::rename(dir / name, dir / (name + ".aside")); }
void move_back(test::TempDir& dir, const std::string& name) { fs::rename(dir / (name + ".aside"), dir / name); }

std::vector<FaultCase> fault_cases() {
  auto fixed = [](const char* text) { return [text](const test::TempDir&) { return std::string(text); }; };
  return {
      {"ImageMissing", [](test::TempDir& d) { move_aside(d, "images/kernel.bin"); },
       [](test::TempDir& d) { move_back(d, "images/kernel.bin"); }, fixed("images/kernel.bin is missing"),
       "put it back or fix config.ini"},
      // Far beyond what a step takes: said as too large, not as a file that did not open.
      {"ImageTooLarge",
       [](test::TempDir& d) {
         move_aside(d, "images/rootfs.bin");
         d.write("images/rootfs.bin", "");
         fs::resize_file(d / "images/rootfs.bin", 400000000);
       },
       [](test::TempDir& d) {
         fs::remove(d / "images/rootfs.bin");
         move_back(d, "images/rootfs.bin");
       },
       fixed("images/rootfs.bin is larger than the 67108860 bytes the filesystem step can take"),
       "use a smaller file or fix config.ini"},
      {"DiagnosticImageMissing", [](test::TempDir& d) { move_aside(d, "images/diag.txt"); },
       [](test::TempDir& d) { move_back(d, "images/diag.txt"); }, fixed("images/diag.txt is missing"),
       "put it back or fix config.ini"},
      {"DescriptionFileNamedButAFolder",
       [](test::TempDir& d) {
         move_aside(d, "uboot_env.ini");
         fs::create_directory(d / "uboot_env.ini");
       },
       [](test::TempDir& d) {
         fs::remove(d / "uboot_env.ini");
         move_back(d, "uboot_env.ini");
       },
       fixed("uboot_env.ini is not a file"), "put the file there or fix config.ini"},
      {"UnconfiguredFolder", [](test::TempDir& d) { move_aside(d, "config.ini"); },
       [](test::TempDir& d) { move_back(d, "config.ini"); },
       [](const test::TempDir& d) {
         return "config.ini is missing in " + fs::absolute(d.path()).lexically_normal().string();
       },
       "start the station in the folder that holds config.ini, or put one there"},
      {"ConfigurationThatNamesNothing",
       [](test::TempDir& d) {
         move_aside(d, "config.ini");
         d.write("config.ini", "[kernel]\nMem_type=nand\nCommand=write\n");
       },
       [](test::TempDir& d) {
         fs::remove(d / "config.ini");
         move_back(d, "config.ini");
       },
       fixed("config.ini names nothing to send"), "name the images in config.ini"},
      // A folder in the records file's place cannot be appended to, even by root.
      {"RecordsFileUnwritable", [](test::TempDir& d) { fs::create_directory(d / kRecordsFile); },
       [](test::TempDir& d) { fs::remove(d / kRecordsFile); },
       [](const test::TempDir& d) { return (d / kRecordsFile).string() + " cannot be written: "; },
       "make the folder writable (or free disk space), or start the station in another folder", true},
  };
}

class StationFaultGate : public ::testing::TestWithParam<FaultCase> {
 protected:
  StationFaultGate() {
    test::RigOptions options;
    options.barcode = 0;
    rig_ = std::make_unique<test::StationRig>(std::move(options));
  }
  ManualClock& clock() { return dynamic_cast<ManualClock&>(rig_->clock()); }
  // Ticks a tenth of a second apart on the station's clock.
  void steps(int n) {
    for (int i = 0; i < n; ++i) {
      clock().advance(100ms);
      rig_->station->step();
    }
  }
  std::unique_ptr<test::StationRig> rig_;
};

TEST_P(StationFaultGate, TheBoardWaitsUntouchedUntilTheFaultIsPutRightThenGoesByItself) {
  const FaultCase& c = GetParam();
  c.do_break(rig_->dir);
  sim::SimBoard* board = rig_->plug(sim::BoardOptions{});
  ASSERT_TRUE(rig_->step_until([&] { return rig_->station->state() == StationState::kConnected; }));
  const std::string log_at_connect = rig_->log_text();
  steps(35);  // three and a half seconds: three checks more

  auto snapshot = rig_->station->snapshot();
  ASSERT_TRUE(snapshot->station_fault) << rig_->log_text();
  if (c.cause_then_system_error) {
    EXPECT_TRUE(snapshot->station_fault->cause.starts_with(c.cause(rig_->dir))) << snapshot->station_fault->cause;
    EXPECT_GT(snapshot->station_fault->cause.size(), c.cause(rig_->dir).size()) << "and why";
  } else {
    EXPECT_EQ(snapshot->station_fault->cause, c.cause(rig_->dir));
  }
  EXPECT_EQ(snapshot->station_fault->remedy, c.remedy);
  EXPECT_EQ(snapshot->state, StationState::kConnected);
  EXPECT_EQ(snapshot->run_status, RunStatus::kNoRun);
  EXPECT_FALSE(snapshot->board) << "no board taken";
  EXPECT_EQ(board->stats().headers, 0) << "nothing sent to the board";
  EXPECT_EQ(rig_->stored_address(), "0200000A0000") << "no address used";
  EXPECT_EQ(snapshot->boards_done, 0);
  EXPECT_TRUE(rig_->events.records().empty()) << "no board finished";
  if (!fs::is_directory(rig_->dir / kRecordsFile)) {
    EXPECT_FALSE(fs::exists(rig_->dir / kRecordsFile));
  }
  // The log keeps its own words: the fault is the snapshot's to tell.
  EXPECT_EQ(rig_->log_text(), log_at_connect);

  c.put_right(rig_->dir);
  // Looked at again once a second on the station's clock, not at every tick.
  for (int i = 0; i < 5; ++i) rig_->station->step();
  EXPECT_EQ(rig_->station->run_status(), RunStatus::kNoRun);
  EXPECT_TRUE(rig_->station->snapshot()->station_fault);
  clock().advance(1s);
  ASSERT_TRUE(rig_->until_boards_done(1)) << rig_->log_text();
  EXPECT_FALSE(rig_->station->snapshot()->station_fault);
  std::vector<test::RecordLine> records = rig_->records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].verdict, "pass");
  EXPECT_EQ(records[0].written_mac, test::written_address(0)) << "the first address, not a later one";
  EXPECT_EQ(rig_->stored_address(), "0200000A0001");
}

INSTANTIATE_TEST_SUITE_P(Causes, StationFaultGate, ::testing::ValuesIn(fault_cases()),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// In Barcode Mode the operator is not asked for an address the station could not use: the
// prompt waits for the fault to be put right.
TEST(StationFaultBarcode, TheAddressIsAskedForOnlyOnceTheFaultIsPutRight) {
  test::RigOptions options;
  options.barcode = 1;
  test::StationRig rig(std::move(options));
  auto& clock = dynamic_cast<ManualClock&>(rig.clock());
  fs::rename(rig.dir / "images/kernel.bin", rig.dir / "kernel.aside");
  rig.plug(sim::BoardOptions{});
  ASSERT_TRUE(rig.step_until([&] { return rig.station->state() == StationState::kConnected; }));
  for (int i = 0; i < 15; ++i) {
    clock.advance(100ms);
    rig.station->step();
  }
  EXPECT_FALSE(rig.station->entry_pending());
  EXPECT_EQ(rig.log_text().find("Input MAC Address : "), std::string::npos) << rig.log_text();
  ASSERT_TRUE(rig.station->snapshot()->station_fault);

  fs::rename(rig.dir / "kernel.aside", rig.dir / "images/kernel.bin");
  clock.advance(1s);
  rig.station->step();
  EXPECT_TRUE(rig.station->entry_pending());
  EXPECT_FALSE(rig.station->snapshot()->station_fault);
  EXPECT_TRUE(rig.log_text().ends_with("Connected...\r\nInput MAC Address : ")) << rig.log_text();
  rig.type("0200000B0000\r");
  ASSERT_TRUE(rig.until_boards_done(1)) << rig.log_text();
  ASSERT_EQ(rig.records().size(), 1u);
  EXPECT_EQ(rig.records()[0].written_mac, "02:00:00:0B:00:00");
  EXPECT_EQ(rig.records()[0].verdict, "pass");
}

// A fault that changes is told as the new one; one that stands is published once, not at every
// check.
TEST(StationFaultNews, EachNewFaultIsPublishedOnceAndAFixedOneIsCleared) {
  test::RigOptions options;
  options.barcode = 0;
  test::StationRig rig(std::move(options));
  auto& clock = dynamic_cast<ManualClock&>(rig.clock());
  fs::rename(rig.dir / "images/kernel.bin", rig.dir / "kernel.aside");
  rig.plug(sim::BoardOptions{});
  ASSERT_TRUE(rig.step_until([&] { return rig.station->state() == StationState::kConnected; }));
  for (int i = 0; i < 30; ++i) {
    clock.advance(100ms);
    rig.station->step();
  }
  fs::rename(rig.dir / "images/uboot.bin", rig.dir / "uboot.aside");
  fs::rename(rig.dir / "kernel.aside", rig.dir / "images/kernel.bin");
  for (int i = 0; i < 30; ++i) {
    clock.advance(100ms);
    rig.station->step();
  }
  std::vector<std::string> told;
  for (const auto& snapshot : rig.events.snapshots()) {
    std::string cause = snapshot->station_fault ? snapshot->station_fault->cause : "";
    if (told.empty() || told.back() != cause) told.push_back(cause);
  }
  EXPECT_EQ(told, (std::vector<std::string>{"", "images/kernel.bin is missing", "images/uboot.bin is missing"}));
  fs::rename(rig.dir / "uboot.aside", rig.dir / "images/uboot.bin");
  clock.advance(1s);
  ASSERT_TRUE(rig.until_boards_done(1)) << rig.log_text();
  EXPECT_FALSE(rig.station->snapshot()->station_fault);
}

// The check itself, without a station: a healthy folder has none, and the first broken thing
// is named.
TEST(FindStationFault, AHealthyFolderHasNoneAndAConfigurationThatIsNoFileIsNamed) {
  test::TempDir dir;
  dir.copy_from(fs::path(SKAV_SOURCE_DIR) / "examples");
  EXPECT_FALSE(find_station_fault(dir.path()));
  EXPECT_FALSE(fs::exists(dir / kRecordsFile)) << "looking leaves no records file behind";
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()),
            std::distance(fs::directory_iterator(fs::path(SKAV_SOURCE_DIR) / "examples"), fs::directory_iterator()))
      << "nor any other file";
  fs::remove(dir / "config.ini");
  fs::create_directory(dir / "config.ini");
  std::optional<StationFault> fault = find_station_fault(dir.path());
  ASSERT_TRUE(fault);
  EXPECT_EQ(fault->cause, "config.ini is not a file");
}

}  // namespace
}  // namespace skav::station
