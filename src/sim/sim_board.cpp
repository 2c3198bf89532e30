#include "sim/sim_board.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "core/transfer/block_transfer.h"

namespace skav::sim {

namespace {

using Clock = std::chrono::steady_clock;
using transfer::kAckInterval;
using transfer::kChunkSize;

constexpr std::size_t kNormalAck = 64;
constexpr std::size_t kPaddedAck = 4;
constexpr std::size_t kOversizedAck = 200;
constexpr std::size_t kTextChars = 255;  // a Text Block: at most 255 characters and a zero byte

void put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

bool nth(int wanted, int count) { return wanted != 0 && (wanted == -1 || wanted == count); }

std::uint32_t frames_for(std::uint32_t length) { return (length + kChunkSize - 1) / kChunkSize; }

}  // namespace

SimBoard::SimBoard(link::FrameDevice& device, BoardOptions options)
    : device_(device),
      options_(std::move(options)),
      random_(options_.seed),
      window_(std::make_unique<std::uint8_t[]>(std::size_t{kChunkSize} * kAckInterval)) {
  diag_text_bytes_.assign(options_.diag_text.begin(), options_.diag_text.end());
  last_activity_ = Clock::now();
}

void SimBoard::run(const std::atomic<bool>& stop) {
  while (!stop.load()) serve_one(link::kReadTimeout);
}

bool SimBoard::serve_one(std::chrono::milliseconds timeout) {
  const std::uint8_t* frame = nullptr;
  int length = device_.receive(&frame, std::min(timeout, link::kReadTimeout));
  if (length <= 0) {
    on_idle();
    return false;
  }
  handle_frame(frame, static_cast<std::size_t>(length));
  return true;
}

void SimBoard::handle_frame(const std::uint8_t* frame, std::size_t length) {
  if (length < link::kEthernetHeader) return;
  if (silent() || state_ == State::kFinished) return;
  int received = stats_.frames_received.fetch_add(1) + 1;
  // A frame after a long silence belongs to a fresh start, not to the stalled exchange, even
  // when no empty receive came in between to notice the stall.
  Clock::time_point now = Clock::now();
  give_up_if_stalled(now);
  if (state_ == State::kFinished) {
    notify();
    return;
  }
  last_activity_ = now;
  std::uint16_t type = link::ether_type(frame);
  if (type == link::kEtherProbe) {
    on_probe();
  } else if (type == link::kEtherHostData && addressed_to_me(frame)) {
    on_data(frame + link::kEthernetHeader, length - link::kEthernetHeader);
  }
  if (nth(options_.faults.silent_after_received, received)) go_silent();
  notify();
}

bool SimBoard::addressed_to_me(const std::uint8_t* frame) const {
  // Like a network adapter out of promiscuous mode: data frames for another board's address are
  // not seen (a board plugged in mid-run does not take over the previous board's exchange).
  static constexpr std::uint8_t kBroadcast[6] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
  return std::memcmp(frame, options_.mac.data(), 6) == 0 || std::memcmp(frame, kBroadcast, 6) == 0;
}

void SimBoard::notify() {
  // Taking the lock orders the board's last changes before a waiter's next check.
  { std::lock_guard lock(wait_mutex_); }
  handled_.notify_all();
}

bool SimBoard::wait_until(const std::function<bool(const SimBoard&)>& condition,
                          std::chrono::milliseconds timeout) const {
  std::unique_lock lock(wait_mutex_);
  return handled_.wait_for(lock, timeout, [&] { return condition(*this); });
}

void SimBoard::on_idle() {
  if (silent()) return;
  give_up_if_stalled(Clock::now());
}

void SimBoard::give_up_if_stalled(std::chrono::steady_clock::time_point now) {
  bool waiting = state_ == State::kReceiveData || state_ == State::kSendData ||
                 state_ == State::kAwaitStatusAck || state_ == State::kDiagText;
  if (!waiting || now - last_activity_ < options_.stall_reset) return;
  // Nobody finishes this exchange: be ready for a fresh one, or end the relay.
  if (state_ == State::kDiagText) {
    finish(false);
    notify();
  } else {
    state_ = State::kIdle;
  }
}

void SimBoard::on_probe() {
  switch (state_) {
    case State::kDiagAwaitProbe:
      // The started image answers like the boot software did, then starts printing.
      if (phase_silent(SilentPhase::kAfterDiagStart)) {
        go_silent();
        return;
      }
      send_reply();
      state_ = State::kDiagText;
      text_pos_ = 0;
      marker_sent_ = false;
      text_source_ = options_.diag_text.empty() ? &diag_image_ : &diag_text_bytes_;
      send_text_block();
      return;
    case State::kDiagText:
      // A repeated probe while the text flows: answer it, keep printing.
      send_reply();
      return;
    default:
      break;
  }
  if (stats_.exchanges.load() > 0) {
    // The station searches for its next board: this one is done.
    finish(true);
    return;
  }
  state_ = State::kIdle;
  send_reply();
}

void SimBoard::send_reply() {
  std::size_t length = options_.faults.random_payloads ? random_fill(payload_area(), 0, 100) : 0;
  stats_.probes_answered.fetch_add(1);
  send_built(link::kEtherReply, length);
}

void SimBoard::on_data(const std::uint8_t* payload, std::size_t length) {
  // An empty payload is neither a block frame nor an acknowledgement.
  if (length == 0) return;
  switch (state_) {
    case State::kIdle: take_header(payload, length); break;
    case State::kReceiveData: receive_chunk(payload, length); break;
    case State::kSendData:
    case State::kAwaitStatusAck:
    case State::kDiagText: on_ack(payload, length); break;
    case State::kDiagAwaitProbe:
    case State::kFinished: break;
  }
}

void SimBoard::take_header(const std::uint8_t* payload, std::size_t length) {
  if (length < 16) return;  // too short to carry a header
  std::uint8_t bytes[transfer::kHeaderSize] = {};
  std::memcpy(bytes, payload, std::min<std::size_t>(length, transfer::kHeaderSize));
  header_ = transfer::decode_header(bytes);
  int number = stats_.headers.fetch_add(1) + 1;
  {
    std::lock_guard lock(mutex_);
    last_header_ = header_;
  }
  const BoardFaults& faults = options_.faults;
  silence_here_ = faults.silent_phase != SilentPhase::kNever &&
                  (faults.silent_exchange == 0 || faults.silent_exchange == number);
  if (phase_silent(SilentPhase::kAfterHeader)) {
    go_silent();
    return;
  }
  send_ack();
  pos_ = 0;
  frames_ = 0;
  total_frames_ = frames_for(header_.length);
  if (header_.command == transfer::kRead) {
    corrupting_ = header_.length > 0 && nth(faults.corrupt_read, ++reads_started_);
    state_ = State::kSendData;
    if (header_.length == 0) {
      end_data_phase();
    } else {
      send_window();
    }
    return;
  }
  // Write, exe, or a command the board does not know: the station sends `length` bytes.
  storing_ = header_.length <= kBoardCapacity;
  if (storing_ && rx_.size() < header_.length) rx_.resize(header_.length);
  state_ = State::kReceiveData;
  if (header_.length == 0) end_data_phase();
}

void SimBoard::receive_chunk(const std::uint8_t* payload, std::size_t length) {
  if (nth(options_.faults.lose_received_data_frame, ++received_data_frames_)) return;
  std::uint32_t chunk = std::min(kChunkSize, header_.length - pos_);
  if (storing_) std::memcpy(rx_.data() + pos_, payload, std::min<std::size_t>(length, chunk));
  pos_ += chunk;
  ++frames_;
  if (phase_silent(SilentPhase::kMidData) && frames_ == (total_frames_ + 1) / 2) {
    go_silent();
    return;
  }
  if (frames_ % kAckInterval == 0 || pos_ == header_.length) send_ack();
  if (pos_ == header_.length) end_data_phase();
}

void SimBoard::on_ack(const std::uint8_t* payload, std::size_t length) {
  if (length != transfer::kAckSize || std::memcmp(payload, transfer::kAckFrame, 4) != 0)
    stats_.malformed_acks.fetch_add(1);
  switch (state_) {
    case State::kSendData:
      if (pos_ == header_.length) {
        end_data_phase();
      } else {
        send_window();
      }
      break;
    case State::kAwaitStatusAck: complete_exchange(); break;
    case State::kDiagText:
      if (marker_sent_) {
        finish(false);
      } else {
        send_text_block();
      }
      break;
    default: break;
  }
}

bool SimBoard::plain_window() const {
  const BoardFaults& faults = options_.faults;
  return !faults.foreign_frames && faults.lose_sent_data_frame == 0 &&
         faults.duplicate_data_frame == 0 && faults.silent_after_sent == 0 && !corrupting_ &&
         !phase_silent(SilentPhase::kMidData) && !silent();
}

void SimBoard::read_chunk(std::uint8_t* out, std::uint32_t chunk) {
  std::uint8_t type = header_.memory_type;
  if (type >= transfer::kNand && type <= transfer::kMem) {
    memories_[type].read(static_cast<std::uint64_t>(header_.destination) + pos_, out, chunk);
  } else {
    std::memset(out, 0xff, chunk);
  }
}

void SimBoard::send_plain_window() {
  const std::uint8_t* payloads[kAckInterval];
  std::size_t lengths[kAckInterval];
  std::size_t count = 0;
  do {
    std::uint32_t chunk = std::min(kChunkSize, header_.length - pos_);
    std::uint8_t* out = window_.get() + count * kChunkSize;
    read_chunk(out, chunk);
    // Padded to the Ethernet minimum like every frame the board sends.
    std::size_t length = std::max<std::size_t>(chunk, link::kMinFrame - link::kEthernetHeader);
    std::memset(out + chunk, 0, length - chunk);
    payloads[count] = out;
    lengths[count] = length;
    ++count;
    pos_ += chunk;
    ++frames_;
  } while (frames_ % kAckInterval != 0 && pos_ < header_.length);
  sent_data_frames_ += static_cast<int>(count);
  link::write_header(tx_, link::kBroadcast, options_.mac, link::kEtherTargetData);
  // Counted before they leave, so that whoever receives them sees the count.
  stats_.frames_sent.fetch_add(static_cast<int>(count));
  device_.send_frames(tx_, payloads, lengths, count);
}

void SimBoard::send_window() {
  // Without send faults a window goes out in one call (one system call on a packet socket), so
  // that the board keeps up with the station.
  if (plain_window()) {
    send_plain_window();
    return;
  }
  const BoardFaults& faults = options_.faults;
  do {
    std::uint32_t chunk = std::min(kChunkSize, header_.length - pos_);
    std::uint8_t* out = payload_area();
    read_chunk(out, chunk);
    // A corrupted copy differs in the middle byte of the region.
    std::uint32_t middle = header_.length / 2;
    if (corrupting_ && middle >= pos_ && middle < pos_ + chunk) out[middle - pos_] ^= 0x5a;
    ++sent_data_frames_;
    if (!nth(faults.lose_sent_data_frame, sent_data_frames_)) {
      bool twice = nth(faults.duplicate_data_frame, sent_data_frames_);
      send_built(link::kEtherTargetData, chunk);
      if (twice) send_built(link::kEtherTargetData, chunk);
    }
    pos_ += chunk;
    ++frames_;
    if (phase_silent(SilentPhase::kMidData) && frames_ == (total_frames_ + 1) / 2) {
      go_silent();
      return;
    }
  } while (frames_ % kAckInterval != 0 && pos_ < header_.length);
}

void SimBoard::end_data_phase() {
  if (state_ == State::kReceiveData) {
    std::uint8_t type = header_.memory_type;
    if (storing_ && type >= transfer::kNand && type <= transfer::kMem) {
      std::lock_guard lock(mutex_);
      if (type == transfer::kSpi || type == transfer::kLpc)
        environment_ = EnvironmentBlock{
            type, header_.destination,
            std::vector<std::uint8_t>(rx_.data(), rx_.data() + header_.length)};
      if (header_.command == transfer::kExe && type == transfer::kMem)
        diag_image_.assign(rx_.data(), rx_.data() + header_.length);
      // Last, as it may hand rx_'s bytes to the memory: rewriting an image is then no copy.
      memories_[type].replace(header_.destination, rx_, header_.length);
    }
  }
  if (phase_silent(SilentPhase::kBeforeStatus)) {
    go_silent();
    return;
  }
  send_status();
  state_ = State::kAwaitStatusAck;
}

bool SimBoard::status_ok() const {
  const BoardFaults& faults = options_.faults;
  std::uint8_t type = header_.memory_type;
  if (type < transfer::kNand || type > transfer::kMem) return false;
  if (header_.command > transfer::kExe) return false;
  if (header_.command != transfer::kRead && !storing_) return false;
  if (nth(faults.fail_status, stats_.headers.load())) return false;
  if (faults.fail_writes && header_.command == transfer::kWrite) return false;
  return true;
}

void SimBoard::complete_exchange() {
  switch (header_.command) {
    case transfer::kWrite: stats_.writes.fetch_add(1); break;
    case transfer::kRead: stats_.reads.fetch_add(1); break;
    case transfer::kExe: stats_.exes.fetch_add(1); break;
    default: break;
  }
  state_ = State::kIdle;
  if (header_.command == transfer::kExe && header_.memory_type == transfer::kMem && storing_) {
    // The diagnostic image starts: it will answer the station's next probe.
    diag_ran_.store(true);
    state_ = State::kDiagAwaitProbe;
  }
  // Last: whoever sees the exchange counted sees everything else about it.
  stats_.exchanges.fetch_add(1);
}

void SimBoard::send_text_block() {
  const std::vector<std::uint8_t>& text = *text_source_;
  std::uint8_t* out = payload_area();
  if (text_pos_ < text.size()) {
    std::size_t chars = std::min(kTextChars, text.size() - text_pos_);
    std::memcpy(out, text.data() + text_pos_, chars);
    out[chars] = 0;
    text_pos_ += static_cast<std::uint32_t>(chars);
    stats_.text_blocks.fetch_add(1);
    send_built(link::kEtherTargetData, chars + 1);
    if (phase_silent(SilentPhase::kMidDiagText)) go_silent();
    return;
  }
  std::memcpy(out, kDiagEndMarker.data(), kDiagEndMarker.size());
  send_built(link::kEtherTargetData, kDiagEndMarker.size());
  marker_sent_ = true;
}

void SimBoard::finish(bool on_probe) {
  state_ = State::kFinished;
  finished_on_probe_.store(on_probe, std::memory_order_release);
  finished_.store(true, std::memory_order_release);
}

bool SimBoard::phase_silent(SilentPhase phase) const {
  return silence_here_ && options_.faults.silent_phase == phase;
}

void SimBoard::send_ack() {
  if (nth(options_.faults.lose_ack, ++acks_owed_)) return;
  std::size_t length = kNormalAck;
  std::uint8_t* out = payload_area();
  if (options_.faults.random_payloads) {
    length = random_fill(out, 1, 300);
  } else {
    switch (options_.faults.ack_style) {
      case AckStyle::kNormal: length = kNormalAck; break;
      case AckStyle::kPadded: length = kPaddedAck; break;
      case AckStyle::kOversized: length = kOversizedAck; break;
    }
    std::memset(out, 0, length);
    std::memcpy(out, "ACK", 3);
  }
  send_built(link::kEtherTargetData, length);
}

void SimBoard::send_status() {
  if (options_.status_delay.count() > 0) std::this_thread::sleep_for(options_.status_delay);
  std::uint8_t* out = payload_area();
  if (options_.faults.random_payloads) {
    random_fill(out, transfer::kStatusSize, transfer::kStatusSize);
  } else {
    std::memset(out, 0, transfer::kStatusSize);
  }
  put32(out, status_ok() ? transfer::kSuccessCode : kFailureCode);
  send_built(link::kEtherTargetData, transfer::kStatusSize);
}

void SimBoard::send_built(std::uint16_t ether_type, std::size_t length) {
  if (silent()) return;
  if (options_.faults.foreign_frames) send_foreign();
  length = std::min(length, link::kMaxPayload);
  link::write_header(tx_, link::kBroadcast, options_.mac, ether_type);
  std::size_t total = link::kEthernetHeader + length;
  if (total < link::kMinFrame) {
    std::memset(tx_ + total, 0, link::kMinFrame - total);
    total = link::kMinFrame;
  }
  // Counted before it leaves, so that whoever receives it sees the count.
  int sent = stats_.frames_sent.fetch_add(1) + 1;
  device_.send(tx_, total);
  if (nth(options_.faults.silent_after_sent, sent)) go_silent();
}

void SimBoard::send_foreign() {
  link::write_header(foreign_, link::kBroadcast, options_.mac, options_.faults.foreign_ether_type);
  std::uint8_t* payload = foreign_ + link::kEthernetHeader;
  std::size_t room = link::kMinFrame - link::kEthernetHeader;
  if (options_.faults.random_payloads) {
    for (std::size_t i = 0; i < room; ++i) payload[i] = static_cast<std::uint8_t>(random_());
  } else {
    std::memset(payload, 0, room);
  }
  device_.send(foreign_, link::kMinFrame);
}

std::size_t SimBoard::random_fill(std::uint8_t* out, std::size_t min_length,
                                  std::size_t max_length) {
  std::size_t length = min_length + random_() % (max_length - min_length + 1);
  for (std::size_t i = 0; i < length; ++i) out[i] = static_cast<std::uint8_t>(random_());
  return length;
}

BoardStats SimBoard::stats() const {
  auto get = [](const std::atomic<int>& v) { return v.load(); };
  BoardStats s;
  s.probes_answered = get(stats_.probes_answered);
  s.headers = get(stats_.headers);
  s.exchanges = get(stats_.exchanges);
  s.writes = get(stats_.writes);
  s.reads = get(stats_.reads);
  s.exes = get(stats_.exes);
  s.frames_received = get(stats_.frames_received);
  s.frames_sent = get(stats_.frames_sent);
  s.text_blocks = get(stats_.text_blocks);
  s.malformed_acks = get(stats_.malformed_acks);
  return s;
}

std::optional<transfer::CommandHeader> SimBoard::last_header() const {
  std::lock_guard lock(mutex_);
  return last_header_;
}

std::vector<std::uint8_t> SimBoard::memory(std::uint8_t type, std::uint64_t address,
                                           std::uint32_t length) const {
  std::vector<std::uint8_t> out(length, 0xff);
  if (type < transfer::kNand || type > transfer::kMem) return out;
  std::lock_guard lock(mutex_);
  memories_[type].read(address, out.data(), length);
  return out;
}

std::optional<EnvironmentBlock> SimBoard::environment() const {
  std::lock_guard lock(mutex_);
  return environment_;
}

std::vector<std::uint8_t> SimBoard::diag_image() const {
  std::lock_guard lock(mutex_);
  return diag_image_;
}

}  // namespace skav::sim
