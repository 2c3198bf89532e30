#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

#include "core/link/link.h"
#include "core/log.h"
#include "core/mac_digits.h"
#include "core/settings/address_pool.h"
#include "core/station/plan.h"
#include "core/station/records.h"
#include "core/station/verdict.h"
#include "core/transfer/block_transfer.h"

namespace skav::station {

class ImageBuffer;

// What a run tells the station while it goes, on the run's own thread. Implementations hand
// the news on and return quickly.
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  // config.ini was read: the steps this run takes.
  virtual void on_planned(const RunPlan& plan) = 0;
  virtual void on_step_started(StepSlot slot) = 0;
  // The step's data is travelling: `done` of `total` bytes of its current data phase, at
  // `bytes_per_second` over that phase so far. At most once per whole percent.
  virtual void on_step_progress(StepSlot slot, std::uint64_t done, std::uint64_t total,
                                double bytes_per_second) = 0;
  // Every step the run started ends here, as do steps it skipped or never reached.
  virtual void on_step_finished(StepSlot slot, Verdict verdict, const std::string& reason) = 0;
  // The environment went out with `written`; the next board gets `next`.
  virtual void on_address_taken(const MacDigits::Digits& written, const MacDigits::Digits& next) = 0;
  // The address pool's answer when it is news: kUnavailable when the run starts waiting for it
  // (with the reason), kReserved when it answers again, kExhausted or kRefused when it gives no
  // address (with its message).
  virtual void on_pool_answer(settings::PoolCode code, const std::string& message) {
    (void)code;
    (void)message;
  }
};

// What one Production Run works with. The run is the only user of `link` while it lasts.
struct RunContext {
  Log* log = nullptr;
  link::Link& link;
  settings::AddressPool& pool;
  std::filesystem::path dir = ".";  // config.ini, the images, the records file
  std::chrono::milliseconds timeout = transfer::kDefaultTimeout;
  const std::atomic<bool>* stop = nullptr;
  MacDigits::Digits digits = MacDigits::kDefault;  // the station's MAC Digits at the start
  bool exact_address = false;  // the operator entered them: the board gets exactly these
  RunObserver* observer = nullptr;
  // The image buffer kept from board to board (a station's); none: the run has one of its own.
  ImageBuffer* images = nullptr;
};

// The Production Run of one board: reads config.ini into the run's plan, writes the
// environment, the kernel, uboot and filesystem sections and the diagnostic image, and after a
// started diagnostic image finds the board again and relays its text until the end marker.
// Every wait is bounded by the context's timeout; a transfer that does not complete ends the
// run there. Then the record (verdicts, addresses, seconds) is appended to the records file
// and given to the pool, and, unless the run relayed a diagnostic text or already said why it
// gave up, "Success !!\r\n" or "Fail !!\r\n" closes the run in the log.
BoardRecord run_board(RunContext& context);

}  // namespace skav::station
