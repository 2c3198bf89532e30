#include "present/mailbox.h"

namespace skav::present {

void wake_once(std::unique_lock<std::mutex>& lock, bool& posted, const Wake& wake) {
  if (posted) return;
  posted = true;
  lock.unlock();
  if (wake && wake()) return;
  lock.lock();
  posted = false;
}

void LogMailbox::append(std::string_view text) { queue(false, text); }

void LogMailbox::erase_last() { queue(true, {}); }

void LogMailbox::queue(bool erase, std::string_view text) {
  std::unique_lock lock(mutex_);
  if (!erase && !pending_.empty() && !pending_.back().erase) {
    pending_.back().text.append(text);
  } else {
    pending_.push_back(LogOperation{erase, std::string(text)});
  }
  wake_once(lock, posted_, wake_);
}

}  // namespace skav::present
