// `skav run`'s standard error in a fault of the station's own: one line that begins
// "STATION ERROR " for each new fault, none for a fault that stands or is put right.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "frontends/cli/run_summary.h"

namespace skav::cli {
namespace {

TEST(RunSummaryStationFault, EachNewFaultIsOneLineAndAStandingOneIsNotRepeated) {
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&data, &size);
  ASSERT_NE(out, nullptr);
  {
    RunSummary summary(out, false);
    auto ready = std::make_shared<station::StationSnapshot>();
    ready->start_ups = 1;
    ready->adapter_open = true;
    auto missing = std::make_shared<station::StationSnapshot>(*ready);
    missing->station_fault = station::StationFault{"images/kernel.bin is missing", "put it back or fix config.ini"};
    auto other = std::make_shared<station::StationSnapshot>(*ready);
    other->station_fault = station::StationFault{"config.ini names nothing to send", "name the images in config.ini"};
    // A snapshot is published at every change, a check once a second: the same fault comes
    // again and again.
    for (const auto& snapshot : {ready, missing, missing, missing, other, other, ready, ready, missing})
      summary.on_snapshot(snapshot);
  }
  std::fflush(out);
  const std::string text(data, size);
  std::fclose(out);
  std::free(data);
  EXPECT_EQ(text,
            "STATION ERROR images/kernel.bin is missing: put it back or fix config.ini\n"
            "STATION ERROR config.ini names nothing to send: name the images in config.ini\n"
            "STATION ERROR images/kernel.bin is missing: put it back or fix config.ini\n");
}

// Where several ports share the stream the line still begins with the word; the port follows.
TEST(RunSummaryStationFault, APortsLineBeginsWithTheWordAndThenNamesThePort) {
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&data, &size);
  ASSERT_NE(out, nullptr);
  {
    RunSummary summary(out, false, "eth1: ");
    auto missing = std::make_shared<station::StationSnapshot>();
    missing->station_fault = station::StationFault{"images/kernel.bin is missing", "put it back or fix config.ini"};
    summary.on_snapshot(missing);
  }
  std::fflush(out);
  const std::string text(data, size);
  std::fclose(out);
  std::free(data);
  EXPECT_EQ(text, "STATION ERROR eth1: images/kernel.bin is missing: put it back or fix config.ini\n");
}

}  // namespace
}  // namespace skav::cli
