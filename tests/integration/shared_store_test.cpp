// Two stations on one settings store: the second is refused at start and names the first, so
// that no address is handed out twice.

#include <gtest/gtest.h>

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
  std::vector<std::string> first_command = station(store, first_work, 200);
  first_command.insert(first_command.begin() + 2, {"--mac", "0200000000A0"});

  test::ProgramResult first;
  std::thread first_station([&] { first = test::run_program(first_command, 120s); });
  // The first station claims the pool before it starts.
  const auto holder = store / "settings.reg.holder";
  for (int i = 0; i < 1000 && test::read_file(holder).find("skav run") == std::string::npos; ++i)
    std::this_thread::sleep_for(10ms);

  test::ProgramResult second = test::run_program(station(store, second_work, 200), 60s);
  first_station.join();

  EXPECT_NE(second.exit_code, 0);
  EXPECT_NE(second.err.find("is in use by skav run (process "), std::string::npos) << second.err;
  EXPECT_EQ(second.out, "") << "the refused station programs nothing";
  EXPECT_TRUE(written(second_work).empty());

  ASSERT_EQ(first.exit_code, 0) << first.err;
  std::vector<std::string> addresses = written(first_work);
  ASSERT_EQ(addresses.size(), 200u);
  EXPECT_EQ(addresses.front(), "02:00:00:00:00:A0");
  EXPECT_EQ(addresses.back(), "02:00:00:00:01:67");
  EXPECT_EQ(std::set<std::string>(addresses.begin(), addresses.end()).size(), 200u);

  // Once the first has ended, the second goes on from the first's next address.
  second = test::run_program(station(store, second_work, 200), 120s);
  ASSERT_EQ(second.exit_code, 0) << second.err;
  std::vector<std::string> more = written(second_work);
  ASSERT_EQ(more.size(), 200u);
  EXPECT_EQ(more.front(), "02:00:00:00:01:68");
  std::set<std::string> all(addresses.begin(), addresses.end());
  all.insert(more.begin(), more.end());
  EXPECT_EQ(all.size(), 400u) << "an address was programmed twice";
}

}  // namespace
}  // namespace skav
