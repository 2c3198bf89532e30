#include "present/prompts.h"

#include <algorithm>

namespace skav::present {

bool OpenPrompts::update(std::size_t port, bool pending) {
  auto found = std::find(open_.begin(), open_.end(), port);
  if (pending == (found != open_.end())) return false;
  if (pending) {
    open_.push_back(port);
  } else {
    open_.erase(found);
  }
  return true;
}

bool OpenPrompts::asks(std::size_t port) const {
  return std::find(open_.begin(), open_.end(), port) != open_.end();
}

std::size_t OpenPrompts::port_for_typing(std::size_t shown) const {
  if (open_.empty() || asks(shown)) return shown;
  return open_.front();
}

}  // namespace skav::present
