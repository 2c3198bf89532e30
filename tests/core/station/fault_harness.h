#pragma once

// A station programming a line of simulated boards, some of them broken, with the test driving
// the ticks. Shared by the fault matrix over the in-process link and over the real link.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "board/sim_board.h"
#include "core/link/frame_device.h"
#include "core/settings/file_settings_store.h"
#include "core/station/station.h"
#include "support/temp_dir.h"

namespace skav::test {

inline std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

inline std::vector<std::string> split_fields(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  std::string field;
  while (std::getline(in, field, ',')) fields.push_back(field);
  return fields;
}

// One production record, by its header's field names.
struct RecordLine {
  std::string board_mac, written_mac, environment, kernel, uboot, filesystem, diag, verdict;
};

inline std::vector<RecordLine> read_records(const std::filesystem::path& file) {
  std::vector<RecordLine> records;
  std::vector<std::string> lines = split_lines(read_file(file));
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::vector<std::string> f = split_fields(lines[i]);
    if (f.size() != 11) continue;
    records.push_back({f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9]});
  }
  return records;
}

// The cable's board end: serves whichever simulated board is plugged in on a thread of its own,
// and drops what arrives while none is. Plugged boards live as long as the socket.
class BoardSocket {
 public:
  explicit BoardSocket(link::FrameDevice& device) : device_(device) {
    thread_ = std::thread([this] { serve(); });
  }
  ~BoardSocket() {
    stop_ = true;
    thread_.join();
  }
  BoardSocket(const BoardSocket&) = delete;
  BoardSocket& operator=(const BoardSocket&) = delete;

  // Replaces the board on the cable (none: unplugged). Returns once the serving thread has
  // stopped serving the previous board, so no later frame reaches it.
  board::SimBoard* plug(const board::BoardOptions* options) {
    std::unique_lock lock(mutex_);
    board::SimBoard* board = nullptr;
    if (options != nullptr) {
      boards_.push_back(std::make_unique<board::SimBoard>(device_, *options));
      board = boards_.back().get();
    }
    current_ = board;
    std::uint64_t wanted = ++generation_;
    seen_.wait_for(lock, std::chrono::seconds(5), [&] { return served_generation_ >= wanted; });
    return board;
  }
  void unplug() { plug(nullptr); }

  // Mid-run, another board takes over the cable: as soon as the current board, after handling a
  // frame, meets `condition`, a board with `options` replaces it before the next frame.
  void replace_when(std::function<bool(const board::SimBoard&)> condition,
                    const board::BoardOptions& options) {
    std::lock_guard lock(mutex_);
    boards_.push_back(std::make_unique<board::SimBoard>(device_, options));
    replacement_ = boards_.back().get();
    condition_ = std::move(condition);
  }
  board::SimBoard* current() {
    std::lock_guard lock(mutex_);
    return current_;
  }

 private:
  void serve() {
    while (!stop_.load()) {
      board::SimBoard* board = nullptr;
      {
        std::lock_guard lock(mutex_);
        board = current_;
        served_generation_ = generation_;
      }
      seen_.notify_all();
      if (board != nullptr) {
        board->serve_one(std::chrono::milliseconds(10));
        std::lock_guard lock(mutex_);
        if (replacement_ != nullptr && condition_(*board)) {
          current_ = replacement_;
          replacement_ = nullptr;
        }
      } else {
        const std::uint8_t* frame = nullptr;
        device_.receive(&frame, std::chrono::milliseconds(10));
      }
    }
  }

  link::FrameDevice& device_;
  std::mutex mutex_;
  std::condition_variable seen_;
  board::SimBoard* current_ = nullptr;
  board::SimBoard* replacement_ = nullptr;
  std::function<bool(const board::SimBoard&)> condition_;
  std::uint64_t generation_ = 0;
  std::uint64_t served_generation_ = 0;
  std::vector<std::unique_ptr<board::SimBoard>> boards_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The example configuration in a directory of its own, a settings file with Barcode Mode off
// and the first address 0200000A0000, and a station over `backend` with a 1 s transfer time-out.
class FaultRig {
 public:
  static constexpr const char* kFirstAddress = "0200000A0000";

