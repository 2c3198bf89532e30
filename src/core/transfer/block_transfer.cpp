#include "core/transfer/block_transfer.h"

namespace skav::transfer {

const std::uint8_t kAckFrame[kAckSize] = {0x5A, 0x5A, 0x51, 0x37};

namespace {

using Clock = std::chrono::steady_clock;

// Polls the link until a call is accepted: a positive length, or a frame cut to the capacity.
// Nothing arriving, a foreign EtherType and an empty payload are not accepted. Gives up after
// a silence of the channel's timeout, counted from the start of this wait.
Outcome await_frame(Channel& channel, std::uint8_t* buffer, std::uint32_t capacity) {
  Clock::time_point start{};
  bool started = false;
  for (;;) {
    int result = channel.link.receive_data_frame(buffer, capacity);
    if (result > 0 || result == -3) return Outcome::kOk;
    if (channel.stopping()) return Outcome::kStopped;
    // The clock is read only when a poll came back empty, never on the frame path.
    Clock::time_point now = Clock::now();
    if (!started) {
      start = now;
      started = true;
    } else if (now - start >= channel.timeout) {
      return Outcome::kTimeout;
    }
  }
}

void report(Channel& channel, std::uint64_t done, std::uint64_t total) {
  if (channel.progress != nullptr) channel.progress->on_progress(done, total);
}

}  // namespace

Outcome block_send(Channel& channel, const std::uint8_t* data, std::uint32_t n) {
  if (n == 0) return Outcome::kOk;
  std::uint8_t ack[kAckSize];
  std::uint32_t frames = 0;
  std::uint32_t pos = 0;
  while (n - pos > kChunkSize) {
    channel.link.send_data_frame(data + pos, kChunkSize);
    ++frames;
    pos += kChunkSize;
    if (frames % kAckInterval == 0) {
      if (Outcome o = await_frame(channel, ack, kAckSize); o != Outcome::kOk) return o;
      report(channel, pos, n);
    }
  }
  channel.link.send_data_frame(data + pos, n - pos);
  if (Outcome o = await_frame(channel, ack, kAckSize); o != Outcome::kOk) return o;
  report(channel, n, n);
  return Outcome::kOk;
}

Outcome block_receive(Channel& channel, std::uint8_t* data, std::uint32_t n) {
  if (n == 0) return Outcome::kOk;
  std::uint32_t frames = 0;
  std::uint32_t pos = 0;
  while (n - pos > kChunkSize) {
    if (Outcome o = await_frame(channel, data + pos, kChunkSize); o != Outcome::kOk) return o;
    ++frames;
    pos += kChunkSize;
    if (frames % kAckInterval == 0) {
      channel.link.send_data_frame(kAckFrame, kAckSize);
      report(channel, pos, n);
    }
  }
  if (Outcome o = await_frame(channel, data + pos, n - pos); o != Outcome::kOk) return o;
  channel.link.send_data_frame(kAckFrame, kAckSize);
  report(channel, n, n);
  return Outcome::kOk;
}

}  // namespace skav::transfer
