#include "support/rig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <sstream>
#include <thread>

#include "app/platform.h"

namespace skav::test {

class DirectCable::StationEnd : public link::FrameDevice {
 public:
  explicit StationEnd(DirectCable& cable) : cable_(cable) {}
  int send(const std::uint8_t* frame, std::size_t length) override {
    std::lock_guard lock(cable_.peer_mutex_);
    if (cable_.peer_) cable_.peer_(frame, length);
    return 0;
  }
  // Takes the next frame once it has arrived; nothing arriving within the time-out is a silence
  // that moves the clock on by the whole time-out.
  int receive(const std::uint8_t** frame, std::chrono::milliseconds timeout) override {
    *frame = buffer_.data();
    if (!reach(1, timeout)) return 0;
    std::lock_guard lock(cable_.due_mutex_);
    taken_due_ = cable_.due_.front();
    cable_.due_.pop_front();
    return cable_.to_station_.pop(buffer_.data(), std::chrono::milliseconds(0));
  }
  void wait_readable(std::chrono::nanoseconds length) override {
    reach(1, std::chrono::duration_cast<Clock::duration>(length));
  }
  // Ends when the count-th frame arrives, if sooner than `length`. A wait that slept wakes late
  // by the cable's wake lateness, as a thread does on a real machine.
  void wait_frames(std::size_t count, std::chrono::nanoseconds length) override {
    const Clock::time_point before = cable_.clock_.now();
    reach(count, std::chrono::duration_cast<Clock::duration>(length));
    if (cable_.clock_.now() != before) cable_.clock_.advance(cable_.wake_lateness_);
  }
  std::optional<std::chrono::nanoseconds> last_receive_age() const override {
    if (!taken_due_) return std::nullopt;
    return cable_.clock_.now() - *taken_due_;
  }

 private:
  // Moves the clock on to the arrival of the count-th frame waiting if that comes within
  // `within`, else by `within`. True when the frames have arrived.
  bool reach(std::size_t count, Clock::duration within) {
    std::optional<Clock::time_point> due;
    {
      std::lock_guard lock(cable_.due_mutex_);
      // Frames are taken in queue order: the count-th can be taken once all before it came.
      if (count > 0 && cable_.due_.size() >= count)
        due = *std::max_element(cable_.due_.begin(),
                                cable_.due_.begin() + static_cast<std::ptrdiff_t>(count));
    }
    const Clock::time_point now = cable_.clock_.now();
    if (due && *due <= now) return true;
    if (due && *due - now <= within) {
      cable_.clock_.advance(*due - now);
      return true;
    }
    cable_.clock_.advance(within);
    return false;
  }

