#include "core/station/production_run.h"

#include <algorithm>
#include <cerrno>
#include <optional>

#include "core/config/section_table.h"
#include "core/station/steps.h"

namespace skav::station {

namespace {

using transfer::Outcome;

// Hands a step's data progress to the run's observer when what it shows changes: another
// whole percent, or another data phase. The transfer reports every window, some 3,000 for a
// 64 MB image; each says the board was heard from.
class StepProgress : public transfer::ProgressObserver {
 public:
  StepProgress(RunObserver& observer, link::Link& link, const PlanStep& step)
      : observer_(observer), link_(link), slot_(step.slot), command_(step.command) {}
  void on_progress(std::uint64_t done, std::uint64_t total) override {
    Clock& clock = link_.clock();
    observer_.on_board_heard(link_.last_arrival().value_or(clock.now()));
    if (done == 0 || total != total_) {
      // A data phase starts: a read section only compares; any other command's first phase
      // is its write, and what follows it the read-back.
      total_ = total;
      started_ = clock.now();
      percent_ = -1;
      ++phases_;
      observer_.on_data_phase(slot_, phases_ == 1 && command_ != transfer::kRead ? DataPhase::kWriting
                                                                              : DataPhase::kVerifying);
    }
    int percent = total == 0 ? 100 : static_cast<int>(std::min(done, total) * 100 / total);
    if (percent == percent_) return;
    percent_ = percent;
    double seconds = std::chrono::duration<double>(clock.now() - started_).count();
    observer_.on_step_progress(slot_, done, total, seconds > 0 ? static_cast<double>(done) / seconds : 0);
  }

 private:
  RunObserver& observer_;
  link::Link& link_;
  StepSlot slot_;
  std::uint16_t command_;
  std::uint64_t total_ = 0;
  Clock::time_point started_{};
  int percent_ = -1;
  int phases_ = 0;
};

// Runs one step with its progress reported, and records its verdict.
class StepRunner {
 public:
  StepRunner(RunContext& context, transfer::Channel& channel, BoardRecord& record)
      : context_(context), channel_(channel), record_(record) {}

  template <typename Step>
  auto run(const PlanStep& step, Step&& body) {
    RunObserver* observer = context_.observer;
    if (observer != nullptr && step.used) {
      observer->on_board_heard(context_.link.clock().now());
      observer->on_step_started(step.slot);
    }
    std::optional<StepProgress> progress;
    if (observer != nullptr) progress.emplace(*observer, context_.link, step);
    channel_.progress = progress ? &*progress : nullptr;
    auto result = body();
    channel_.progress = nullptr;
    record_.step(step.slot) = result.verdict;
    if (observer != nullptr) observer->on_step_finished(step.slot, result.verdict, result.reason);
    return result;
  }

