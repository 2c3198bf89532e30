#include "present/tiles.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace skav::present {
namespace {

TEST(Tiles, NamesAndCountsAsTheTilesShowThem) {
  EXPECT_EQ(port_name(0), "Port 1");
  EXPECT_EQ(port_name(15), "Port 16");
  const std::vector<std::pair<Totals, std::string>> cases = {
      {Totals{}, "0 passed, 0 failed"},
      {Totals{5, 3, 2}, "3 passed, 2 failed"},
      {Totals{120, 119, 1}, "119 passed, 1 failed"},
  };
  for (const auto& [totals, text] : cases) EXPECT_EQ(tile_counts(totals), text);
}

// Rows of at most four, the columns filled evenly; steps only unfolded and in two rows at most.
TEST(Tiles, GridHasRowsOfAtMostFourAndStepsFitInTwoRows) {
  // Ports, rows, columns, steps shown unfolded.
  const std::vector<std::tuple<int, int, int, bool>> cases = {
      {0, 0, 0, true},  {1, 1, 1, true}, {2, 1, 2, true},  {4, 1, 4, true},  {5, 2, 3, true},
      {7, 2, 4, true},  {8, 2, 4, true}, {9, 3, 3, false}, {12, 3, 4, false}, {16, 4, 4, false}};
  for (const auto& [ports, rows, columns, steps] : cases) {
    const TileGrid grid = tile_grid(ports);
    EXPECT_EQ(grid, (TileGrid{rows, columns})) << ports;
    EXPECT_EQ(tile_steps_shown(grid, false), steps) << ports;
    EXPECT_FALSE(tile_steps_shown(grid, true)) << ports;
  }
}

TEST(Tiles, CtrlAndADigitSelectAPortThatExists) {
  // Digit, ports, port selected.
  const std::vector<std::tuple<int, int, std::optional<int>>> cases = {
      {1, 4, 0},  {4, 4, 3},  {5, 4, std::nullopt}, {0, 4, std::nullopt}, {9, 12, 8},
      {10, 12, std::nullopt}, {-1, 4, std::nullopt}, {1, 1, 0}, {2, 1, std::nullopt}};
  for (const auto& [digit, ports, port] : cases)
    EXPECT_EQ(port_for_digit(digit, ports), port) << "Ctrl+" << digit << " of " << ports;
}

// Addresses lose only what every shown address has in common, and never more than the maker's
// three bytes.
TEST(Tiles, AddressesLoseTheirSharedStartOnly) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, ""},
      {{"02:00:00:0A:00:02"}, ""},  // alone: nothing to compare with, so nothing goes
      {{"02:00:00:0A:00:02", "02:00:00:0A:00:03"}, "02:00:00:"},
      {{"02:00:00:0A:00:02", "02:00:00:0A:00:02"}, "02:00:00:"},  // even the same twice keeps three
      {{"02:00:00:0A:00:02", "02:00:01:0A:00:02"}, "02:00:"},
      {{"02:00:00:0A:00:02", "02:00:00:0A:00:03", "12:00:00:0A:00:04"}, ""},
      {{"00:11:22:33:44:55", "00:12:22:33:44:55"}, "00:"},
  };
  for (const auto& [addresses, shared] : cases) {
    EXPECT_EQ(shared_address_start(addresses), shared) << addresses.size() << " addresses";
    for (const std::string& address : addresses) {
      const std::string shortened = short_address(address, shared);
      EXPECT_EQ(shortened, shared.empty() ? address : "..." + address.substr(shared.size()));
      EXPECT_GE(shortened.size(), std::string("0A:00:02").size()) << "the last three bytes stay";
    }
  }
  EXPECT_EQ(short_address("12:00:00:0A:00:04", "02:00:00:"), "12:00:00:0A:00:04")
      << "an address that does not share the start stays whole";
}

TEST(Tiles, NoBoardYetOnlyWhileNoBoardHasAnswered) {
  // Word, board line, caption.
  const std::vector<std::tuple<Word, std::string, std::string>> cases = {
      {Word::kStarting, "", "No board yet"},
      {Word::kSearching, "", "No board yet"},
      {Word::kConnected, "", ""},
      {Word::kConnected, "Board 3, address 02:00:00:0A:00:02, 4.2 s",
       "Board 3, address 02:00:00:0A:00:02, 4.2 s"},
      {Word::kPass, "Board 3, address 02:00:00:0A:00:02, 4.2 s", "Board 3, address 02:00:00:0A:00:02, 4.2 s"},
  };
  for (const auto& [word, board, caption] : cases) {
    Panel panel;
    panel.word = word;
    panel.board = board;
    EXPECT_EQ(board_caption(panel), caption) << word_text(word);
  }
}