 private:
  DirectCable& cable_;
  std::array<std::uint8_t, link::kMaxFrame> buffer_{};
  std::optional<Clock::time_point> taken_due_;  // when the frame last taken arrived
};

class DirectCable::BoardEnd : public link::FrameDevice {
 public:
  explicit BoardEnd(DirectCable& cable) : cable_(cable) {}
  int send(const std::uint8_t* frame, std::size_t length) override {
    cable_.deliver_after(frame, length, Clock::duration::zero());
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

void DirectCable::deliver_after(const std::uint8_t* frame, std::size_t length, Clock::duration delay) {
  std::lock_guard lock(due_mutex_);
  due_.push_back(clock_.now() + delay);
  to_station_.push(frame, length);
}

void DirectCable::set_peer(Peer peer) {
  std::lock_guard lock(peer_mutex_);
  peer_ = std::move(peer);
}

namespace {

// Real time run faster: a time-out of a second passes in a quarter of one, so that a test of
// a silent board over a real link does not wait it out. The link's own read time-out stays real.
class FastClock : public Clock {
 public:
  static constexpr int kSpeed = 4;
  time_point now() const override {
    return start_ + (std::chrono::steady_clock::now() - start_) * kSpeed;
  }
  void sleep_for(duration length) override { std::this_thread::sleep_for(length / kSpeed); }

 private:
  time_point start_ = std::chrono::steady_clock::now();
};

class VethCable : public Cable {
 public:
  VethCable(std::string station_end, std::string board_end, link::OpenResult board)
      : station_end_(std::move(station_end)),
        board_end_name_(std::move(board_end)),
        board_(std::move(board.device)) {
    thread_ = std::thread([this] { serve(); });
  }
  ~VethCable() override {
    stop_ = true;
    thread_.join();
  }
  link::FrameBackend& backend() override { return *backend_; }
  Clock& clock() override { return clock_; }
  std::string adapter() const override { return station_end_; }
  link::FrameDevice& board_end() override { return forward_; }
  void set_peer(Peer peer) override {
    std::lock_guard lock(mutex_);
    peer_ = std::move(peer);
  }
  bool reconnect() override {
    link::OpenResult board = app::open_board_adapter(board_end_name_);
    if (!board.device) return false;
    std::lock_guard lock(mutex_);
    board_ = std::move(board.device);
    return true;
  }

 private:
  // The boards send through this, so that they keep working across a reconnect.
  class Forward : public link::FrameDevice {
   public:
    explicit Forward(VethCable& cable) : cable_(cable) {}
    int send(const std::uint8_t* frame, std::size_t length) override {
      return cable_.board_->send(frame, length);
    }
    int receive(const std::uint8_t**, std::chrono::milliseconds) override { return 0; }

   private:
    VethCable& cable_;
  };

  void serve() {
    while (!stop_.load()) {
      std::lock_guard lock(mutex_);
      const std::uint8_t* frame = nullptr;
      int length = board_->receive(&frame, std::chrono::milliseconds(10));
      if (!peer_) continue;
      if (length > 0) {
        peer_(frame, static_cast<std::size_t>(length));
      } else {
        peer_(nullptr, 0);
      }
    }
  }

  std::unique_ptr<link::FrameBackend> backend_ = app::make_adapter_backend();
  FastClock clock_;
  std::string station_end_;
  std::string board_end_name_;
  std::mutex mutex_;  // the far end's device and peer; held while a frame is served
  std::unique_ptr<link::FrameDevice> board_;
  Forward forward_{*this};
  Peer peer_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace

std::unique_ptr<Cable> direct_cable() { return std::make_unique<DirectCable>(); }

Peer serve(sim::SimBoard& board) {
  return [&board](const std::uint8_t* frame, std::size_t length) {
    if (frame != nullptr) {
      board.handle_frame(frame, length);
    } else {
      board.on_idle();
    }
  };
}

Peer serve(sim::BoardLine& line) {
  return [&line](const std::uint8_t* frame, std::size_t length) {
    if (frame != nullptr) {
      line.handle_frame(frame, length);
    } else {
      line.on_idle();
    }
  };
}

std::unique_ptr<Cable> veth_cable(const std::string& station_end, const std::string& board_end) {
  link::OpenResult board = app::open_board_adapter(board_end);
  if (!board.device) return nullptr;
  return std::make_unique<VethCable>(station_end, board_end, std::move(board));
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
    // As the station writes it: a last field may be empty, a quoted one may hold a comma.
    const std::vector<std::vector<std::string>> rows = station::parse_csv(lines[i]);
    // Columns added later follow the first ones.
    if (rows.size() != 1 || rows[0].size() < station::kFirstRecordColumns) continue;
    const std::vector<std::string>& f = rows[0];
    records.push_back({f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9]});
  }
  return records;
}

StationRig::StationRig(RigOptions options)
    : store(dir / "settings.reg"), cable_(options.cable ? std::move(options.cable) : direct_cable()) {
  if (options.examples) dir.copy_from(std::filesystem::path(SKAV_SOURCE_DIR) / "examples");
  if (!options.config.empty()) dir.write("config.ini", options.config);
  if (options.barcode >= 0) store.number_write(nullptr, settings::kBarCode, options.barcode);
  MacDigits::Digits first;
  if (MacDigits::parse(options.first_address, first)) store.machwid_write(nullptr, first);
  station::StationOptions station_options;
  station_options.dir = dir.path();
  station_options.transfer_timeout = options.timeout;
  station_options.clock = &cable_->clock();
  if (!options.stored_adapter)
    station_options.interface = options.interface ? options.interface : cable_->adapter();
  station_options.barcode = options.barcode_override;
  station_options.allow_worker_start = options.allow_worker_start;
  station_options.take_run = options.take_run;
  station_options.write_record = options.write_record;
  station = std::make_unique<station::Station>(
      cable_->backend(), store, options.pool != nullptr ? *options.pool : pool, options.log != nullptr ? *options.log : log,
      options.events != nullptr ? options.events : &events, station_options);
  if (options.start_up) {
    station->post_start_up();
    station->run_commands();
  }
}

void EventLog::on_snapshot(std::shared_ptr<const station::StationSnapshot> snapshot) {
  std::lock_guard lock(mutex_);
  snapshots_.push_back(std::move(snapshot));
}

void EventLog::on_board_finished(const station::BoardRecord& record) {
  std::lock_guard lock(mutex_);
  records_.push_back(record);
}

std::vector<std::shared_ptr<const station::StationSnapshot>> EventLog::snapshots() const {
  std::lock_guard lock(mutex_);
  return snapshots_;
}

std::vector<station::BoardRecord> EventLog::records() const {
  std::lock_guard lock(mutex_);
  return records_;
}

StationRig::~StationRig() {
  station->stop();
  cable_->set_peer(nullptr);
}

sim::SimBoard* StationRig::make_board(const sim::BoardOptions& options) {
  boards_.push_back(std::make_unique<sim::SimBoard>(cable_->board_end(), options));
  return boards_.back().get();
}

sim::SimBoard* StationRig::plug(const sim::BoardOptions& options) {
  sim::SimBoard* board = make_board(options);
  cable_->set_peer(serve(*board));
  return board;
}

void StationRig::unplug() { cable_->set_peer(nullptr); }

sim::BoardLine& StationRig::plug_line(const sim::BoardOptions& first, int count) {
  cable_->set_peer(nullptr);
  line_ = std::make_unique<sim::BoardLine>(cable_->board_end(), first, count);
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

bool StationRig::until_run_finished() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    station->run_commands();
    if (station->run_status() == station::RunStatus::kFinished) return true;
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

void ProbeAnswerer::operator()(const std::uint8_t* frame, std::size_t length) {
  if (frame == nullptr || length < link::kEthernetHeader || link::ether_type(frame) != link::kEtherProbe)
    return;
  ++probes;
  if (!answer) return;
  std::uint8_t reply[link::kMinFrame] = {};
  link::write_header(reply, link::kBroadcast, mac_, link::kEtherReply);
  board_end_.send(reply, sizeof reply);
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

std::string ethaddr_of(const sim::SimBoard& board) {
  std::vector<std::uint8_t> bytes = board.memory(2, 0x40000, 5 + 25);
  std::string entry(reinterpret_cast<const char*>(bytes.data()) + 5, 25);
  if (entry.rfind("ethaddr=", 0) != 0) return "";
  return entry.substr(8);
}

}  // namespace skav::test
