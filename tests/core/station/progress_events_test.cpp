// What a front end is told of a run's progress.

#include <gtest/gtest.h>

#include <fstream>
#include <mutex>

#include "core/link/in_memory.h"
#include "core/station/fault_harness.h"

namespace skav::station {
namespace {

struct ProgressCall {
  std::string section;
  std::uint64_t done;
  std::uint64_t total;
};

class RecordingEvents : public StationEvents {
 public:
  void on_status_text(const std::string&) override {}
  void on_progress(const std::string& section, std::uint64_t done, std::uint64_t total) override {
    std::lock_guard lock(mutex_);
    calls_.push_back({section, done, total});
  }
  void on_progress_end() override {}
  void on_run_active(bool) override {}
  void on_board_finished(const BoardRecord&) override {}
  std::vector<ProgressCall> calls(const std::string& section) const {
    std::lock_guard lock(mutex_);
    std::vector<ProgressCall> out;
    for (const ProgressCall& call : calls_)
      if (call.section == section) out.push_back(call);
    return out;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<ProgressCall> calls_;
};

int percent(const ProgressCall& call) { return static_cast<int>(call.done * 100 / call.total); }

TEST(StationProgress, EachSectionIsShownOncePerWholePercentAndReachesTheWhole) {
  link::InMemoryWire wire;
  link::InMemoryBackend backend(wire);
  RecordingEvents events;
  test::FaultRig rig(backend, "", std::chrono::seconds(5), &events);
  // A 5 MB filesystem image: some 220 acknowledgement windows each way.
  constexpr std::uint32_t kSize = 5'000'000;
  {
    std::ofstream image(rig.dir_ / "images" / "rootfs.bin", std::ios::binary | std::ios::trunc);
    std::vector<char> bytes(kSize, '\x5a');
    image.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  test::BoardSocket socket(wire.board_end());
  board::BoardOptions options;
  options.mac = test::kHealthyMac;
  socket.plug(&options);
  ASSERT_TRUE(rig.tick_until_done(1)) << rig.log_.text();
  ASSERT_EQ(rig.records().at(0).filesystem, "pass") << rig.log_.text();

  // The write, then the read-back: each climbs to the whole, a percent shown at most once.
  std::vector<ProgressCall> calls = events.calls("filesystem");
  ASSERT_FALSE(calls.empty());
  int phases = 0;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].total, kSize);
    if (calls[i].done == calls[i].total) ++phases;
    if (i > 0 && calls[i - 1].done != calls[i - 1].total) {
      EXPECT_GT(percent(calls[i]), percent(calls[i - 1])) << "call " << i;
    }
  }
  EXPECT_EQ(phases, 2);
  EXPECT_EQ(calls.back().done, kSize);
  EXPECT_LE(calls.size(), 2u * 101u);
}

}  // namespace
}  // namespace skav::station
