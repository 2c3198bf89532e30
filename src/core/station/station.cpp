#include "core/station/station.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "core/link/discovery.h"
#include "core/station/production_run.h"

namespace skav::station {

namespace {

// Hands section progress of a run to the front end when what it shows changes: a new section
// or another whole percent. The transfer reports every window (some 3,000 a 64 MB image),
// and each report would cost the front end a write or a post on the transfer's own thread.
class ProgressRelay : public transfer::SectionProgress {
 public:
  explicit ProgressRelay(StationEvents& events) : events_(events) {}
  void on_section_progress(const char* section, std::uint64_t done,
                           std::uint64_t total) override {
    int percent = total == 0 ? 100 : static_cast<int>(std::min(done, total) * 100 / total);
    if (section == section_ && percent == percent_) return;
    section_ = section;
    percent_ = percent;
    events_.on_progress(section, done, total);
  }
  void on_section_end() override {
    section_ = nullptr;
    events_.on_progress_end();
  }

 private:
  StationEvents& events_;
  const char* section_ = nullptr;  // the section last shown, as the walk names it
  int percent_ = -1;
};

}  // namespace

Station::Station(link::FrameBackend& backend, settings::SettingsStore& store, Log& log,
                 StationEvents* events, StationOptions options)
    : link_(backend), store_(store), log_(log), events_(events), options_(std::move(options)) {}

Station::~Station() { stop(); }

void Station::start_up() {
  auto restore_number = [this](const char* name, std::atomic<int>& field) {
    std::int32_t value = field.load();
    if (store_.number_read(&log_, name, value) == settings::kOk) {
      field.store(value);
    } else if (store_.number_write(&log_, name, field.load()) != settings::kOk) {
      log_sink(&log_, "Could not set Registry Key. \r\n");
    }
  };
  restore_number(settings::kBarCode, barcode_mode_);
  restore_number(settings::kNetIF, selected_index_);
  MacDigits::Digits digits = mac_digits_.get();
  if (store_.machwid_read(&log_, digits) == settings::kOk) {
    mac_digits_.set(digits);
  } else if (store_.machwid_write(&log_, digits) != settings::kOk) {
    log_sink(&log_, "Could not set Registry Key. \r\n");
  }

  std::lock_guard link_lock(link_mutex_);
  // The link belongs to a run while it lasts: never close it under the worker.
  if (run_active()) return;
  if (reopen_link(selected_index_.load()) == 0) log_sink(&log_, "Open Network Interface Fail\r\n");
}

void Station::start() {
  if (ticker_.joinable()) return;
  stop_ = false;
  ticker_ = std::thread([this] { tick_loop(); });
}

void Station::stop() {
  stop_ = true;
  tick_wake_.notify_all();
  if (ticker_.joinable()) ticker_.join();
  join_worker();
  std::lock_guard link_lock(link_mutex_);
  link_.close_link();
}

void Station::tick_loop() {
  auto next = std::chrono::steady_clock::now();
  while (!stop_.load()) {
    tick();
    next += options_.tick_period;
    auto now = std::chrono::steady_clock::now();
    if (next < now) next = now;
    std::unique_lock lock(tick_mutex_);
    tick_wake_.wait_until(lock, next, [this] { return stop_.load(); });
  }
}

std::string Station::status_text() const {
  std::string adapter;
  {
    std::lock_guard lock(adapters_mutex_);
    int index = selected_index_.load();
    if (index >= 0 && index < adapters_.count) adapter = adapters_.entries[static_cast<std::size_t>(index)];
  }
  char text[4096];
  if (barcode_mode_.load() == 1) {
    std::snprintf(text, sizeof text, "Ethernet -> %s", adapter.c_str());
  } else {
    MacDigits::Digits d = mac_digits_.get();
    std::snprintf(text, sizeof text, "Ethernet -> %s   MAC_Addr -> [%c%c-%c%c-%c%c-%c%c-%c%c-%c%c]",
                  adapter.c_str(), d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7], d[8], d[9],
                  d[10], d[11]);
  }
  return text;
}

