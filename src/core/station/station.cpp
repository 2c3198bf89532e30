#include "core/station/station.h"

#include <cstdio>
#include <system_error>

#include "core/link/discovery.h"
#include "core/station/readiness.h"

namespace skav::station {

namespace {

// A board flooding the cable cannot hold the tick that drains it.
constexpr int kMostDrained = 4096;
// While the adapter is gone, the station tries to open it again every this many ticks; while it
// searches, it asks as often whether the adapter is still there.
constexpr int kLostRetryTicks = 10;
// While the station lacks what a board needs, it looks again this often on its clock.
constexpr std::chrono::seconds kRecheckPeriod{1};

template <class... Ts>
struct Overloaded : Ts... {
  using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

// The first step that did not pass, "filesystem: read-back differs".
std::string first_failure(const BoardView& board) {
  for (const StepView& step : board.steps) {
    if (step.state != StepView::State::kDone) continue;
    if (step.verdict == Verdict::kPass || step.verdict == Verdict::kSkipped) continue;
    std::string reason = step.reason.empty() ? verdict_name(step.verdict) : step.reason;
    return std::string(step.name()) + ": " + reason;
  }
  return {};
}

}  // namespace

// Hands a run's news to the station's queue, on the run's own thread.
class Station::RunNews : public RunObserver {
 public:
  explicit RunNews(Station& station) : station_(station) {}
  void on_planned(const RunPlan& plan) override { station_.post(Planned{plan}); }
  void on_step_started(StepSlot slot) override { station_.post(StepStarted{slot}); }
  void on_data_phase(StepSlot slot, DataPhase phase) override { station_.post(PhaseStarted{slot, phase}); }
  void on_board_heard(Clock::time_point when) override {
    station_.heard_at_.store(when.time_since_epoch().count());
  }
  void on_step_progress(StepSlot slot, std::uint64_t done, std::uint64_t total,
                        double bytes_per_second) override {
    station_.post(StepProgress{slot, done, total, bytes_per_second});
  }
  void on_step_finished(StepSlot slot, Verdict verdict, const std::string& reason) override {
    station_.post(StepFinished{slot, verdict, reason});
  }
  void on_address_taken(const MacDigits::Digits& written, const MacDigits::Digits& next) override {
    station_.post(AddressTaken{written, next});
  }
  void on_pool_answer(settings::PoolCode code, const std::string& message) override {
    station_.post(PoolAnswer{code, message});
  }

