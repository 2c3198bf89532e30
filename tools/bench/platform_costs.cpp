#include "bench/platform_costs.h"

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "bench/child.h"
#include "bench/cpu_time.h"
#include "core/link/frame_device.h"
#include "core/transfer/block_transfer.h"
#include "backends/pcap/pcap_backend.h"

namespace skav::bench {

namespace {

constexpr int kEvents = 400;  // measured of each kind
// Between two events, as between a station's windows: the far end's work is done and the
// caches have cooled as much as they do in a run.
constexpr auto kPause = std::chrono::microseconds(300);
constexpr std::uint32_t kWindowFrames = transfer::kAckInterval;
const link::Mac kFarEnd = {0x02, 0x00, 0x00, 0x00, 0x00, 0x02};

double thread_cpu_us() { return thread_cpu_seconds() * 1e6; }

// What reading the thread's CPU time twice costs, to be taken off each event's figure.
double reading_cost_us() {
  double total = 0;
  for (int i = 0; i < kEvents; ++i) {
    double before = thread_cpu_us();
    total += thread_cpu_us() - before;
  }
  return total / kEvents;
}

// The far end, taking whatever comes in and never woken by it: a timer every millisecond.
[[noreturn]] void take_on_a_timer(const char* board_end) {
  pcap::PcapBackend backend;
  link::OpenResult opened = backend.open_for_board(board_end);
  if (!opened.device) _exit(2);
  for (;;) {
    const std::uint8_t* frame = nullptr;
    while (opened.device->receive(&frame, std::chrono::milliseconds(0)) > 0) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// The far end sending `count` 60-byte data frames, kPause apart, after a start-up pause in which
// the station begins to wait.
[[noreturn]] void send_apart(const char* board_end, int count) {
  pcap::PcapBackend backend;
  link::OpenResult opened = backend.open_for_board(board_end);
  if (!opened.device) _exit(2);
  std::array<std::uint8_t, link::kMinFrame> frame{};
  link::write_header(frame.data(), link::kBroadcast, kFarEnd, link::kEtherTargetData);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  for (int i = 0; i < count; ++i) {
    std::this_thread::sleep_for(kPause);
    opened.device->send(frame.data(), frame.size());
  }
  _exit(0);
}

}  // namespace

double PlatformCosts::floor_ms_per_mb() const {
  constexpr double kWindowsPerMb = 1e6 / (transfer::kChunkSize * kWindowFrames);
  return kWindowsPerMb * (send_window_us + send_ack_us + woken_wait_us + timed_wait_us) / 1000;
}

PlatformCosts measure_platform_costs(const char* station_end, const char* board_end) {
  PlatformCosts costs;
  pcap::PcapBackend backend;
  link::OpenResult opened = backend.open(station_end);
  if (!opened.device) {
    costs.error = "cannot open " + std::string(station_end) + ": " + opened.error;
    return costs;
  }
  link::FrameDevice& device = *opened.device;
  const double reading = reading_cost_us();

  pid_t child = fork_bound_child();
  if (child < 0) {
    costs.error = std::string("fork: ") + std::strerror(errno);
    return costs;
  }
  if (child == 0) take_on_a_timer(board_end);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the far end opens its socket
  std::uint8_t header[link::kEthernetHeader];
  link::write_header(header, kFarEnd, link::kBroadcast, link::kEtherHostData);
  std::vector<std::uint8_t> data(transfer::kChunkSize * kWindowFrames, 0x5a);
  const std::uint8_t* payloads[kWindowFrames];
  std::size_t lengths[kWindowFrames];
  for (std::uint32_t i = 0; i < kWindowFrames; ++i) {
    payloads[i] = data.data() + i * transfer::kChunkSize;
    lengths[i] = transfer::kChunkSize;
  }
  std::array<std::uint8_t, link::kMinFrame> ack{};
  link::write_header(ack.data(), kFarEnd, link::kBroadcast, link::kEtherHostData);
  double window_total = 0;
  double ack_total = 0;
  for (int i = 0; i < kEvents; ++i) {
    double before = thread_cpu_us();
    std::size_t sent = device.send_frames(header, payloads, lengths, kWindowFrames);
    window_total += thread_cpu_us() - before - reading;
    std::this_thread::sleep_for(kPause);
    before = thread_cpu_us();
    int refused = device.send(ack.data(), ack.size());
    ack_total += thread_cpu_us() - before - reading;
    std::this_thread::sleep_for(kPause);
    if (sent != kWindowFrames || refused != 0) {
      costs.error = "the kernel refused a frame";
      break;
    }
  }
  // A far end that could not open its socket has left: the sends above found nobody there.
  if (costs.error.empty() && waitpid(child, nullptr, WNOHANG) != 0)
    costs.error = "the far end could not open " + std::string(board_end);
  end_child(child);
  if (!costs.error.empty()) return costs;
  costs.send_window_us = window_total / kEvents;
  costs.send_ack_us = ack_total / kEvents;

  // The ring starts empty, so that each wait below is ended by a frame sent after it began.
  const std::uint8_t* frame = nullptr;
  while (device.receive(&frame, std::chrono::milliseconds(0)) > 0) {
  }
  child = fork_bound_child();
  if (child < 0) {
    costs.error = std::string("fork: ") + std::strerror(errno);
    return costs;
  }
  if (child == 0) send_apart(board_end, kEvents);
  int taken = 0;
  int silent = 0;  // waits that ended with nothing: the far end stopped
  double before = thread_cpu_us();
  while (taken < kEvents && silent < 5) {
    device.wait_frames(1, std::chrono::milliseconds(100));
    if (device.receive(&frame, std::chrono::milliseconds(0)) > 0)
      ++taken;
    else
      ++silent;
  }
  double woken_total = thread_cpu_us() - before;
  end_child(child);
  if (taken < kEvents) {
    costs.error = "the far end's frames did not come";
    return costs;
  }
  costs.woken_wait_us = woken_total / kEvents;

  before = thread_cpu_us();
  for (int i = 0; i < kEvents; ++i)
    device.wait_frames(kWindowFrames, std::chrono::microseconds(150));
  costs.timed_wait_us = (thread_cpu_us() - before) / kEvents;
  return costs;
}

}  // namespace skav::bench
