#include "core/station/production_run.h"

#include <cstring>

#include "core/config/environment.h"
#include "core/config/section_table.h"
#include "core/link/discovery.h"
#include "core/transfer/verdict.h"

namespace skav::station {

namespace {

using Clock = std::chrono::steady_clock;
using transfer::Outcome;
using transfer::Verdict;

bool stopping(const RunContext& context) {
  return context.stop != nullptr && context.stop->load(std::memory_order_relaxed);
}

// After the diagnostic image was started the board reboots into it; probe until it answers,
// but no longer than the transfer timeout. The image may answer from another MAC address (the
// one just written into its environment), so whoever answers is taken.
Outcome find_target_again(RunContext& context) {
  Clock::time_point start = Clock::now();
  for (;;) {
    if (link::find_target(context.link) == 1) return Outcome::kOk;
    if (stopping(context)) return Outcome::kStopped;
    if (Clock::now() - start >= context.timeout) return Outcome::kTimeout;
  }
}

// Logs every Text Block until the end marker. The block is reused: a short payload overwrites
// only its start, so its text ends at a zero byte inside the payload.
Outcome console_relay(RunContext& context, transfer::Channel& channel) {
  char block[kTextBlockSize + 1] = {};
  for (;;) {
    Outcome outcome =
        transfer::block_receive(channel, reinterpret_cast<std::uint8_t*>(block), kTextBlockSize);
    if (outcome != Outcome::kOk) return outcome;
    if (std::memcmp(block, kDiagEndMarker, sizeof kDiagEndMarker) == 0) return Outcome::kOk;
    log_sink(context.log, "%.256s", block);
  }
}

}  // namespace

int run_driver(RunContext& context, transfer::Channel& channel, BoardRecord& record) {
  config::SectionTable table;
  config::read_section_table(table, context.dir / "config.ini");

  config::EnvironmentResult env = config::write_environment_image(
      context.log, channel, table, context.digits, context.store, context.dir);
  record.environment = env.verdict;
  if (env.verdict != Verdict::kSkipped && MacDigits::all_hex(env.written))
    record.written_mac = MacDigits::colon_text(env.written);
  if (env.outcome != Outcome::kOk) return 0;

  transfer::SectionResults sections =
      transfer::section_download(context.log, channel, table, context.dir, context.progress);
  record.kernel = sections.verdicts[0];
  record.uboot = sections.verdicts[1];
  record.filesystem = sections.verdicts[2];
  if (sections.outcome != Outcome::kOk) return 0;

  transfer::DiagResult diag =
      transfer::diagnostic_download(context.log, channel, table, context.dir, context.progress);
  record.diag = diag.verdict;
  if (diag.outcome != Outcome::kOk) return 0;
  return diag.started;
}

void run_worker(RunContext& context, std::atomic<int>& run_status, BoardRecord& record,
                const std::filesystem::path& records_file) {
  Clock::time_point start = Clock::now();
  transfer::Channel channel{context.link, context.timeout, context.stop, nullptr};
  record.board_mac = link::format_mac(context.link.target_mac());
  record.adapter = context.link.open_name();

  int started = run_driver(context, channel, record);
  if (started == 1) {
    Outcome outcome = find_target_again(context);
    if (outcome == Outcome::kOk) outcome = console_relay(context, channel);
    if (outcome != Outcome::kOk) {
      transfer::log_transfer_failure(context.log, channel, outcome);
      record.diag = Verdict::kTimeout;
    }
  }

  record.overall = overall_verdict(record);
  record.time = iso8601_now();
  record.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::string error;
  if (!append_record(records_file, record, error))
    log_sink(context.log, "Could not write the production record: %s\r\n", error.c_str());

  bool timed_out = record.overall == Verdict::kTimeout;
  run_status.store(2);
  // A run that relayed a diagnostic image ends with its text; one that gave up on a silent board
  // has said so already. Otherwise the run's verdict closes it.
  if (started == 1 || timed_out) return;
  if (record.overall == Verdict::kFail)
    log_sink(context.log, "Fail !!\r\n");
  else
    log_sink(context.log, "Success !!\r\n");
}

}  // namespace skav::station
