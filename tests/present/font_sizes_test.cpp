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

// Tiles across a window: the sizes come down with the width each tile and the totals get, never
// grow beyond what the height gives, and never go below the smallest readable size.
TEST(FontSizes, TilesAndTotalsShrinkToTheWidthTheyGet) {
  struct Case {
    int width;
    int height;
    int rows;
    int columns;
    PanelFonts fonts;  // word, line, text, counts, small, tile word, tile text
    int tile_line;
  };
  const std::vector<Case> cases = {
      {1366, 768, 1, 4, {38, 17, 9, 12, 9, 14, 9}, 11},       // four ports on a small screen
      {1920, 1080, 2, 4, {54, 24, 12, 16, 10, 19, 13}, 13},   // eight ports: never below the text
      {1920, 1080, 1, 2, {54, 24, 12, 16, 10, 38, 16}, 17},   // wide tiles keep the height's sizes
      {800, 600, 1, 4, {30, 13, 9, 12, 9, 12, 8}, 10},        // too narrow: the smallest sizes
      {0, 768, 1, 4, {38, 17, 12, 16, 10, 27, 10}, 12},       // no width: as the height gives
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + ", " + std::to_string(c.columns) +
                 " columns");
    const PanelFonts fonts = fit_tiles(panel_fonts(c.height, c.rows), c.width, c.columns);
    EXPECT_EQ(fonts, c.fonts);
    EXPECT_EQ(tile_line_points(fonts), c.tile_line);
    EXPECT_LE(fonts.tile_text, panel_fonts(c.height, c.rows).tile_text);
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
