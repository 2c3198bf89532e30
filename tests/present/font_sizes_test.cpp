// The panel's type sizes from the window's height, and the log's zoom bounds.

#include <gtest/gtest.h>

#include <vector>

#include "present/font_sizes.h"

namespace skav::present {
namespace {

TEST(FontSizes, ThePanelGrowsWithTheWindowWithinItsBounds) {
  struct Case {
    int height;
    int tile_rows;
    PanelFonts fonts;  // word, line, text, counts, small, tile word, tile text
  };
  const std::vector<Case> cases = {
      {300, 1, {28, 12, 11, 14, 9, 14, 9}},     // small windows keep the smallest sizes
      {800, 1, {40, 18, 13, 17, 11, 28, 11}},   // the usual bench screen
      {800, 2, {40, 18, 13, 17, 11, 14, 11}},   // two rows of tiles: half the tile word
      {1080, 3, {54, 24, 18, 24, 16, 14, 16}},
      {1600, 1, {80, 36, 26, 34, 24, 56, 24}},  // the word's largest
      {4000, 1, {80, 36, 26, 34, 24, 56, 24}},
      {800, 0, {40, 18, 13, 17, 11, 28, 11}},   // no tiles counts as one row
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.height) + " pixels, " + std::to_string(c.tile_rows) + " rows");
    EXPECT_EQ(panel_fonts(c.height, c.tile_rows), c.fonts);
  }
}

TEST(FontSizes, TheLogZoomsAPointAtATimeWithinItsBounds) {
  struct Case {
    int points;
    int step;
    int zoomed;
  };
  for (const Case& c : std::vector<Case>{{kLogPoints, 1, 12}, {kLogPoints, -1, 10}, {6, -1, 6},
                                         {48, 1, 48}, {200, 0, 48}, {0, 0, 6}, {47, 1, 48}}) {
    EXPECT_EQ(zoomed_log_points(c.points, c.step), c.zoomed) << c.points << " " << c.step;
  }
}

}  // namespace
}  // namespace skav::present
