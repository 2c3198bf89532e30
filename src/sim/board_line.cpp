#include "sim/board_line.h"

#include <algorithm>

namespace skav::sim {

link::Mac mac_plus(const link::Mac& mac, std::uint64_t n) {
  std::uint64_t value = 0;
  for (std::uint8_t byte : mac) value = value << 8 | byte;
  value += n;
  link::Mac out;
  for (int i = 5; i >= 0; --i) {
    out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value & 0xff);
    value >>= 8;
  }
  return out;
}

BoardLine::BoardLine(link::FrameDevice& device, BoardOptions first, int count, bool keep_boards)
    : device_(device), first_(std::move(first)), count_(count), keep_boards_(keep_boards) {
  plug_next();
}

BoardLine::~BoardLine() { stop(); }

void BoardLine::start() {
  if (thread_.joinable()) return;
  stop_.store(false);
  thread_ = std::thread([this] { run(stop_); });
}

void BoardLine::stop() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
}

void BoardLine::run(const std::atomic<bool>& stop) {
  while (!stop.load(std::memory_order_relaxed) && !done()) serve_one(link::kReadTimeout);
}

bool BoardLine::serve_one(std::chrono::milliseconds timeout) {
  const std::uint8_t* frame = nullptr;
  int length = device_.receive(&frame, std::min(timeout, link::kReadTimeout));
  if (length <= 0) {
    on_idle();
    return false;
  }
  return handle_frame(frame, static_cast<std::size_t>(length));
}

void BoardLine::on_idle() {
  SimBoard* board = nullptr;
  {
    std::lock_guard lock(mutex_);
    board = current_.get();
  }
  if (board == nullptr) return;
  board->on_idle();
  if (board->finished()) next_board(board, nullptr, 0);
}

bool BoardLine::handle_frame(const std::uint8_t* frame, std::size_t length) {
  SimBoard* board = nullptr;
  {
    std::lock_guard lock(mutex_);
    board = current_.get();
  }
  if (board == nullptr) return false;
  board->handle_frame(frame, length);
  if (board->finished()) next_board(board, board->finished_on_probe() ? frame : nullptr, length);
  return true;
}

void BoardLine::next_board(SimBoard* board, const std::uint8_t* probe, std::size_t length) {
  int index = 0;
  {
    std::lock_guard lock(mutex_);
    index = static_cast<int>(finished_.size());
    finished_.push_back({board->mac(), board->stats(), board->diag_ran()});
  }
  if (on_finished_) on_finished_(index, *board);
  {
    std::lock_guard lock(mutex_);
    if (keep_boards_) kept_.push_back(std::move(current_));
    current_.reset();
    plug_next();
    board = current_.get();
  }
  changed_.notify_all();
  // The probe that ended the last board is the new board's first frame.
  if (probe != nullptr && board != nullptr) board->handle_frame(probe, length);
}

void BoardLine::plug_next() {
  if (count_ > 0 && plugged_ >= count_) return;
  BoardOptions options = first_;
  options.mac = mac_plus(first_.mac, static_cast<std::uint64_t>(plugged_));
  options.seed = first_.seed + static_cast<std::uint32_t>(plugged_);
  current_ = std::make_unique<SimBoard>(device_, std::move(options));
  ++plugged_;
}

int BoardLine::finished_count() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(finished_.size());
}

bool BoardLine::done() const {
  std::lock_guard lock(mutex_);
  return count_ > 0 && static_cast<int>(finished_.size()) >= count_;
}

bool BoardLine::wait_finished(int n, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return static_cast<int>(finished_.size()) >= n; });
}

std::vector<FinishedBoard> BoardLine::finished() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

const SimBoard* BoardLine::finished_board(int index) const {
  std::lock_guard lock(mutex_);
  if (index < 0 || static_cast<std::size_t>(index) >= kept_.size()) return nullptr;
  return kept_[static_cast<std::size_t>(index)].get();
}

const SimBoard* BoardLine::current() const {
  std::lock_guard lock(mutex_);
  return current_.get();
}

}  // namespace skav::sim
