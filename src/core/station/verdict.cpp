#include "core/station/verdict.h"

#include <string>

namespace skav::station {

namespace {

int timeout_seconds(const transfer::Channel& channel) {
  return static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(channel.timeout).count());
}

}  // namespace

const char* verdict_name(Verdict verdict) {
  switch (verdict) {
    case Verdict::kNotRun: return "not-run";
    case Verdict::kPass: return "pass";
    case Verdict::kFail: return "fail";
    case Verdict::kTimeout: return "timeout";
    case Verdict::kStopped: return "stopped";
    case Verdict::kAdapterLost: return "adapter-lost";
    case Verdict::kSkipped: break;
  }
  return "skipped";
}

Verdict verdict_of(transfer::Outcome outcome) {
  switch (outcome) {
    case transfer::Outcome::kTimeout: return Verdict::kTimeout;
    case transfer::Outcome::kStopped: return Verdict::kStopped;
    case transfer::Outcome::kAdapterLost: return Verdict::kAdapterLost;
    case transfer::Outcome::kOk: break;
  }
  return Verdict::kPass;
}

void log_transfer_failure(Log* log, const transfer::Channel& channel, transfer::Outcome outcome) {
  log_sink(log, "Fail\r\n");
  switch (outcome) {
    case transfer::Outcome::kStopped:
      log_sink(log, "Stopped by the operator\r\n");
      break;
    case transfer::Outcome::kAdapterLost:
      log_sink(log, "Network Interface %s is gone\r\n", channel.link.open_name().c_str());
      break;
    case transfer::Outcome::kTimeout:
    case transfer::Outcome::kOk:
      log_sink(log, "Target not responding after %d s\r\n", timeout_seconds(channel));
      break;
  }
}

std::string transfer_failure_reason(const transfer::Channel& channel, transfer::Outcome outcome) {
  switch (outcome) {
    case transfer::Outcome::kStopped: return "stopped by the operator";
    case transfer::Outcome::kAdapterLost: return "adapter " + channel.link.open_name() + " is gone";
    case transfer::Outcome::kTimeout:
    case transfer::Outcome::kOk: break;
  }
  return "no answer after " + std::to_string(timeout_seconds(channel)) + " s";
}

}  // namespace skav::station
