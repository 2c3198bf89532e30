#include "line/router.h"

#include <algorithm>

namespace skav::line {

Router::Router(std::size_t ports) : ports_(ports), awaiting_(ports, false) {}

bool Router::on_entry(std::size_t port, bool pending, int counter) {
  if (port >= ports_) return false;
  if (awaiting_[port]) {
    // The Enter sent to this port empties its entry; until then its snapshots are old news.
    if (counter != 0) return false;
    awaiting_[port] = false;
  }
  auto found = std::find(open_.begin(), open_.end(), port);
  const bool listed = found != open_.end();
  if (pending && !listed && current_ != port) {
    open_.push_back(port);
    return true;
  }
  if (pending) return false;
  if (current_ == port) current_.reset();
  if (!listed) return false;
  open_.erase(found);
  return true;
}

std::optional<std::size_t> Router::route(char c) {
  if (ports_ == 1) return 0;
  if (!current_) {
    if (open_.empty()) return std::nullopt;
    current_ = open_.front();
    open_.pop_front();
  }
  std::size_t port = *current_;
  if (c == 13) {
    current_.reset();
    awaiting_[port] = true;
  }
  return port;
}

std::size_t Router::port_for_typing(std::size_t shown) const {
  if (open_.empty() || asks(shown)) return shown;
  return open_.front();
}

std::optional<std::size_t> Router::next_port() const {
  if (ports_ == 1) return 0;
  if (current_) return current_;
  if (open_.empty()) return std::nullopt;
  return open_.front();
}

bool Router::asks(std::size_t port) const {
  return current_ == port || std::find(open_.begin(), open_.end(), port) != open_.end();
}

}  // namespace skav::line