 private:
  Station& station_;
};

Station::Station(link::FrameBackend& backend, settings::SettingsStore& store,
                 settings::AddressPool& pool, Log& log, StationEvents* events,
                 StationOptions options)
    : store_(store),
      pool_(pool),
      log_(log),
      events_(events),
      options_(std::move(options)),
      clock_(options_.clock != nullptr ? *options_.clock : steady_clock()),
      link_(std::make_shared<link::Link>(backend, clock_)) {
  if (options_.barcode) barcode_mode_ = *options_.barcode;
  publish();
}

Station::~Station() { stop(); }

void Station::start() {
  if (thread_.joinable()) return;
  {
    std::lock_guard lock(queue_mutex_);
    stopping_ = false;
  }
  thread_ = std::thread([this] { thread_main(); });
}

void Station::request_stop() {
  stop_ = true;
  {
    std::lock_guard lock(queue_mutex_);
    stopping_ = true;
  }
  queue_changed_.notify_all();
}

void Station::stop() {
  request_stop();
  if (thread_.joinable()) thread_.join();
  // The run ends at its next wait; its last act posts the link back.
  if (worker_.joinable()) worker_.join();
  run_commands();
  // A last try: what is still kept when this returns is the front end's to report.
  if (!kept_.empty()) write_kept();
  if (link_) link_->close_link();
  stopped_ = true;
  publish();
}

void Station::thread_main() {
  using SystemClock = std::chrono::steady_clock;
  SystemClock::time_point next_tick = SystemClock::now();
  std::unique_lock lock(queue_mutex_);
  while (!stopping_) {
    queue_changed_.wait_until(lock, next_tick, [this] { return stopping_ || !queue_.empty(); });
    if (stopping_) break;
    lock.unlock();
    run_commands();
    SystemClock::time_point now = SystemClock::now();
    if (now >= next_tick) {
      tick();
      next_tick += options_.tick_period;
      if (next_tick < now) next_tick = now;
    }
    lock.lock();
  }
}

void Station::post(Command command) {
  {
    std::lock_guard lock(queue_mutex_);
    queue_.push_back(std::move(command));
  }
  queue_changed_.notify_all();
}

void Station::post_start_up() { post(StartUp{}); }
void Station::post_key(char c) { post(Key{c}); }
void Station::post_toggle_barcode() { post(ToggleBarcode{}); }
void Station::post_apply_interface(int index, const MacDigits::Digits& digits) {
  post(ApplyInterface{index, digits});
}

void Station::run_commands() {
  for (;;) {
    Command command;
    {
      std::lock_guard lock(queue_mutex_);
      if (queue_.empty()) break;
      command = std::move(queue_.front());
      queue_.pop_front();
    }
    carry_out(command);
  }
  publish();
}

void Station::carry_out(Command& command) {
  std::visit(
      Overloaded{
          [this](StartUp&) { start_up(); },
          [this](Key& key) {
            bool was_pending = mac_entry_.pending();
            mac_entry_.key(&log_, digits_, key.c);
            if (was_pending && !mac_entry_.pending()) entered_ = true;
          },
          [this](ToggleBarcode&) {
            barcode_mode_ = barcode_mode_ == BarcodeMode::kOn ? BarcodeMode::kOff : BarcodeMode::kOn;
            // The operator's choice replaces the mode chosen for this station's life.
            options_.barcode.reset();
            stored_barcode_ = barcode_mode_ == BarcodeMode::kOn ? 1 : 0;
            if (store_.number_write(&log_, settings::kBarCode, stored_barcode_) != settings::kOk)
              log_sink(&log_, "Could not set Registry Key. \r\n");
          },
          [this](ApplyInterface& apply) { apply_interface(apply); },
          [this](Planned& planned) {
            if (!board_) return;
            for (const PlanStep& step : planned.plan.steps)
              board_->steps[static_cast<std::size_t>(step.slot)] = step_view(step);
            board_->planned = true;
          },
          [this](StepStarted& started) {
            if (!board_) return;
            StepView& view = board_->steps[static_cast<std::size_t>(started.slot)];
            view.state = StepView::State::kRunning;
            view.done = view.total = 0;
            view.phase = DataPhase::kNone;
            view.silent_seconds = 0;
          },
          [this](PhaseStarted& started) {
            if (!board_) return;
            board_->steps[static_cast<std::size_t>(started.slot)].phase = started.phase;
          },
          [this](StepProgress& progress) {
            if (!board_) return;
            StepView& view = board_->steps[static_cast<std::size_t>(progress.slot)];
            view.done = progress.done;
            view.total = progress.total;
            view.bytes_per_second = progress.bytes_per_second;
          },
          [this](StepFinished& finished) {
            if (!board_) return;
            StepView& view = board_->steps[static_cast<std::size_t>(finished.slot)];
            view.state = StepView::State::kDone;
            view.verdict = finished.verdict;
            view.reason = finished.reason;
            view.phase = DataPhase::kNone;
            view.silent_seconds = 0;
          },
          [this](AddressTaken& taken) {
            digits_ = taken.next;
            if (!board_) return;
            board_->address = taken.written;
            board_->address_written = true;
          },
          [this](PoolAnswer& answer) {
            pool_waiting_ = answer.code == settings::PoolCode::kUnavailable;
            if (answer.code == settings::PoolCode::kExhausted) pool_exhausted_ = true;
            if (answer.code != settings::PoolCode::kRefused)
              pool_problem_ = answer.code == settings::PoolCode::kDone ? "" : answer.message;
          },
          [this](RunEnded& ended) { take_back(ended); },
      },
      command);
}

void Station::take_back(RunEnded& ended) {
  // The worker's last act was to post this: joining it waits only for its return.
  if (worker_.joinable()) worker_.join();
  link_ = std::move(ended.link);
  run_status_ = RunStatus::kFinished;
  const BoardRecord& record = ended.kept.record;
  const bool stored = ended.kept.stored();
  if (board_) {
    board_->finished = true;
    board_->overall = record.overall;
    board_->seconds = record.seconds;
    board_->failure = first_failure(*board_);
    board_->record_stored = stored;
    if (!stored) {
      // A board is done when its record is: whatever its steps did, it does not pass.
      if (board_->overall == Verdict::kPass) board_->overall = Verdict::kFail;
      board_->failure = "record not stored: " + ended.kept.problem;
    }
  }
  if (!stored) {
    kept_.push_back(ended.kept);
    kept_ticks_ = 0;
  }
  if (record.overall == Verdict::kAdapterLost) {
    // The run has said that the adapter is gone.
    adapter_lost_ = true;
    lost_ticks_ = 0;
    lost_adapter_ = link_->open_name();
    adapter_problem_ = lost_adapter_ + " is gone";
  }
  finished_record_ = record;
  // The faces count and sound the alarm by the record they are told of: one not stored did not
  // pass, though the file will say what its steps did once it is written.
  if (!stored && finished_record_->overall == Verdict::kPass) finished_record_->overall = Verdict::kFail;
}

bool Station::write_kept() {
  // Quietly: the log said why when the board ended, and says when the record is written.
  while (!kept_.empty()) {
    KeptRecord& kept = kept_.front();
    if (!store_record(nullptr, options_.dir, pool_, options_.write_record, kept)) return false;
    log_sink(&log_, "The production record of board %s is written now\r\n", kept.record.board_mac.c_str());
    kept_.pop_front();
  }
  return true;
}

void Station::start_up() {
  // The stored values (or, when missing, what this station holds, written back as a repair);
  // then what the front end chose for this station's life, which is never stored.
  auto restore_number = [this](const char* name, int& field) {
    std::int32_t value = field;
    if (store_.number_read(&log_, name, value) == settings::kOk) {
      field = value;
    } else if (store_.number_write(&log_, name, field) != settings::kOk) {
      log_sink(&log_, "Could not set Registry Key. \r\n");
    }
  };
  restore_number(settings::kBarCode, stored_barcode_);
  barcode_mode_ = options_.barcode ? *options_.barcode
                                   : stored_barcode_ == 1 ? BarcodeMode::kOn : BarcodeMode::kOff;
  restore_number(settings::kNetIF, stored_index_);
  selected_index_ = stored_index_;
  settings::PoolResult<MacDigits::Digits> next = pool_.read_next(&log_);
  if (next.ok()) {
    digits_ = next.value;
  } else if (next.code == settings::PoolCode::kUnset && !pool_.write_next(&log_, digits_).ok()) {
    // Only a missing value is repaired: a value that is there but unusable (or a store that
    // cannot be read) is the operator's to set, and the pool's check says so before a run.
    log_sink(&log_, "Could not set Registry Key. \r\n");
  }
  pool_checked_ = files_checked_ = false;

  // What was typed before belongs to the old log. A board that waits for its address is asked
  // for it afresh.
  bool was_pending = mac_entry_.pending();
  mac_entry_.discard();
  entered_ = false;
  if (was_pending && state_ == StationState::kConnected && barcode_mode_ == BarcodeMode::kOn)
    mac_entry_.prompt(&log_, digits_);

  ++start_ups_;
  // The link belongs to a run while it lasts: never close it under the worker.
  if (!link_) return;
  if (reopen_link() == 0) log_sink(&log_, "Open Network Interface Fail\r\n");
}

int Station::reopen_link() {
  link::AdapterList list;
  link_->enumerate_adapters(&log_, list);
  adapters_ = list;
  if (options_.interface) selected_index_ = adapters_.number_of(*options_.interface) - 1;
  adapter_lost_ = false;
  int opened = link_->open_adapter(&log_, selected_index_ + 1);
  if (opened == 1) {
    adapter_problem_.clear();
  } else if (selected_index_ >= 0 && selected_index_ < adapters_.count) {
    adapter_problem_ = adapters_.names[static_cast<std::size_t>(selected_index_)] +
                       " cannot be opened: " + link_->open_error();
  } else {
    adapter_problem_ = "no adapter: " + link_->open_error();
  }
  return opened;
}

void Station::apply_interface(const ApplyInterface& apply) {
  if (!link_ || run_status_ != RunStatus::kNoRun) {
    log_sink(&log_, "Network Interface not changed: a board is being programmed\r\n");
    return;
  }
  if (MacDigits::group(apply.digits)) {
    log_sink(&log_, "Network Interface not changed: %s is a group (multicast) address, not a board's own\r\n",
             MacDigits::colon_text(apply.digits).c_str());
    return;
  }
  // The operator may have set the next address the pool was waiting for: ask it again now.
  pool_checked_ = files_checked_ = false;
  digits_ = apply.digits;
  selected_index_ = stored_index_ = apply.index;
  // The operator's choice replaces the adapter named for this station's life.
  options_.interface.reset();
  store_.number_write(&log_, settings::kNetIF, apply.index);
  pool_.write_next(&log_, apply.digits);
  link_->close_link();
  reopen_link();
}

void Station::note_adapter_lost() {
  if (adapter_lost_) return;
  adapter_lost_ = true;
  lost_ticks_ = 0;
  lost_adapter_ = link_->open_name();
  adapter_problem_ = lost_adapter_ + " is gone";
  log_sink(&log_, "Network Interface %s is gone\r\n", lost_adapter_.c_str());
}

void Station::retry_lost_adapter() {
  if (++lost_ticks_ < kLostRetryTicks) return;
  lost_ticks_ = 0;
  // Quietly: the log said once that the adapter is gone and says once that it is back.
  link::AdapterList list;
  link_->enumerate_adapters(nullptr, list);
  int number = list.number_of(lost_adapter_);
  if (number == 0 || link_->open_adapter(nullptr, number) != 1) return;
  // An adapter that is there but down opens, yet refuses to send.
  if (link_->send_probe() != 0) return;
  adapters_ = list;
  adapter_lost_ = false;
  adapter_problem_.clear();
  log_sink(&log_, "Network Interface %s is back\r\n", lost_adapter_.c_str());
}

void Station::tick() {
  // Ports that share a pool show the address it gives next, whichever of them took the last.
  // The operator's own entry is not replaced.
  if (!mac_entry_.pending() && !entered_)
    if (std::optional<MacDigits::Digits> next = pool_.known_next()) digits_ = *next;
  status_text_ = format_status_text();
  switch (state_) {
    case StationState::kIdle:
      // Without addresses the station takes no more boards; nor while a record waits to be
      // stored, which it tries about once a second.
      if (pool_exhausted_) break;
      if (!kept_.empty()) {
        if (++kept_ticks_ < kLostRetryTicks) break;
        kept_ticks_ = 0;
        if (!write_kept()) break;
      }
      log_sink(&log_, "Waiting connecting to Target...\r\n");
      // Frames the last board sent after its run ended (late acknowledgements, a stray data
      // frame) would be taken as part of the next board's first exchange.
      if (link_) link_->drain(kMostDrained);
      state_ = StationState::kSearching;
      break;
    case StationState::kSearching:
      if (adapter_lost_) {
        retry_lost_adapter();
        break;
      }
      if (link::find_target(*link_) == 1) {
        log_sink(&log_, "Connected...\r\n");
        state_ = StationState::kConnected;
        // The operator is not asked for an address the station could not program.
        if (barcode_mode_ == BarcodeMode::kOn) {
          if (files_ready()) {
            mac_entry_.prompt(&log_, digits_);
          } else {
            prompt_waiting_ = true;
          }
        }
      } else {
        // A removed adapter's handle may just go quiet: ask now and then whether it is there.
        if (++check_ticks_ >= kLostRetryTicks) {
          check_ticks_ = 0;
          link_->check_adapter();
        }
        if (link_->adapter_lost()) note_adapter_lost();
      }
      break;
    case StationState::kConnected:
      if (prompt_waiting_ && barcode_mode_ == BarcodeMode::kOn && run_status_ == RunStatus::kNoRun) {
        if (!files_ready()) break;
        prompt_waiting_ = false;
        station_fault_.reset();
        mac_entry_.prompt(&log_, digits_);
      }
      prompt_waiting_ = false;
      if (mac_entry_.pending()) break;
      if (run_status_ == RunStatus::kNoRun && ready_for_board()) start_worker();
      if (run_status_ == RunStatus::kFinished) {
        state_ = StationState::kIdle;
        run_status_ = RunStatus::kNoRun;
        ++boards_done_;
      }
      break;
  }
  update_silence();
  publish();
}

void Station::update_silence() {
  if (!board_ || run_status_ != RunStatus::kRunning) return;
  const Clock::time_point heard{Clock::duration(heard_at_.load())};
  const Clock::duration silent = clock_.now() - heard;
  for (StepView& view : board_->steps) {
    if (view.state != StepView::State::kRunning) continue;
    view.silent_seconds =
        silent >= kSilenceShown ? static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(silent).count())
                                : 0;
  }
}

bool Station::files_ready() {
  const Clock::time_point now = clock_.now();
  if (!files_checked_ || now - files_checked_at_ >= kRecheckPeriod) {
    files_fault_ = find_station_fault(options_.dir);
    files_checked_ = true;
    files_checked_at_ = now;
  }
  if (files_fault_) station_fault_ = files_fault_;
  return !files_fault_;
}

bool Station::ready_for_board() {
  // Files first: the pool is asked only when a board could be programmed with what is there.
  if (!files_ready()) return false;
  const Clock::time_point now = clock_.now();
  if (!pool_checked_ || now - pool_checked_at_ >= kRecheckPeriod) {
    pool_check_ = pool_.check(&log_);
    pool_checked_ = true;
    pool_checked_at_ = now;
  }
  if (!pool_ready()) {
    station_fault_ = pool_fault(pool_check_);
    return false;
  }
  station_fault_.reset();
  return true;
}

bool Station::pool_ready() {
  settings::PoolResult<> problem = pool_check_;
  // The operator's entry is the board's address: the pool's own next address is not used.
  if (problem.code == settings::PoolCode::kRefused && entered_) problem = {};
  if (problem.ok()) {
    if (pool_check_waiting_) {
      pool_check_waiting_ = false;
      pool_waiting_ = false;
      pool_problem_.clear();
      log_sink(&log_, "MAC address pool available again\r\n");
    }
    return true;
  }
  // Said once for each problem; the board waits, and is programmed by itself once the pool
  // can give it an address.
  if (!pool_check_waiting_ || problem.message != pool_problem_)
    log_sink(&log_, "MAC address pool unavailable, waiting: %s\r\n", problem.message.c_str());
  pool_check_waiting_ = true;
  pool_waiting_ = true;
  pool_problem_ = problem.message;
  if (problem.code == settings::PoolCode::kExhausted) pool_exhausted_ = true;
  return false;
}

void Station::start_worker() {
  // A stopping station takes no board: its run would end at its first wait, an address spent.
  if (stop_) return;
  if (options_.take_run && !options_.take_run()) return;
  bool allowed = !options_.allow_worker_start || options_.allow_worker_start();
  std::shared_ptr<link::Link> link = std::move(link_);
  const MacDigits::Digits digits = digits_;
  const bool exact = entered_;
  if (allowed && !options_.inline_runs) {
    try {
      worker_ = std::thread([this, link, digits, exact] {
        KeptRecord kept = run_worker(*link, digits, exact);
        post(RunEnded{link, std::move(kept)});
      });
    } catch (const std::system_error&) {
      allowed = false;
    }
  }
  if (!allowed) {
    link_ = std::move(link);
    log_sink(&log_, "CreateThread failed.\r\n");
    return;
  }
  run_status_ = RunStatus::kRunning;
  entered_ = false;
  pool_checked_ = files_checked_ = false;  // the next board's check is its own
  run_adapter_ = link->open_name();
  BoardView board;
  board.number = ++boards_started_;
  board.board_mac = link::format_mac(link->target_mac());
  for (std::size_t i = 0; i < kStepSlots; ++i) board.steps[i].slot = static_cast<StepSlot>(i);
  board_ = board;
  if (options_.inline_runs) {
    // The run's news, its end included, is carried out with the next commands, as a worker's.
    KeptRecord kept = run_worker(*link, digits, exact);
    post(RunEnded{link, std::move(kept)});
  }
}

KeptRecord Station::run_worker(link::Link& link, MacDigits::Digits digits, bool exact) {
  RunNews news(*this);
  RunContext context{&log_, link, pool_, options_.dir, options_.transfer_timeout, &stop_,
                     digits, exact, &news, &images_, options_.write_record};
  return run_board(context);
}

std::string Station::format_status_text() const {
  std::string adapter;
  if (selected_index_ >= 0 && selected_index_ < adapters_.count)
    adapter = adapters_.entries[static_cast<std::size_t>(selected_index_)];
  char text[4096];
  if (barcode_mode_ == BarcodeMode::kOn) {
    std::snprintf(text, sizeof text, "Ethernet -> %s", adapter.c_str());
  } else {
    const MacDigits::Digits& d = digits_;
    std::snprintf(text, sizeof text, "Ethernet -> %s   MAC_Addr -> [%c%c-%c%c-%c%c-%c%c-%c%c-%c%c]",
                  adapter.c_str(), d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7], d[8], d[9],
                  d[10], d[11]);
  }
  return text;
}

