#pragma once

#include <vector>

#include "backends/postgres/port_publisher.h"
#include "line/line.h"

namespace skav::app {

// Each port of `snapshot` as the line's dashboard shows it: the word, board and step the
// station's own panel shows, the last finished board's verdict and reason, the adapter's
// health. Ports without a snapshot yet are STARTING.
std::vector<postgres::PortRow> port_rows(const line::LineSnapshot& snapshot);

}  // namespace skav::app
