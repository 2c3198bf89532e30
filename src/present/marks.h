#pragma once

#include <vector>

#include "present/panel.h"

namespace skav::present {

// A word's shape, shown beside the word and its colour so that PASS and FAIL differ for an
// operator who cannot tell the panel's colours apart, and in a greyscale print. Every window
// draws the same outlines with its own pen; none takes a shape from a font, which may lack it.
enum class Mark {
  kHourglass,  // STARTING
  kMagnifier,  // SEARCHING
  kPlug,       // CONNECTED
  kArrow,      // PROGRAMMING: data going down into the board
  kTick,       // PASS
  kCross,      // FAIL
  kClock,      // TIMEOUT
  kWarning,    // ADAPTER ERROR, STATION ERROR: the station, not the board
  kPause,      // INTERRUPTED: the run was cut short, the board neither passed nor failed
  kLast = kPause,  // a loop over every mark ends here
};

Mark mark_of(Word word);
// "hourglass", "magnifier", "plug", "arrow", "tick", "cross", "clock", "warning", "pause": the mark's
// name for screen readers and tests.
const char* mark_name(Mark mark);

// A point of a mark's outline in a unit square: x to the right, y down, both in [0, 1].
struct MarkPoint {
  float x, y;
};
// One pen stroke through `points`; `closed` joins the last point to the first, `filled` fills
// the closed shape with the pen's colour as well.
struct MarkStroke {
  std::vector<MarkPoint> points;
  bool closed = false;
  bool filled = false;
};
// The pen's width as a fraction of the mark's square; round ends and joins.
inline constexpr float kMarkPen = 0.1f;

// The strokes of `mark`, in drawing order. The tables live as long as the program.
const std::vector<MarkStroke>& mark_strokes(Mark mark);

}  // namespace skav::present
