#pragma once

#include <string>

#include "core/station/station_events.h"

namespace skav::present {

// A finished board in one line for a terminal or a log file: its number, its verdict in
// capitals, the address written into it, the seconds taken and every step that did not pass,
// "3 FAIL 02:00:00:0A:00:02 4.2 s kernel: read-back differs; filesystem: read-back differs".
// A board without an address written shows "-" in its place. Where the word is not the
// record's (INTERRUPTED), the record's word leads the reasons:
// "5 INTERRUPTED 02:00:00:0A:00:04 1.3 s adapter-lost; kernel: adapter eth1 is gone".
std::string board_summary(const station::BoardView& board);

// The data moving now, in one line: "board 3 kernel  45% 12.0 MB/s 3 s left"; empty when no
// step's data moves.
std::string moving_line(const station::BoardView& board);

}  // namespace skav::present
