#include "core/transfer/verdict.h"

namespace skav::transfer {

const char* verdict_name(Verdict verdict) {
  switch (verdict) {
    case Verdict::kPass: return "pass";
    case Verdict::kFail: return "fail";
    case Verdict::kTimeout: return "timeout";
    case Verdict::kSkipped: break;
  }
  return "skipped";
}

void log_transfer_failure(Log* log, const Channel& channel, Outcome outcome) {
  log_sink(log, "Fail\r\n");
  if (outcome == Outcome::kStopped) {
    log_sink(log, "Stopped by the operator\r\n");
  } else {
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(channel.timeout).count();
    log_sink(log, "Target not responding after %d s\r\n", static_cast<int>(seconds));
  }
}

}  // namespace skav::transfer
