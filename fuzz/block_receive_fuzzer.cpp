// Block Receive over the in-process link, fed with whatever frames the input describes. After
// the input's frames come enough full data frames to complete any block, so every input ends
// without waiting. The received bytes, the frames taken and the acknowledgements sent are
// checked against the protocol's frame counting.

#include <cstdint>
#include <cstring>
#include <vector>

#include "core/transfer/block_transfer.h"
#include "fuzz_support.h"

namespace {

using skav::fuzz::check;
using skav::fuzz::Frame;
using skav::fuzz::FrameCutter;
using skav::transfer::kAckInterval;
using skav::transfer::kChunkSize;

constexpr std::uint32_t kMaxFrames = 48;  // the longest block asks for this many data frames
constexpr std::uint32_t kMaxBlock = kMaxFrames * kChunkSize;
constexpr std::size_t kMaxInputFrames = 400;  // with the fillers, below the wire's 512 slots
constexpr std::uint8_t kFill = 0xA5;

class ProgressCheck : public skav::transfer::ProgressObserver {
 public:
  explicit ProgressCheck(std::uint64_t total) : total_(total) {}
  void on_progress(std::uint64_t done, std::uint64_t total) override {
    check(total == total_, "progress reports the block's length");
    check(done >= last_ && done <= total, "progress only grows, up to the length");
    last_ = done;
    ++calls_;
  }
  std::uint64_t last() const { return last_; }
  int calls() const { return calls_; }

 private:
  std::uint64_t total_;
  std::uint64_t last_ = 0;
  int calls_ = 0;
};

// What Block Receive must make of the queued frames.
struct Expected {
  std::vector<std::uint8_t> bytes;
  std::size_t frames_taken = 0;
  std::uint32_t acks = 0;
};

Expected expect(std::uint32_t n, const Frame* frames, std::size_t count) {
  Expected e;
  e.bytes.assign(n, kFill);
  if (n == 0) return e;
  std::uint32_t pos = 0;
  std::uint32_t accepted = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const Frame& frame = frames[i];
    ++e.frames_taken;
    std::size_t payload = skav::fuzz::accepted_payload(frame);
    if (payload == 0) continue;
    std::uint32_t remaining = n - pos;
    std::uint32_t capacity = remaining > kChunkSize ? kChunkSize : remaining;
    std::size_t copied = payload < capacity ? payload : capacity;
    std::memcpy(e.bytes.data() + pos, frame.bytes + skav::link::kEthernetHeader, copied);
    ++accepted;
    if (remaining > kChunkSize) {
      pos += kChunkSize;
      if (accepted % kAckInterval == 0) ++e.acks;
    } else {
      ++e.acks;
      return e;
    }
  }
  check(false, "the filler frames complete every block");
  return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  auto& rig = skav::fuzz::WireRig::get();
  rig.reset();

  std::uint32_t n = static_cast<std::uint32_t>(data[0] | data[1] << 8 | data[2] << 16) %
                    (kMaxBlock + 1);
  static std::vector<Frame> frames(kMaxInputFrames + kMaxFrames);
  FrameCutter cutter(data + 3, size - 3);
  std::size_t count = 0;
  while (count < kMaxInputFrames && cutter.next(frames[count])) ++count;
  std::uint32_t fillers = (n + kChunkSize - 1) / kChunkSize;
  std::uint8_t chunk[kChunkSize];
  for (std::uint32_t i = 0; i < fillers; ++i) {
    std::memset(chunk, static_cast<int>(0x30 + i), sizeof chunk);
    FrameCutter::build(frames[count++], skav::link::kEtherTargetData, chunk, sizeof chunk);
  }
  for (std::size_t i = 0; i < count; ++i) rig.inject(frames[i]);

  std::vector<std::uint8_t> block(n, kFill);
  ProgressCheck progress(n);
  skav::transfer::Channel channel{rig.link(), std::chrono::milliseconds(50), nullptr, &progress};
  auto outcome = skav::transfer::block_receive(channel, block.data(), n);
  check(outcome == skav::transfer::Outcome::kOk, "a block with enough frames completes");

  Expected expected = expect(n, frames.data(), count);
  check(block == expected.bytes, "the block holds the accepted frames' bytes at their chunks");
  check(rig.wire().to_station().size() == count - expected.frames_taken,
        "no frame is taken after the last one of the block");

  std::uint32_t acks = 0;
  Frame sent;
  while (rig.take_sent(sent) > 0) {
    check(sent.length == skav::link::kEthernetHeader + skav::transfer::kAckSize,
          "an acknowledgement has a 64-byte payload");
    check(skav::link::ether_type(sent.bytes) == skav::link::kEtherHostData,
          "an acknowledgement is a host-to-target data frame");
    check(std::memcmp(sent.bytes, skav::fuzz::kBoardMac.data(), 6) == 0 &&
              std::memcmp(sent.bytes + 6, skav::fuzz::kHostMac.data(), 6) == 0,
          "an acknowledgement goes from the host to the target");
    check(std::memcmp(sent.bytes + skav::link::kEthernetHeader, skav::transfer::kAckFrame,
                      skav::transfer::kAckSize) == 0,
          "an acknowledgement carries ZZQ7 and zeros");
    ++acks;
  }
  check(acks == expected.acks, "one acknowledgement per 16 frames and after the last");
  check(progress.calls() == static_cast<int>(expected.acks) + (n > 0 ? 1 : 0),
        "progress at the start and once per acknowledgement");
  check(n == 0 || progress.last() == n, "progress ends at the block's length");
  return 0;
}