void Station::publish() {
  auto next = std::make_shared<StationSnapshot>();
  next->state = state_;
  next->run_status = run_status_;
  next->status_text = status_text_;
  next->barcode_mode = barcode_mode_;
  next->entry_pending = mac_entry_.pending();
  next->entry_counter = mac_entry_.counter();
  next->entry_refused = mac_entry_.refused();
  next->entry_refusals = mac_entry_.refusals();
  next->adapters = adapters_;
  next->selected_index = selected_index_;
  next->digits = digits_;
  if (link_) {
    next->adapter = adapter_lost_ ? lost_adapter_ : link_->open_name();
    next->adapter_open = link_->is_open() && !adapter_lost_;
  } else {
    next->adapter = run_adapter_;
    next->adapter_open = true;  // a run holds it
  }
  next->adapter_problem = adapter_problem_;
  next->board = board_;
  next->pool_waiting = pool_waiting_;
  next->pool_exhausted = pool_exhausted_;
  next->pool_problem = pool_problem_;
  next->station_fault = station_fault_;
  next->records_kept = static_cast<int>(kept_.size());
  next->record_problem = kept_.empty() ? std::string() : kept_.front().problem;
  next->boards_done = boards_done_;
  next->start_ups = start_ups_;
  next->stopped = stopped_;
  {
    std::lock_guard lock(snapshot_mutex_);
    if (snapshot_) {
      next->sequence = snapshot_->sequence;
      if (*snapshot_ == *next && !finished_record_) return;
    }
    ++next->sequence;
    snapshot_ = next;
  }
  snapshot_changed_.notify_all();
  if (events_ != nullptr) {
    events_->on_snapshot(next);
    if (finished_record_) events_->on_board_finished(*finished_record_);
  }
  finished_record_.reset();
}

std::shared_ptr<const StationSnapshot> Station::snapshot() const {
  std::lock_guard lock(snapshot_mutex_);
  return snapshot_;
}

bool Station::wait_boards_done(int n, std::chrono::milliseconds timeout) const {
  return wait_for([n](const StationSnapshot& s) { return s.boards_done >= n; }, timeout);
}

bool Station::wait_for(const std::function<bool(const StationSnapshot&)>& condition,
                       std::chrono::milliseconds timeout) const {
  std::unique_lock lock(snapshot_mutex_);
  return snapshot_changed_.wait_for(lock, timeout, [&] { return condition(*snapshot_); });
}

}  // namespace skav::station
