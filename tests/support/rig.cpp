#include "support/rig.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <sstream>
#include <thread>

#include "pcap/pcap_backend.h"

namespace skav::test {

class DirectCable::StationEnd : public link::FrameDevice {
 public:
  explicit StationEnd(DirectCable& cable) : cable_(cable) {}
  int send(const std::uint8_t* frame, std::size_t length) override {
    std::lock_guard lock(cable_.peer_mutex_);
    if (cable_.peer_) cable_.peer_(frame, length);
    return 0;
  }
  int receive(const std::uint8_t** frame, std::chrono::milliseconds timeout) override {
    *frame = buffer_.data();
    int length = cable_.to_station_.pop(buffer_.data(), std::chrono::milliseconds(0));
    if (length == 0) cable_.clock_.advance(timeout);
    return length;
  }

 private:
  DirectCable& cable_;
  std::array<std::uint8_t, link::kMaxFrame> buffer_{};
};

class DirectCable::BoardEnd : public link::FrameDevice {
 public:
  explicit BoardEnd(DirectCable& cable) : cable_(cable) {}
  int send(const std::uint8_t* frame, std::size_t length) override {
    cable_.to_station_.push(frame, length);
    return 0;
  }
  // The board is served by the cable, never by a receive of its own.
  int receive(const std::uint8_t**, std::chrono::milliseconds) override { return 0; }

 private:
  DirectCable& cable_;
};

DirectCable::DirectCable()
    : to_station_(4096),
      station_end_(std::make_unique<StationEnd>(*this)),
      board_end_(std::make_unique<BoardEnd>(*this)),
      backend_(std::make_unique<link::InMemoryBackend>(*station_end_)) {}

DirectCable::~DirectCable() = default;

link::FrameBackend& DirectCable::backend() { return *backend_; }
std::string DirectCable::adapter() const { return link::InMemoryBackend::kAdapterName; }
link::FrameDevice& DirectCable::board_end() { return *board_end_; }
link::FrameDevice& DirectCable::station_end() { return *station_end_; }

void DirectCable::set_peer(Peer peer) {
  std::lock_guard lock(peer_mutex_);
  peer_ = std::move(peer);
}

namespace {

class VethCable : public Cable {
 public:
  VethCable(std::string station_end, link::OpenResult board)
      : station_end_(std::move(station_end)), board_(std::move(board.device)) {
    thread_ = std::thread([this] { serve(); });
  }
  ~VethCable() override {
    stop_ = true;
    thread_.join();
  }
  link::FrameBackend& backend() override { return backend_; }
  Clock& clock() override { return steady_clock(); }
  std::string adapter() const override { return station_end_; }
  link::FrameDevice& board_end() override { return *board_; }
  void set_peer(Peer peer) override {
    std::lock_guard lock(peer_mutex_);
    peer_ = std::move(peer);
  }

 private:
  void serve() {
    while (!stop_.load()) {
      const std::uint8_t* frame = nullptr;
      int length = board_->receive(&frame, std::chrono::milliseconds(10));
      std::lock_guard lock(peer_mutex_);
      if (!peer_) continue;
      if (length > 0) {
        peer_(frame, static_cast<std::size_t>(length));
      } else {
        peer_(nullptr, 0);
      }
    }
  }

  pcap::PcapBackend backend_;
  std::string station_end_;
  std::unique_ptr<link::FrameDevice> board_;
  std::mutex peer_mutex_;
  Peer peer_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace

std::unique_ptr<Cable> direct_cable() { return std::make_unique<DirectCable>(); }

Peer serve(board::SimBoard& board) {
  return [&board](const std::uint8_t* frame, std::size_t length) {
    if (frame != nullptr) {
      board.handle_frame(frame, length);
    } else {
      board.on_idle();
    }
  };
}

Peer serve(board::BoardLine& line) {
  return [&line](const std::uint8_t* frame, std::size_t length) {
    if (frame != nullptr) {
      line.handle_frame(frame, length);
    } else {
      line.on_idle();
    }
  };
}

std::unique_ptr<Cable> veth_cable(const std::string& station_end, const std::string& board_end) {
  link::OpenResult board = pcap::PcapBackend().open_for_board(board_end);
  if (!board.device) return nullptr;
  return std::make_unique<VethCable>(station_end, std::move(board));
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::vector<RecordLine> read_records(const std::filesystem::path& file) {
  std::vector<RecordLine> records;
  std::vector<std::string> lines = split_lines(read_file(file));
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::vector<std::string> f;
    std::stringstream in(lines[i]);
    std::string field;
    while (std::getline(in, field, ',')) f.push_back(field);
    if (f.size() != 11) continue;
    records.push_back({f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9]});
  }
  return records;
}

StationRig::StationRig(RigOptions options)
    : store(dir / "settings.reg"), cable_(options.cable ? std::move(options.cable) : direct_cable()) {
  if (options.examples) dir.copy_from(std::filesystem::path(SKAV_SOURCE_DIR) / "examples");
  if (options.barcode >= 0) store.number_write(nullptr, settings::kBarCode, options.barcode);
  MacDigits::Digits first;
  if (MacDigits::parse(options.first_address, first)) store.machwid_write(nullptr, first);
  station::StationOptions station_options;
  station_options.dir = dir.path();
  station_options.transfer_timeout = options.timeout;
  station_options.clock = &cable_->clock();
  station_options.interface = options.interface ? options.interface : cable_->adapter();
  station = std::make_unique<station::Station>(cable_->backend(), store, pool, log, nullptr,
                                               station_options);
  station->post_start_up();
  station->run_commands();
}

StationRig::~StationRig() {
  station->stop();
  cable_->set_peer(nullptr);
}

board::SimBoard* StationRig::plug(const board::BoardOptions& options) {
  boards_.push_back(std::make_unique<board::SimBoard>(cable_->board_end(), options));
  board::SimBoard* board = boards_.back().get();
  cable_->set_peer(serve(*board));
  return board;
}

void StationRig::unplug() { cable_->set_peer(nullptr); }

board::BoardLine& StationRig::plug_line(const board::BoardOptions& first, int count) {
  cable_->set_peer(nullptr);
  line_ = std::make_unique<board::BoardLine>(cable_->board_end(), first, count);
  cable_->set_peer(serve(*line_));
  return *line_;
}

bool StationRig::step_until(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    station->step();
    if (done()) return true;
    // A run's worker does its work on its own thread; give it a moment.
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return false;
}

void StationRig::type(const std::string& keys) {
  for (char c : keys) station->post_key(c);
  station->run_commands();
}

std::string StationRig::stored_address() {
  MacDigits::Digits digits{};
  if (store.machwid_read(nullptr, digits) != settings::kOk) return "";
  return MacDigits::text(digits);
}

std::vector<std::uint8_t> StationRig::file(const std::string& name) const {
  std::string text = read_file(dir / name);
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

MacDigits::Digits digits_of(std::string_view text) {
  MacDigits::Digits digits{};
  for (std::size_t i = 0; i < digits.size() && i < text.size(); ++i) digits[i] = text[i];
  return digits;
}

std::string written_address(int n) {
  char text[32];
  std::snprintf(text, sizeof text, "02:00:00:0A:00:%02X", n);
  return text;
}

std::string ethaddr_of(const board::SimBoard& board) {
  std::vector<std::uint8_t> bytes = board.memory(2, 0x40000, 5 + 25);
  std::string entry(reinterpret_cast<const char*>(bytes.data()) + 5, 25);
  if (entry.rfind("ethaddr=", 0) != 0) return "";
  return entry.substr(8);
}

}  // namespace skav::test
