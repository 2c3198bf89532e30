#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <vector>

namespace skav::line {

// Which port of a line takes the operator's typing, for every face:
// - a terminal sends its characters to the port whose MAC prompt opened first; an entry, once
//   begun, stays with its port until Enter, and then the next open prompt takes the next
//   characters (route());
// - a window sends its typing to the port it shows while that port asks, otherwise to the port
//   that has asked longest, so that a scanner always types into an open prompt
//   (port_for_typing());
// - with one port every character goes to it, prompt or not.
// Not thread-safe: the Line guards its own.
class Router {
 public:
  explicit Router(std::size_t ports);
  // A port's latest snapshot: whether its MAC entry is pending and how many characters it
  // holds. True when the set of ports that ask changed.
  bool on_entry(std::size_t port, bool pending, int counter);
  // The port that takes the terminal's character `c`; none when no prompt is open (with
  // several ports). Enter ends the entry on its port.
  std::optional<std::size_t> route(char c);
  // The port that should take a window's typing while it shows `shown`: `shown` itself when it
  // asks or no port asks, otherwise the port that has asked longest.
  std::size_t port_for_typing(std::size_t shown) const;
  // The port the terminal's next character goes to; none while no prompt is open.
  std::optional<std::size_t> next_port() const;
  bool asks(std::size_t port) const;
  // The ports that ask and wait for their entry to begin, first opened first.
  const std::deque<std::size_t>& open() const { return open_; }

 private:
  std::size_t ports_;
  std::deque<std::size_t> open_;        // ports with an open prompt, first opened first
  std::optional<std::size_t> current_;  // the port whose entry the terminal is typing
  std::vector<bool> awaiting_;          // Enter sent; the port's answer not yet seen
};

}  // namespace skav::line
