#include "core/station/mac_entry.h"

namespace skav::station {

namespace {
constexpr int kDigits = 12;
constexpr char kEnter = 13;
constexpr char kBackspace = 8;
}  // namespace

void MacEntry::prompt(Log* log, MacDigits::Digits& digits) {
  refused_.clear();
  log_sink(log, "Input MAC Address : ");
  digits.fill('F');
  counter_ = 0;
  pending_ = true;
}

void MacEntry::key(Log* log, MacDigits::Digits& digits, char c, int repeat) {
  if (!pending_) return;
  if (c == kEnter) {
    bool twelve = counter_ == kDigits;
    const int typed = counter_;
    counter_ = 0;
    log_sink(log, "\r\n");
    if (twelve && MacDigits::all_hex(digits)) {
      pending_ = false;
      refused_.clear();
      return;
    }
    refused_ = twelve ? std::string("not hexadecimal")
                      : std::to_string(typed) + (typed == 1 ? " digit" : " digits");
    ++refusals_;
    // A mis-scanned label must not become a board's address: ask again.
    if (twelve) log_sink(log, "Not a MAC address: enter 12 hexadecimal digits\r\n");
    log_sink(log, "Input MAC Address : ");
    return;
  }
  // The operator is at it again: the old refusal no longer describes the entry.
  refused_.clear();
  if (c == kBackspace) {
    if (counter_ > 0) --counter_;
    if (log != nullptr) log->erase_last();
    return;
  }
  for (int i = 0; i < repeat; ++i) {
    // Characters beyond the twelfth are counted and shown but never stored.
    if (counter_ < kDigits) digits[static_cast<std::size_t>(counter_)] = c;
    ++counter_;
    if (log != nullptr) log->append(std::string_view(&c, 1));
  }
}

}  // namespace skav::station