void Station::tick() {
  std::string status = status_text();
  if (status != last_status_) {
    last_status_ = status;
    if (events_ != nullptr) events_->on_status_text(status);
  }

  switch (state_.load()) {
    case StationState::kIdle:
      log_sink(&log_, "Waiting connecting to Target...\r\n");
      discard_pending_frames();
      state_ = StationState::kSearching;
      break;
    case StationState::kSearching: {
      int found = 0;
      {
        std::lock_guard link_lock(link_mutex_);
        found = link::find_target(link_);
      }
      if (found == 1) {
        log_sink(&log_, "Connected...\r\n");
        state_ = StationState::kConnected;
        if (barcode_mode_.load() == 1) mac_entry_.prompt(&log_, mac_digits_);
      }
      break;
    }
    case StationState::kConnected:
      if (mac_entry_.pending()) break;
      if (run_status_.load() == kNoRun) {
        std::lock_guard link_lock(link_mutex_);
        run_status_ = kRunning;
        start_worker();
      }
      if (run_status_.load() == kRunFinished) {
        join_worker();
        state_ = StationState::kIdle;
        run_status_ = kNoRun;
        if (events_ != nullptr) events_->on_run_active(false);
        {
          std::lock_guard lock(done_mutex_);
          ++boards_done_;
        }
        done_changed_.notify_all();
      }
      break;
  }
}

void Station::discard_pending_frames() {
  // Frames the last board sent after its run ended (late acknowledgements, a stray data frame)
  // would be taken as part of the next board's first exchange and put it out of step.
  constexpr int kMostFrames = 4096;  // a board flooding the cable cannot hold the tick
  std::lock_guard link_lock(link_mutex_);
  link::FrameDevice* device = link_.device();
  if (device == nullptr) return;
  const std::uint8_t* frame = nullptr;
  for (int i = 0; i < kMostFrames; ++i)
    if (device->receive(&frame, std::chrono::milliseconds(0)) <= 0) break;
}

void Station::start_worker() {
  bool allowed = !options_.allow_worker_start || options_.allow_worker_start();
  if (allowed) {
    try {
      worker_ = std::thread([this] { run_worker(); });
    } catch (const std::system_error&) {
      allowed = false;
    }
  }
  if (!allowed) {
    run_status_ = kNoRun;
    log_sink(&log_, "CreateThread failed.\r\n");
    return;
  }
  if (events_ != nullptr) events_->on_run_active(true);
}

void Station::run_worker() {
  std::unique_ptr<ProgressRelay> relay;
  if (events_ != nullptr) relay = std::make_unique<ProgressRelay>(*events_);
  RunContext context{&log_,          link_,       mac_digits_, store_, options_.dir,
                     options_.transfer_timeout, &stop_, relay.get()};
  BoardRecord record;
  station::run_worker(context, run_status_, record, options_.dir / kRecordsFile);
  if (events_ != nullptr) events_->on_board_finished(record);
}

void Station::join_worker() {
  if (worker_.joinable()) worker_.join();
}

void Station::key_char(char c) { mac_entry_.key(&log_, mac_digits_, c); }

void Station::toggle_barcode() {
  int mode = barcode_mode_.load() == 0 ? 1 : 0;
  barcode_mode_ = mode;
  if (store_.number_write(&log_, settings::kBarCode, mode) != settings::kOk)
    log_sink(&log_, "Could not set Registry Key. \r\n");
}

bool Station::apply_interface(int index, const MacDigits::Digits& digits) {
  std::lock_guard link_lock(link_mutex_);
  if (run_active()) return false;
  mac_digits_.set(digits);
  selected_index_ = index;
  store_.number_write(&log_, settings::kNetIF, index);
  store_.machwid_write(&log_, digits);
  reopen_link(index);
  return true;
}

int Station::reopen_link(int index) {
  link::AdapterList list;
  link_.enumerate_adapters(&log_, list);
  {
    std::lock_guard lock(adapters_mutex_);
    adapters_ = list;
  }
  return link_.open_adapter(&log_, index + 1);
}

link::AdapterList Station::adapter_list() const {
  std::lock_guard lock(adapters_mutex_);
  return adapters_;
}

bool Station::wait_boards_done(int n, std::chrono::milliseconds timeout) {
  std::unique_lock lock(done_mutex_);
  return done_changed_.wait_for(lock, timeout, [&] { return boards_done_.load() >= n; });
}

}  // namespace skav::station
