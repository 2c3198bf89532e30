#include "present/mailbox.h"

namespace skav::present {

void LogMailbox::append(std::string_view text) { queue(false, text); }

void LogMailbox::erase_last() { queue(true, {}); }

void LogMailbox::queue(bool erase, std::string_view text) {
  std::unique_lock lock(mutex_);
  if (!erase && !pending_.empty() && !pending_.back().erase) {
    pending_.back().text.append(text);
  } else {
    pending_.push_back(LogOperation{erase, std::string(text)});
  }
  // One wake-up for everything that arrives before the window's thread looks.
  if (posted_) return;
  posted_ = true;
  lock.unlock();
  if (wake_ && wake_()) return;
  lock.lock();
  posted_ = false;
}

}  // namespace skav::present
