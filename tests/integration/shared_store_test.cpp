// Two stations on one settings store: the second is refused at start and names the first, so
// that no address is handed out twice.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <set>
#include <thread>

#include "support/rig.h"
#include "support/run_program.h"

namespace skav {
namespace {

using namespace std::chrono_literals;

std::vector<std::string> station(const test::TempDir& store, const test::TempDir& work, int boards) {
  return {SKAV_BINARY, "run", "--simulate=" + std::to_string(boards), "--no-barcode",
          "--boards", std::to_string(boards), "--settings", (store / "settings.reg").string(),
          "-C", work.path().string(), "--tick-ms", "1"};
}

// Every written address of the records, in order.
std::vector<std::string> written(const test::TempDir& work) {
  std::vector<std::string> addresses;
  for (const test::RecordLine& record : test::read_records(work / "skav-records.csv"))
    addresses.push_back(record.written_mac);
  return addresses;
}

TEST(SharedStore, ASecondStationOnTheSameStoreIsRefusedAndNoAddressIsGivenTwice) {
  test::TempDir store, first_work, second_work;
  first_work.copy_from(std::filesystem::path(SKAV_SOURCE_DIR) / "examples");
  second_work.copy_from(std::filesystem::path(SKAV_SOURCE_DIR) / "examples");
  // The first station is busy with its boards for a second or more (several under the
  // sanitizers); the second is refused within milliseconds of its start.
  std::vector<std::string> first_command = station(store, first_work, 100);
  first_command.insert(first_command.begin() + 2, {"--mac", "0200000000A0"});

  test::ProgramResult first;
  std::thread first_station([&] { first = test::run_program(first_command, 120s); });
  // The first station claims the pool before it starts.
  const auto holder = store / "settings.reg.holder";
  for (int i = 0; i < 1000 && test::read_file(holder).find("skav run") == std::string::npos; ++i)
    std::this_thread::sleep_for(10ms);

  test::ProgramResult second = test::run_program(station(store, second_work, 100), 60s);
  first_station.join();

  EXPECT_NE(second.exit_code, 0);
  EXPECT_NE(second.err.find("is in use by skav run (process "), std::string::npos) << second.err;
  EXPECT_EQ(second.out, "") << "the refused station programs nothing";
  EXPECT_TRUE(written(second_work).empty());

  ASSERT_EQ(first.exit_code, 0) << first.err;
  std::vector<std::string> addresses = written(first_work);
  ASSERT_EQ(addresses.size(), 100u);
  EXPECT_EQ(addresses.front(), "02:00:00:00:00:A0");
  EXPECT_EQ(addresses.back(), "02:00:00:00:01:03");
  EXPECT_EQ(std::set<std::string>(addresses.begin(), addresses.end()).size(), 100u);

  // Once the first has ended, the second goes on from the first's next address.
  second = test::run_program(station(store, second_work, 100), 120s);
  ASSERT_EQ(second.exit_code, 0) << second.err;
  std::vector<std::string> more = written(second_work);
  ASSERT_EQ(more.size(), 100u);
  EXPECT_EQ(more.front(), "02:00:00:00:01:04");
  std::set<std::string> all(addresses.begin(), addresses.end());
  all.insert(more.begin(), more.end());
  EXPECT_EQ(all.size(), 200u) << "an address was programmed twice";
}

// The pool file named relative is the working directory's (-C), as config.ini and the records
// are, whatever folder the station was started from.
TEST(SharedStore, ARelativePoolFileIsInTheWorkingDirectory) {
  test::TempDir store, work;
  work.copy_from(std::filesystem::path(SKAV_SOURCE_DIR) / "examples");
  const std::string name = "pool-" + std::to_string(::getpid()) + ".reg";
  std::vector<std::string> command = station(store, work, 2);
  command.insert(command.begin() + 2, {"--pool", "file:" + name, "--mac", "0200000000A0"});
  test::ProgramResult result = test::run_program(command, 60s);
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::current_path() / name));
  EXPECT_NE(test::read_file(work / name).find("\"MACHWID\"="), std::string::npos);
  EXPECT_EQ(written(work), (std::vector<std::string>{"02:00:00:00:00:A0", "02:00:00:00:00:A1"}));
}

// A second name of the store is the same store: a symbolic link finds the first station's
// hold, and a hard link (which nothing leads back from) is refused outright.
TEST(SharedStore, ALinkToAHeldStoreIsRefused) {
  test::TempDir store, first_work, second_work;
  first_work.copy_from(std::filesystem::path(SKAV_SOURCE_DIR) / "examples");
  second_work.copy_from(std::filesystem::path(SKAV_SOURCE_DIR) / "examples");
  test::ProgramResult first;
  std::thread first_station([&] { first = test::run_program(station(store, first_work, 100), 120s); });
  const auto holder = store / "settings.reg.holder";
  for (int i = 0; i < 1000 && test::read_file(holder).find("skav run") == std::string::npos; ++i)
    std::this_thread::sleep_for(10ms);
  std::filesystem::create_symlink(store / "settings.reg", store / "link.reg");
  std::vector<std::string> linked = station(store, second_work, 100);
  linked[std::find(linked.begin(), linked.end(), "--settings") - linked.begin() + 1] =
      (store / "link.reg").string();
  test::ProgramResult second = test::run_program(linked, 60s);
  first_station.join();
  ASSERT_EQ(first.exit_code, 0) << first.err;
  EXPECT_NE(second.exit_code, 0);
  EXPECT_NE(second.err.find("is in use by skav run (process "), std::string::npos) << second.err;
  EXPECT_TRUE(written(second_work).empty());
  EXPECT_TRUE(std::filesystem::is_symlink(store / "link.reg"));

  std::filesystem::create_hard_link(store / "settings.reg", store / "hard.reg");
  linked[std::find(linked.begin(), linked.end(), "--settings") - linked.begin() + 1] =
      (store / "hard.reg").string();
  second = test::run_program(linked, 60s);
  EXPECT_NE(second.exit_code, 0);
  EXPECT_NE(second.err.find("has 2 hard links"), std::string::npos) << second.err;
  EXPECT_TRUE(written(second_work).empty());
}

}  // namespace
}  // namespace skav