  // `adapter`: the system name of the adapter to open (default: the first one listed).
  // `events`: where the station's news go, if anywhere.
  explicit FaultRig(link::FrameBackend& backend, const std::string& adapter = "",
                    std::chrono::milliseconds timeout = std::chrono::seconds(1),
                    station::StationEvents* events = nullptr)
      : store_(dir_ / "settings.reg") {
    dir_.copy_from(std::filesystem::path(SKAV_SOURCE_DIR) / "examples");
    store_.number_write(nullptr, settings::kBarCode, 0);
    link::AdapterListing listing = backend.list_adapters();
    for (std::size_t i = 0; i < listing.adapters.size(); ++i)
      if (listing.adapters[i].name == adapter)
        store_.number_write(nullptr, settings::kNetIF, static_cast<std::int32_t>(i));
    MacDigits::Digits first;
    MacDigits::parse(kFirstAddress, first);
    store_.machwid_write(nullptr, first);
    station::StationOptions options;
    options.dir = dir_.path();
    options.transfer_timeout = timeout;
    station_ = std::make_unique<station::Station>(backend, store_, log_, events, options);
    station_->start_up();
  }

  // Ticks the station (pacing a few milliseconds apart) until `boards` runs have finished and it
  // went back to Idle, or `bound` passed. True when reached.
  bool tick_until_done(int boards, std::chrono::milliseconds bound = std::chrono::seconds(30)) {
    auto deadline = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < deadline) {
      station_->tick();
      if (station_->boards_done() >= boards) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
    return false;
  }

  // The records file, one entry per finished board.
  std::vector<RecordLine> records() const { return read_records(dir_ / station::kRecordsFile); }
  std::string stored_address() {
    MacDigits::Digits digits{};
    if (store_.machwid_read(nullptr, digits) != settings::kOk) return "";
    return std::string(digits.data(), digits.size());
  }
  std::vector<std::uint8_t> file(const std::string& name) const {
    std::string text = read_file(dir_ / name);
    return std::vector<std::uint8_t>(text.begin(), text.end());
  }

  TempDir dir_;
  settings::FileSettingsStore store_;
  StringLog log_;
  std::unique_ptr<station::Station> station_;
};

// "02:00:00:0A:00:01" for the first address plus `n`.
inline std::string written_address(int n) {
  char text[32];
  std::snprintf(text, sizeof text, "02:00:00:0A:00:%02X", n);
  return text;
}

// The ethaddr entry of the environment that the example configuration puts at spi 0x40000,
// as the board holds it; "" when there is none.
inline std::string ethaddr_of(const board::SimBoard& board) {
  std::vector<std::uint8_t> bytes = board.memory(2, 0x40000, 5 + 25);
  std::string entry(reinterpret_cast<const char*>(bytes.data()) + 5, 25);
  if (entry.rfind("ethaddr=", 0) != 0) return "";
  return entry.substr(8);
}

// Checks that `board` holds exactly what the example configuration programs: the environment
// with `address` as ethaddr, the kernel, uboot and filesystem images at their destinations, and
// the diagnostic image.
inline void expect_programmed(const FaultRig& rig, const board::SimBoard& board,
                              const std::string& address) {
  EXPECT_EQ(ethaddr_of(board), address);
  struct Image {
    const char* file;
    std::uint8_t memory;
    std::uint32_t address;
  };
  for (const Image& image : {Image{"images/kernel.bin", 1, 0x200000},
                             Image{"images/uboot.bin", 2, 0x0},
                             Image{"images/rootfs.bin", 1, 0x1000000}}) {
    std::vector<std::uint8_t> expected = rig.file(image.file);
    EXPECT_TRUE(board.memory(image.memory, image.address,
                             static_cast<std::uint32_t>(expected.size())) == expected)
        << image.file;
  }
  EXPECT_TRUE(board.diag_image() == rig.file("images/diag.txt"));
}

// What the broken board's record says: environment, kernel, uboot, filesystem, diag, verdict.
struct Expected {
  const char* environment;
  const char* kernel;
  const char* uboot;
  const char* filesystem;
  const char* diag;
  const char* verdict;
};

inline constexpr link::Mac kBrokenMac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
inline constexpr link::Mac kHealthyMac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x02};

// One case of the fault matrix: a broken board, then a healthy one in its place.
class FaultBench {
 public:
  FaultBench(FaultRig& rig, BoardSocket& socket) : rig_(rig), socket_(socket) {}

