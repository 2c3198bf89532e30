#pragma once

#include "core/log.h"
#include "core/transfer/block_transfer.h"

namespace skav::transfer {

// The outcome of one step of a board's run, as the production record shows it.
enum class Verdict { kSkipped, kPass, kFail, kTimeout };

// "pass", "fail", "skipped", "timeout".
const char* verdict_name(Verdict verdict);

// Ends a step whose transfer did not complete: "Fail\r\n" (which also completes an open
// progress line), then why: "Target not responding after %d s\r\n" for a timeout, or
// "Stopped by the operator\r\n" when the station was stopped.
void log_transfer_failure(Log* log, const Channel& channel, Outcome outcome);

}  // namespace skav::transfer
