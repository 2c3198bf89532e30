#include "present/marks.h"

#include <array>
#include <cmath>
#include <numbers>

namespace skav::present {

namespace {

// A circle as a closed polygon: fine enough at the largest word's size, and the same polygon
// in both windows, which an arc call would not promise.
MarkStroke ring(float cx, float cy, float radius, bool filled = false) {
  constexpr int kSides = 32;
  MarkStroke stroke{{}, true, filled};
  for (int i = 0; i < kSides; ++i) {
    const double angle = 2 * std::numbers::pi * i / kSides;
    stroke.points.push_back({cx + radius * static_cast<float>(std::cos(angle)),
                             cy + radius * static_cast<float>(std::sin(angle))});
  }
  return stroke;
}

MarkStroke line(std::vector<MarkPoint> points) { return MarkStroke{std::move(points), false, false}; }
MarkStroke solid(std::vector<MarkPoint> points) { return MarkStroke{std::move(points), true, true}; }
MarkStroke outline(std::vector<MarkPoint> points) { return MarkStroke{std::move(points), true, false}; }

std::vector<MarkStroke> strokes_of(Mark mark) {
  switch (mark) {
    case Mark::kHourglass:
      return {line({{0.22f, 0.1f}, {0.78f, 0.1f}}), line({{0.22f, 0.9f}, {0.78f, 0.9f}}),
              outline({{0.3f, 0.12f}, {0.7f, 0.12f}, {0.5f, 0.5f}}),
              outline({{0.5f, 0.5f}, {0.7f, 0.88f}, {0.3f, 0.88f}})};
    case Mark::kMagnifier:
      return {ring(0.42f, 0.42f, 0.27f), line({{0.62f, 0.62f}, {0.88f, 0.88f}})};
    case Mark::kPlug:
      // A plug's body with two pins up and its cable down.
      return {solid({{0.22f, 0.34f}, {0.78f, 0.34f}, {0.78f, 0.56f}, {0.5f, 0.72f}, {0.22f, 0.56f}}),
              line({{0.36f, 0.1f}, {0.36f, 0.32f}}), line({{0.64f, 0.1f}, {0.64f, 0.32f}}),
              line({{0.5f, 0.72f}, {0.5f, 0.92f}})};
    case Mark::kArrow:
      return {line({{0.5f, 0.08f}, {0.5f, 0.62f}}), line({{0.28f, 0.42f}, {0.5f, 0.64f}, {0.72f, 0.42f}}),
              line({{0.12f, 0.68f}, {0.12f, 0.9f}, {0.88f, 0.9f}, {0.88f, 0.68f}})};
    case Mark::kTick:
      return {line({{0.12f, 0.54f}, {0.4f, 0.82f}, {0.9f, 0.2f}})};
    case Mark::kCross:
      return {line({{0.18f, 0.18f}, {0.82f, 0.82f}}), line({{0.82f, 0.18f}, {0.18f, 0.82f}})};
    case Mark::kClock:
      return {ring(0.5f, 0.5f, 0.4f), line({{0.5f, 0.22f}, {0.5f, 0.5f}, {0.7f, 0.62f}})};
    case Mark::kWarning:
      return {outline({{0.5f, 0.08f}, {0.94f, 0.88f}, {0.06f, 0.88f}}), line({{0.5f, 0.36f}, {0.5f, 0.6f}}),
              ring(0.5f, 0.74f, 0.035f, true)};
    case Mark::kPause:
      // Two bars, as on a player's pause key; filled, so that they read as bars and not as lines.
      return {solid({{0.2f, 0.12f}, {0.4f, 0.12f}, {0.4f, 0.88f}, {0.2f, 0.88f}}),
              solid({{0.6f, 0.12f}, {0.8f, 0.12f}, {0.8f, 0.88f}, {0.6f, 0.88f}})};
  }
  return {};
}

constexpr std::size_t kMarks = static_cast<std::size_t>(Mark::kPause) + 1;

}  // namespace

Mark mark_of(Word word) {
  switch (word) {
    case Word::kStarting: return Mark::kHourglass;
    case Word::kSearching: return Mark::kMagnifier;
    case Word::kConnected: return Mark::kPlug;
    case Word::kProgramming: return Mark::kArrow;
    case Word::kPass: return Mark::kTick;
    case Word::kFail: return Mark::kCross;
    case Word::kTimeout: return Mark::kClock;
    case Word::kAdapterError:
    case Word::kStationError: return Mark::kWarning;
    case Word::kInterrupted: return Mark::kPause;
  }
  return Mark::kWarning;
}

const char* mark_name(Mark mark) {
  switch (mark) {
    case Mark::kHourglass: return "hourglass";
    case Mark::kMagnifier: return "magnifier";
    case Mark::kPlug: return "plug";
    case Mark::kArrow: return "arrow";
    case Mark::kTick: return "tick";
    case Mark::kCross: return "cross";
    case Mark::kClock: return "clock";
    case Mark::kWarning: return "warning";
    case Mark::kPause: return "pause";
  }
  return "";
}

const std::vector<MarkStroke>& mark_strokes(Mark mark) {
  static const std::array<std::vector<MarkStroke>, kMarks> kTables = [] {
    std::array<std::vector<MarkStroke>, kMarks> tables;
    for (std::size_t i = 0; i < kMarks; ++i) tables[i] = strokes_of(static_cast<Mark>(i));
    return tables;
  }();
  return kTables[static_cast<std::size_t>(mark)];
}

}  // namespace skav::present