station::StationSnapshot passed_board(int number, const char* address) {
  station::StationSnapshot s;
  s.start_ups = 1;
  s.adapter_open = true;
  s.state = station::StationState::kSearching;
  s.board.emplace();
  s.board->number = number;
  s.board->planned = true;
  s.board->finished = true;
  s.board->overall = station::Verdict::kPass;
  s.board->seconds = 4.2;
  s.board->address_written = true;
  const std::string text = address;
  for (std::size_t i = 0, d = 0; i < text.size(); ++i)
    if (text[i] != ':') s.board->address[d++] = text[i];
  return s;
}

station::StationSnapshot asking(const char* refused, int refusals) {
  station::StationSnapshot s;
  s.start_ups = 1;
  s.adapter_open = true;
  s.state = station::StationState::kConnected;
  s.entry_pending = true;
  s.entry_refused = refused;
  s.entry_refusals = refusals;
  return s;
}

TEST(Tiles, EachTileSaysWhoTakesTypingWhatWasRefusedAndItsBoard) {
  const station::StationSnapshot first = passed_board(3, "02:00:00:0A:00:02");
  const station::StationSnapshot second = passed_board(5, "02:00:00:0A:00:05");
  const station::StationSnapshot typed_wrong = asking("11 digits", 1);
  const station::StationSnapshot fresh = asking("", 0);
  const std::vector<TilePort> ports = {{"sim0", &first, Totals{1, 1, 0}},
                                       {"sim1", &typed_wrong, Totals{2, 1, 1}},
                                       {"", &second, Totals{}},
                                       {"sim3", &fresh, Totals{}},
                                       {"sim4", nullptr, Totals{}}};
  const std::vector<TileText> tiles = tile_texts(ports, 1);
  ASSERT_EQ(tiles.size(), ports.size());

  EXPECT_EQ(tiles[0].name, "sim0");
  EXPECT_EQ(tiles[2].name, "Port 3") << "a port without an adapter's name";
  EXPECT_EQ(tiles[1].counts, "1 passed, 1 failed");
  // Name, badge, typing, refused.
  const std::vector<std::tuple<std::string, bool, std::string, std::string>> expected = {
      {"sim0", false, "", ""},
      {"sim1", true, "scanning for sim1", "refused: 11 digits"},
      {"Port 3", false, "", ""},
      {"sim3", true, "", ""},  // asks too, but the typing goes to sim1
      {"sim4", false, "", ""},
  };
  for (std::size_t i = 0; i < tiles.size(); ++i) {
    const auto& [name, asks, typing, refused] = expected[i];
    EXPECT_EQ(tiles[i].name, name) << i;
    EXPECT_EQ(tiles[i].asks, asks) << i;
    EXPECT_EQ(tiles[i].typing, typing) << i;
    EXPECT_EQ(tiles[i].refused, refused) << i;
  }
  EXPECT_EQ(tiles[0].caption, "Board 3, address ...0A:00:02, 4.2 s");
  EXPECT_EQ(tiles[2].caption, "Board 5, address ...0A:00:05, 4.2 s");
  EXPECT_EQ(tiles[0].panel.word, Word::kPass);
  EXPECT_EQ(tiles[1].caption, "") << "a board answers: it is no longer \"No board yet\"";
  EXPECT_EQ(tiles[4].caption, "No board yet");

  // One board alone keeps its whole address; typing elsewhere leaves sim1 without the note.
  const std::vector<TileText> alone = tile_texts({ports[0], ports[1]}, 0);
  EXPECT_EQ(alone[0].caption, "Board 3, address 02:00:00:0A:00:02, 4.2 s");
  EXPECT_EQ(alone[1].typing, "");
  EXPECT_EQ(tile_texts(ports, std::nullopt)[1].typing, "");
}

TEST(Tiles, EachRefusedEntryCallsTheOperatorOnce) {
  int seen = 0;
  // Refusals in the snapshot, whether it calls.
  const std::vector<std::pair<int, bool>> steps = {{0, false}, {1, true}, {1, false}, {3, true}, {3, false}};
  for (const auto& [refusals, calls] : steps)
    EXPECT_EQ(new_refusal(asking("", refusals), seen), calls) << refusals;
  EXPECT_EQ(seen, 3);
}

}  // namespace
}  // namespace skav::present
