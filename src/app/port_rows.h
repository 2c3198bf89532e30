#pragma once

#include <string>
#include <vector>

#include "backends/postgres/port_publisher.h"
#include "line/line.h"

namespace skav::app {

// Each port of a line's snapshots as the line's dashboard shows it: the word, board and step
// the station's own panel shows, the last finished board's verdict and reason, the adapter's
// health. Ports without a snapshot yet are STARTING. A port's last verdict and reason stay
// while its next board is searched for and programmed, as a supervisor walking by still wants
// to see how the last one went; so the rows remember what earlier snapshots finished.
class PortRows {
 public:
  // The rows of `snapshot`, with each port's last finished board seen in this or an earlier one.
  std::vector<postgres::PortRow> operator()(const line::LineSnapshot& snapshot);

 private:
  struct Last {
    std::string verdict, reason;
  };
  std::vector<Last> last_;  // by port
};

}  // namespace skav::app
