#pragma once

#include "core/log.h"
#include "core/transfer/block_transfer.h"

namespace skav::station {

// The outcome of one step of a board's run, as the production record shows it.
// kSkipped: not configured, or not usable as configured; kNotRun: configured, but the run ended
// before it; kTimeout, kStopped, kAdapterLost: its transfer did not complete (the board fell
// silent, the operator stopped the station, the adapter went away).
enum class Verdict { kSkipped, kNotRun, kPass, kFail, kTimeout, kStopped, kAdapterLost };

// "skipped", "not-run", "pass", "fail", "timeout", "stopped", "adapter-lost".
const char* verdict_name(Verdict verdict);

// The verdict of a step whose transfer ended with `outcome` (kOk: none of these; kPass).
Verdict verdict_of(transfer::Outcome outcome);

// Ends a step whose transfer did not complete: "Fail\r\n" (which also completes an open
// progress line), then why: "Target not responding after %d s\r\n" for a timeout,
// "Stopped by the operator\r\n" when the station was stopped, or "Network Interface %s is
// gone\r\n" when the adapter failed.
void log_transfer_failure(Log* log, const transfer::Channel& channel, transfer::Outcome outcome);

// The one line that says why a transfer did not complete, without "Fail" ("no answer after 30 s").
std::string transfer_failure_reason(const transfer::Channel& channel, transfer::Outcome outcome);

}  // namespace skav::station
