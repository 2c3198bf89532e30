#pragma once

#include <cstddef>
#include <vector>

namespace skav::present {

// The ports of a station whose MAC prompt is open, in the order they opened. A window with
// several ports sends the operator's typing to the port it shows; when that port does not ask
// and another does, the window turns to the one that has asked longest, so that a scanner
// always types into an open prompt.
class OpenPrompts {
 public:
  // A port's latest snapshot: whether its MAC entry is pending. True when that changed.
  bool update(std::size_t port, bool pending);
  bool asks(std::size_t port) const;
  // The port to show while `shown` is shown: `shown` itself when it asks or no port asks,
  // otherwise the port that has asked longest.
  std::size_t port_for_typing(std::size_t shown) const;

 private:
  std::vector<std::size_t> open_;  // first opened first
};

}  // namespace skav::present