  // Programs one board with `faults`, then a healthy one in its place, and checks everything
  // that must hold whatever the fault. Returns the broken board.
  board::SimBoard* broken_then_healthy(const board::BoardFaults& faults, const Expected& expected,
                                       const std::string& log_fragment) {
    board::SimBoard* first = plug_broken(faults);
    check_broken_record(expected, log_fragment);
    healthy_next();
    return first;
  }

  // Plugs in a board with `faults` and ticks until its run has ended.
  board::SimBoard* plug_broken(const board::BoardFaults& faults) {
    board::BoardOptions broken;
    broken.mac = kBrokenMac;
    broken.faults = faults;
    board::SimBoard* first = socket_.plug(&broken);
    EXPECT_TRUE(rig_.tick_until_done(1)) << rig_.log_.text();
    return first;
  }

  void check_broken_record(const Expected& expected, const std::string& log_fragment) {
    std::vector<RecordLine> records = rig_.records();
    ASSERT_EQ(records.size(), 1u) << read_file(rig_.dir_ / station::kRecordsFile);
    const RecordLine& r = records[0];
    EXPECT_EQ(r.board_mac, "02:00:00:00:00:01");
    EXPECT_EQ(r.written_mac, written_address(0));
    EXPECT_EQ(r.environment, expected.environment);
    EXPECT_EQ(r.kernel, expected.kernel);
    EXPECT_EQ(r.uboot, expected.uboot);
    EXPECT_EQ(r.filesystem, expected.filesystem);
    EXPECT_EQ(r.diag, expected.diag);
    EXPECT_EQ(r.verdict, expected.verdict);
    EXPECT_NE(rig_.log_.text().find(log_fragment), std::string::npos) << rig_.log_.text();
  }

  // The cable now leads to a healthy board: it gets the next address and everything the
  // configuration names, and the station searches again afterwards.
  // `on_cable`: the healthy board already there; otherwise a new one is plugged in.
  void healthy_next(board::SimBoard* on_cable = nullptr) {
    board::BoardOptions options;
    options.mac = kHealthyMac;
    healthy_ = on_cable != nullptr ? on_cable : socket_.plug(&options);
    std::size_t log_before = rig_.log_.text().size();
    ASSERT_TRUE(rig_.tick_until_done(2)) << rig_.log_.text();
    std::string run = rig_.log_.text().substr(log_before);
    EXPECT_NE(run.find("MAC Addr : 0200000A0001 Test...Pass\r\n"), std::string::npos) << run;
    EXPECT_EQ(run.find("Fail"), std::string::npos) << run;

    std::vector<RecordLine> records = rig_.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].board_mac, "02:00:00:00:00:02");
    EXPECT_EQ(records[1].written_mac, written_address(1));
    EXPECT_EQ(records[1].verdict, "pass");
    expect_programmed(rig_, *healthy_, written_address(1));
    EXPECT_EQ(rig_.stored_address(), "0200000A0002");

    // Back to searching: the tick after Idle announces it, the next one probes.
    rig_.station_->tick();
    rig_.station_->tick();
    EXPECT_EQ(rig_.station_->state(), station::StationState::kSearching);
    EXPECT_EQ(rig_.station_->run_status(), station::kNoRun);
  }

  // No two boards hold the same address.
  void expect_distinct_addresses(const board::SimBoard& broken) const {
    std::string first = ethaddr_of(broken);
    if (!first.empty() && healthy_ != nullptr) {
      EXPECT_NE(first, ethaddr_of(*healthy_));
    }
  }


 private:
  FaultRig& rig_;
  BoardSocket& socket_;
  board::SimBoard* healthy_ = nullptr;
};

inline constexpr Expected kKernelTimeout = {"pass",    "timeout", "skipped",
                                            "skipped", "skipped", "timeout"};
inline constexpr Expected kEnvironmentTimeout = {"timeout", "skipped", "skipped",
                                                 "skipped", "skipped", "timeout"};
inline constexpr Expected kAllPass = {"pass", "pass", "pass", "pass", "pass", "pass"};
inline const std::string kKernelTimeoutLog =
    "Section begin: [kernel]\r\nFail\r\nTarget not responding after 1 s\r\n";
inline const std::string kEnvironmentTimeoutLog =
    "Find the UBOOT CONFIG file.....Fail\r\nTarget not responding after 1 s\r\n";

}  // namespace skav::test