 private:
  RunContext& context_;
  transfer::Channel& channel_;
  BoardRecord& record_;
};

bool transfer_completed(const StepResult& result) { return result.outcome == Outcome::kOk; }

// The steps of the plan after the `from`th were never reached.
void mark_not_run(const RunPlan& plan, std::size_t from, BoardRecord& record, RunObserver* observer) {
  for (std::size_t i = from; i < plan.steps.size(); ++i) {
    const PlanStep& step = plan.steps[i];
    if (!step.used) continue;
    record.step(step.slot) = Verdict::kNotRun;
    if (observer != nullptr) observer->on_step_finished(step.slot, Verdict::kNotRun, "not reached");
  }
}

}  // namespace

bool store_record(Log* log, const std::filesystem::path& dir, settings::AddressPool& pool,
                  const RecordWriter& write, KeptRecord& kept) {
  if (!kept.in_file) {
    const std::filesystem::path file = dir / kRecordsFile;
    Status written = write ? write(file, kept.record) : append_record(file, kept.record);
    kept.in_file = written.ok();
    if (!written.ok()) {
      log_sink(log, "Could not write the production record: %s\r\n", written.message().c_str());
      kept.problem = written.message();
      return false;
    }
  }
  if (kept.reservation && !kept.with_pool) {
    settings::BoardOutcome outcome{verdict_name(kept.record.overall), record_columns(kept.record)};
    settings::PoolResult<> given = pool.finish(*kept.reservation, outcome);
    // kKept: the pool keeps it on disk and sends it later.
    kept.with_pool = given.ok() || given.code == settings::PoolCode::kKept;
    if (!given.ok())
      log_sink(log, "Could not record the board in the MAC address pool: %s\r\n", given.message.c_str());
    if (!kept.with_pool) {
      kept.problem = given.message;
      return false;
    }
  }
  kept.problem.clear();
  return true;
}

KeptRecord run_board(RunContext& context) {
  Clock& clock = context.link.clock();
  const Clock::time_point start = clock.now();
  transfer::Channel channel{context.link, context.timeout, context.stop, nullptr};
  BoardRecord record;
  record.board_mac = link::format_mac(context.link.target_mac());
  record.adapter = context.link.open_name();
  record.adapter_name = context.link.open_friendly_name();

  // config.ini is read afresh for every board, so an edit takes effect with the next one.
  config::SectionTable table;
  config::read_section_table(table, context.dir / "config.ini");
  const RunPlan plan = make_plan(table, context.dir);
  if (context.observer != nullptr) context.observer->on_planned(plan);
  StepRunner runner(context, channel, record);

  // Which step of the plan ended the run early (the plan's size: none did).
  const std::size_t none = plan.steps.size();
  std::size_t ended_at = none;
  bool started_diag = false;

  AddressSource address{context.pool, context.digits, context.exact_address,
                        context.link.open_name()};
  address.observer = context.observer;
  if (context.exact_address) {
    // The operator's entry is the board's address; when this station or the line sent it to a
    // board whose last run did not pass, this run is that board's next attempt.
    address.board = context.digits;
    address.history = address_history(context.dir / kRecordsFile, context.digits);
  } else {
    // Re-tests are recognised by the address the board answers with.
    const link::Mac mac = context.link.target_mac();
    MacDigits::Digits board{};
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < mac.size(); ++i) {
      board[2 * i] = kHex[mac[i] >> 4];
      board[2 * i + 1] = kHex[mac[i] & 0xF];
    }
    address.board = board;
    address.history = address_history(context.dir / kRecordsFile, board);
  }
  EnvironmentResult environment;
  ImageBuffer own;
  ImageBuffer& buffer = context.images != nullptr ? *context.images : own;
  bool buffer_asked = false;
  for (std::size_t i = 0; i < plan.steps.size() && ended_at == none; ++i) {
    const PlanStep& step = plan.steps[i];
    switch (step.kind) {
      case StepKind::kEnvironment: {
        environment = runner.run(step, [&] {
          return environment_step(context.log, channel, step, context.dir, address);
        });
        if (environment.built && MacDigits::all_hex(environment.written))
          record.written_mac = MacDigits::colon_text(environment.written);
        if (environment.sent && context.observer != nullptr)
          context.observer->on_address_taken(environment.written, environment.next);
        if (!transfer_completed(environment) || environment.no_address) ended_at = i;
        break;
      }
      case StepKind::kImage: {
        // One buffer for every image of the run, as large as the largest, taken once.
        if (!buffer_asked) {
          buffer_asked = true;
          bool any = std::any_of(plan.steps.begin(), plan.steps.end(), [](const PlanStep& s) {
            return s.kind == StepKind::kImage && s.used;
          });
          if (any && !buffer.obtain(plan.largest_image()))
            log_sink(context.log, "Not enough memory for the image buffers (%u bytes)\r\n",
                     plan.largest_image());
        }
        StepResult result = runner.run(step, [&] { return image_step(context.log, channel, step, buffer); });
        if (!transfer_completed(result)) ended_at = i;
        break;
      }
      case StepKind::kDiag: {
        DiagResult diag = runner.run(step, [&] { return diag_step(context.log, channel, step); });
        if (!transfer_completed(diag)) ended_at = i;
        started_diag = diag.started;
        if (!started_diag) break;
        Outcome relayed = relay_diagnostic_text(context.log, channel);
        if (relayed != Outcome::kOk) {
          log_transfer_failure(context.log, channel, relayed);
          record.step(step.slot) = verdict_of(relayed);
          if (context.observer != nullptr)
            context.observer->on_step_finished(step.slot, verdict_of(relayed),
                                               "diagnostic text: " + transfer_failure_reason(channel, relayed));
          ended_at = i;
        }
        break;
      }
    }
  }
  if (ended_at < none) mark_not_run(plan, ended_at + 1, record, context.observer);

  record.overall = overall_verdict(record);
  record.time = iso8601_now();
  record.seconds = std::chrono::duration<double>(clock.now() - start).count();
  KeptRecord kept;
  kept.record = record;
  kept.reservation = environment.reservation;
  if (environment.reservation) kept.record.attempt = environment.reservation->attempt;
  store_record(context.log, context.dir, context.pool, context.write_record, kept);

  // A run that relayed a diagnostic image ends with its text; one that gave up on the board has
  // said so already. Otherwise the run's verdict closes it.
  if ((started_diag && ended_at == none) || ended_at < none) return kept;
  log_sink(context.log, "%s", record.overall == Verdict::kFail ? "Fail !!\r\n" : "Success !!\r\n");
  return kept;
}

}  // namespace skav::station
