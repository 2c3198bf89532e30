#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/link/frame_device.h"

namespace skav::bench {

// What the station's link did per acknowledgement window, as seen between its Link and the
// device. Only windows of 16 frames that follow one another count (not a block's first
// or last window, nor a command header's).
struct WindowFigures {
  // Writing: from the acknowledgement's arrival (the device's receive stamp) to the station
  // handing the next window's frames to the kernel, in microseconds, per window.
  std::vector<double> write_turnaround_us;
  // Reading: from the arrival of a window's last frame to the station handing its
  // acknowledgement to the kernel.
  std::vector<double> read_turnaround_us;
  // Windows counted, and the device's wake-ups (waits that slept) while the station waited
  // for them.
  std::uint64_t write_windows = 0;
  std::uint64_t write_wake_ups = 0;
  std::uint64_t read_windows = 0;
  std::uint64_t read_wake_ups = 0;

  void add(const WindowFigures& other);
};

// A FrameBackend that hands out the devices of another seen through a probe, for the benchmark.
// `wake_ups` counts the sleeps of the station's device so far.
class WindowProbe : public link::FrameBackend {
 public:
  WindowProbe(link::FrameBackend& inner, std::function<std::uint64_t()> wake_ups)
      : inner_(inner), wake_ups_(std::move(wake_ups)) {}
  link::AdapterListing list_adapters() override { return inner_.list_adapters(); }
  std::optional<link::Mac> adapter_mac(const std::string& name) override {
    return inner_.adapter_mac(name);
  }
  link::OpenResult open(const std::string& name) override;

  // The figures since the last take(), and a fresh start.
  WindowFigures take();

 private:
  class Device;
  link::FrameBackend& inner_;
  std::function<std::uint64_t()> wake_ups_;
  std::shared_ptr<WindowFigures> figures_ = std::make_shared<WindowFigures>();
};

}  // namespace skav::bench
