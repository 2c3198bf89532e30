#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "sim/sim_board.h"
#include "core/link/frame_device.h"
#include "core/link/mac.h"

namespace skav::sim {

// `mac` plus `n`, carried across all six bytes (wraps after ff:ff:ff:ff:ff:ff).
link::Mac mac_plus(const link::Mac& mac, std::uint64_t n);

// What is kept of every board that left the line.
struct FinishedBoard {
  link::Mac mac{};
  BoardStats stats;
  bool diag_ran = false;
};

// A production line of simulated boards on one link: board k (from 0) gets the MAC address
// first.mac + k and the same options otherwise. When a board finishes, the next one is plugged
// in; if the board finished on a Discovery Probe, the new board answers that probe.
class BoardLine {
 public:
  // `count` boards in a row (0: no end). With `keep_boards` the finished boards stay
  // available with their memories; otherwise only their FinishedBoard summaries do.
  BoardLine(link::FrameDevice& device, BoardOptions first, int count = 0, bool keep_boards = true);
  // `count` default boards (MAC addresses from 02:00:00:00:00:01), all kept.
  BoardLine(link::FrameDevice& device, int count) : BoardLine(device, BoardOptions{}, count) {}
  ~BoardLine();  // stops the line's own thread, if started
  BoardLine(const BoardLine&) = delete;
  BoardLine& operator=(const BoardLine&) = delete;

  // Runs the line on a thread of its own until stop() (or until `count` boards finished).
  void start();
  // Sets the stop flag and joins the line's thread. Returns within about 20 ms.
  void stop();
  // Runs the line on the calling thread until `stop` is set or `count` boards finished; the
  // flag is checked at least every 20 ms.
  void run(const std::atomic<bool>& stop);
  // Serves at most one frame, waiting at most `timeout` (20 ms at most). False when nothing
  // arrived or the line is done.
  bool serve_one(std::chrono::milliseconds timeout);
  // For a caller that does the receiving: one frame for the board on the line (false when the
  // line is done), or a receive that came back empty.
  bool handle_frame(const std::uint8_t* frame, std::size_t length);
  void on_idle();

  // Called on the line's thread for every board that finished (index from 0), before the next
  // one is plugged in. Set it before start().
  void set_on_finished(std::function<void(int index, const SimBoard&)> callback) {
    on_finished_ = std::move(callback);
  }

  int finished_count() const;
  // True when `count` boards finished (never for an endless line).
  bool done() const;
  // Waits at most `timeout` until at least `n` boards finished. True when they did.
  bool wait_finished(int n, std::chrono::milliseconds timeout) const;
  std::vector<FinishedBoard> finished() const;
  // Finished board `index` with its memories, when kept; else null. It no longer changes.
  const SimBoard* finished_board(int index) const;
  // The board on the line now; null once `count` boards finished. Its accessors may be used
  // from any thread; without `keep_boards` the pointer is good only until that board finishes.
  const SimBoard* current() const;

 private:
  void plug_next();
  // `board` finished: keeps what is kept of it and plugs in the next one, which takes `probe`
  // (the probe that ended the last board, or null) as its first frame.
  void next_board(SimBoard* board, const std::uint8_t* probe, std::size_t length);

  link::FrameDevice& device_;
  BoardOptions first_;
  int count_;
  bool keep_boards_;
  std::function<void(int, const SimBoard&)> on_finished_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::unique_ptr<SimBoard> current_;
  std::vector<std::unique_ptr<SimBoard>> kept_;
  std::vector<FinishedBoard> finished_;
  int plugged_ = 0;

  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace skav::sim
