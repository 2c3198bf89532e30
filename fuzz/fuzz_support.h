#pragma once

// Shared by the fuzz targets: a check that turns a broken property into a crash that libFuzzer
// reports, a private scratch folder for targets that read files, and an in-process link whose
// board end is fed with frames cut from the fuzz input.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>

#include "core/clock.h"
#include "core/link/frame_device.h"
#include "core/link/in_memory.h"
#include "core/link/link.h"

namespace skav::fuzz {

// A property of the code under test that must hold for every input.
inline void check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

// A folder of this process's own under $TMPDIR (scripts/fuzz.sh points it at memory), removed
// at exit.
inline const std::filesystem::path& scratch_dir() {
  // Never destroyed: the removal at exit runs after static objects are gone.
  static const std::filesystem::path* dir = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "skav-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    auto* path = new std::filesystem::path(pattern);
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(scratch_dir(), ignored);
    });
    return path;
  }();
  return *dir;
}

inline void write_file(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  check(static_cast<bool>(out), "writing a scratch file");
}

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline constexpr link::Mac kHostMac = {0x02, 0x53, 0x4b, 0x41, 0x56, 0x00};
inline constexpr link::Mac kBoardMac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};

// One frame cut from the fuzz input. Kind byte, 16-bit little-endian length, then the bytes:
// kind % 4 == 0: a target-to-host data frame (0x8088) with the bytes as payload;
//             1: a Discovery Reply (0x8022) with the bytes as payload;
//             2: the bytes are the whole frame, Ethernet header included (any length);
//             3: a frame of EtherType 0x0800 with the bytes as payload.
// A payload longer than an Ethernet frame holds is cut. Fewer bytes than the length announces
// give a shorter frame.
struct Frame {
  std::uint8_t bytes[link::kMaxFrame];
  std::size_t length = 0;
};

class FrameCutter {
 public:
  FrameCutter(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool next(Frame& frame) {
    if (pos_ + 3 > size_) return false;
    std::uint8_t kind = data_[pos_] % 4;
    std::size_t want = static_cast<std::size_t>(data_[pos_ + 1] | data_[pos_ + 2] << 8);
    pos_ += 3;
    std::size_t take = std::min(want, size_ - pos_);
    const std::uint8_t* bytes = data_ + pos_;
    pos_ += take;
    if (kind == 2) {
      frame.length = std::min(take, link::kMaxFrame);
      std::memcpy(frame.bytes, bytes, frame.length);
      return true;
    }
    std::uint16_t ether_type = kind == 0   ? link::kEtherTargetData
                               : kind == 1 ? link::kEtherReply
                                           : std::uint16_t{0x0800};
    build(frame, ether_type, bytes, std::min(take, link::kMaxPayload));
    return true;
  }

  // A frame from the board to the station with this EtherType and payload.
  static void build(Frame& frame, std::uint16_t ether_type, const std::uint8_t* payload,
                    std::size_t length) {
    std::memcpy(frame.bytes, kHostMac.data(), 6);
    std::memcpy(frame.bytes + 6, kBoardMac.data(), 6);
    frame.bytes[12] = static_cast<std::uint8_t>(ether_type >> 8);
    frame.bytes[13] = static_cast<std::uint8_t>(ether_type & 0xff);
    if (length > 0) std::memcpy(frame.bytes + link::kEthernetHeader, payload, length);
    frame.length = link::kEthernetHeader + length;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// How the station's link takes a frame: the payload length it reports as accepted (> 0), or 0
// when the frame is not accepted (nothing, a foreign EtherType, a runt, an empty payload).
inline std::size_t accepted_payload(const Frame& frame) {
  if (frame.length < link::kEthernetHeader) return 0;
  if (link::ether_type(frame.bytes) != link::kEtherTargetData) return 0;
  return frame.length - link::kEthernetHeader;
}

// The station's Link opened on the station end of an in-process wire, on a clock of its own. One
// per process: the queues are emptied before every input, so nothing carries over from one
// input to the next. No input waits: a receive that finds nothing moves the clock on by its
// time-out at once instead.
class WireRig {
 public:
  static WireRig& get() {
    static WireRig rig;
    return rig;
  }

  link::Link& link() { return link_; }
  link::InMemoryWire& wire() { return wire_; }
  ManualClock& clock() { return clock_; }

  void reset() {
    wire_.to_board().clear();
    wire_.to_station().clear();
    link_.set_target_mac(kBoardMac);
  }
  // Queues a frame for the station, as the board would send it.
  void inject(const Frame& frame) { wire_.board_end().send(frame.bytes, frame.length); }
  // Takes the next frame the station sent; 0 when none is waiting.
  int take_sent(Frame& frame) {
    int n = wire_.to_board().pop(frame.bytes, std::chrono::milliseconds(0));
    frame.length = n > 0 ? static_cast<std::size_t>(n) : 0;
    return n;
  }

 private:
  // The station's end of the wire, whose silences pass on the rig's clock. (A frame of no bytes
  // is taken at once, as any other.)
  class StationEnd : public link::FrameDevice {
   public:
    StationEnd(link::InMemoryWire& wire, ManualClock& clock) : wire_(wire), clock_(clock) {}
    int send(const std::uint8_t* frame, std::size_t length) override {
      return wire_.station_end().send(frame, length);
    }
    int receive(const std::uint8_t** frame, std::chrono::milliseconds timeout) override {
      if (wire_.to_station().size() == 0) {
        clock_.advance(timeout);
        return 0;
      }
      return wire_.station_end().receive(frame, std::chrono::milliseconds(0));
    }

   private:
    link::InMemoryWire& wire_;
    ManualClock& clock_;
  };

  WireRig()
      : station_end_(wire_, clock_),
        backend_(station_end_, kHostMac),
        link_(backend_, clock_) {
    link::AdapterList list;
    link_.enumerate_adapters(nullptr, list);
    check(link_.open_adapter(nullptr, 1) == 1, "opening the in-process adapter");
  }

  link::InMemoryWire wire_;
  ManualClock clock_;
  StationEnd station_end_;
  link::InMemoryBackend backend_;
  link::Link link_;
};

}  // namespace skav::fuzz
