#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "core/clock.h"
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
  // A data phase of the step starts: the write, or the board's copy sent back to be compared.
  virtual void on_data_phase(StepSlot slot, DataPhase phase) {
    (void)slot;
    (void)phase;
  }
  // The board was last heard from at `when` (the link's clock): reported as a step starts and
  // with every window of its data. Called that often, it must neither block nor allocate.
  virtual void on_board_heard(Clock::time_point when) { (void)when; }
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

// Writes one record to the records file: flushed to disk when it returns ok.
using RecordWriter = std::function<Status(const std::filesystem::path& file, const BoardRecord& record)>;

// A finished board's record on its way to being stored: its line flushed to the records file
// and, for a board that got a reservation, its outcome with the pool (sent, or kept durably to
// be sent). Until both hold, the station keeps it and takes no board.
struct KeptRecord {
  BoardRecord record;
  std::optional<settings::Reservation> reservation;
  bool in_file = false;
  bool with_pool = false;
  std::string problem;  // why it is not stored, for the operator
  bool stored() const { return in_file && (with_pool || !reservation); }
};

// Does what is left of storing `kept`, the file first, and logs each failure ("Could not write
// the production record: %s\r\n", "Could not record the board in the MAC address pool: %s\r\n").
// `write` null: append_record. True when the record is stored.
bool store_record(Log* log, const std::filesystem::path& dir, settings::AddressPool& pool,
                  const RecordWriter& write, KeptRecord& kept);

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
  RecordWriter write_record = nullptr;  // null: append_record
};

// The Production Run of one board: reads config.ini into the run's plan, writes the
// environment, the kernel, uboot and filesystem sections and the diagnostic image, and after a
// started diagnostic image finds the board again and relays its text until the end marker.
// Every wait is bounded by the context's timeout; a transfer that does not complete ends the
// run there. Then the record (verdicts, addresses, seconds) is appended to the records file
// and given to the pool (store_record; the result says how far that got), and, unless the run
// relayed a diagnostic text or already said why it gave up, "Success !!\r\n" or "Fail !!\r\n"
// closes the run in the log.
KeptRecord run_board(RunContext& context);

}  // namespace skav::station
