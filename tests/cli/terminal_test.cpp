// A board's diagnostic text must not act on the operator's terminal, and must reach a file as
// it is.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "frontends/cli/terminal.h"
#include "support/captured_stream.h"
#include "support/screen.h"

namespace skav::cli {
namespace {

TEST(EscapeForTerminal, ControlCharactersAndDeleteBecomeVisibleEscapes) {
  EXPECT_EQ(escape_for_terminal("\x1b[2J\x1b]0;owned\x07"), "\\x1b[2J\\x1b]0;owned\\x07");
  EXPECT_EQ(escape_for_terminal(std::string("a\0b", 3)), "a\\x00b");
  EXPECT_EQ(escape_for_terminal("\x01\x08\x0b\x0c\x1f\x7f"), "\\x01\\x08\\x0b\\x0c\\x1f\\x7f");
}

TEST(EscapeForTerminal, LineEndsTabsPrintableAndUtf8TextStayAsTheyAre) {
  const std::string text = "Memory test 100%\tok\r\nTemp 42\xc2\xb0" "C\r\n";
  EXPECT_EQ(escape_for_terminal(text), text);
  EXPECT_EQ(escape_for_terminal(""), "");
}

// Everything the pseudo-terminal's far side has to read, with a bounded wait.
std::string drain(int master) {
  std::string text;
  for (;;) {
    pollfd pfd{master, POLLIN, 0};
    if (poll(&pfd, 1, 200) <= 0) break;
    char buffer[512];
    ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

TEST(StdoutLog, OnATerminalBoardTextIsEscaped) {
  int master = -1;
  int slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  termios raw{};
  ASSERT_EQ(tcgetattr(slave, &raw), 0);
  cfmakeraw(&raw);  // no output processing: the bytes arrive as written
  ASSERT_EQ(tcsetattr(slave, TCSANOW, &raw), 0);
  std::FILE* out = fdopen(slave, "w");
  ASSERT_NE(out, nullptr);
  {
    StdoutLog log(out);
    log.append("diag: \x1b[31mred\x1b[0m\x07\r\n");
  }
  std::fclose(out);
  std::string shown = drain(master);
  close(master);
  EXPECT_EQ(shown, "diag: \\x1b[31mred\\x1b[0m\\x07\r\n");
}

TEST(StdoutLog, IntoAFileTheLogIsKeptByteForByte) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  const std::string text = "diag: \x1b[31mred\x1b[0m\x07\r\n";
  {
    StdoutLog log(out);
    log.append(text);
  }
  std::rewind(out);
  char buffer[128] = {};
  std::size_t n = std::fread(buffer, 1, sizeof buffer, out);
  std::fclose(out);
  EXPECT_EQ(std::string(buffer, n), text);
}


// What the log and the lines beside it do, in order, on one terminal.
struct Turn {
  enum Kind { kLog, kLive, kLine } kind;
  std::string text;
};

struct SharedCase {
  const char* name;
  std::vector<Turn> turns;
  std::vector<std::string> rows;  // what the terminal shows at the end
};
void PrintTo(const SharedCase& c, std::ostream* os) { *os << c.name; }

class SharedTerminalRows : public ::testing::TestWithParam<SharedCase> {};

TEST_P(SharedTerminalRows, TheLogsTextIsNeverWrittenOver) {
  test::CapturedStream terminal;
  SharedTerminal shared(terminal.file());
  for (const Turn& turn : GetParam().turns) {
    if (turn.kind == Turn::kLog) shared.write_log(terminal.file(), turn.text);
    if (turn.kind == Turn::kLive) shared.show_live(turn.text);
    if (turn.kind == Turn::kLine) shared.write_line(turn.text);
  }
  EXPECT_EQ(test::screen_rows(terminal.text()), GetParam().rows) << terminal.text();
}

const SharedCase kSharedCases[] = {
    {"LiveLineRedrawnWhileTheLogsRowIsUnfinished",
     {{Turn::kLog, "Find the UBOOT CONFIG file....."},
      {Turn::kLive, "board 1 environment  50% 2 of 4 kB"},
      {Turn::kLive, "board 1 environment 100% 4 of 4 kB"},
      {Turn::kLog, "Success\r\n"}},
     {"Find the UBOOT CONFIG file.....Success"}},
    {"LiveLineOnARowOfItsOwnGoesWhenTheLogWrites",
     {{Turn::kLog, "Section begin: [kernel]\r\n"},
      {Turn::kLive, "board 1 kernel  45% 12.0 MB/s"},
      {Turn::kLog, "Success\r\n"},
      {Turn::kLive, "board 1 uboot  10%"}},
     {"Section begin: [kernel]", "Success", "board 1 uboot  10%"}},
    {"ALineBesideTheUnfinishedRowAndTheRowWrittenWholeAgain",
     {{Turn::kLog, "Find the diag.................."},
      {Turn::kLine, "ADAPTER ERROR eth1 is gone"},
      {Turn::kLog, "Fail\r\n"}},
     {"Find the diag..................", "ADAPTER ERROR eth1 is gone",
      "Find the diag..................Fail"}},
    {"ABackspaceAfterALineBesideTakesBackTheTypedCharacter",
     {{Turn::kLog, "MAC: 0011"},
      {Turn::kLine, "status"},
      {Turn::kLog, "\b \b"},
      {Turn::kLog, "2\r\n"}},
     {"MAC: 0011", "status", "MAC: 0012"}},
    {"LiveLineBelowALineBesideTheUnfinishedRow",
     {{Turn::kLog, "Find the diag.................."},
      {Turn::kLine, "1 PASS"},
      {Turn::kLive, "board 2 diag  30%"},
      {Turn::kLog, "Success\r\n"}},
     {"Find the diag..................", "1 PASS", "Find the diag..................Success"}},
    {"LinesAtTheRowsStartNeedNoRepeat",
     {{Turn::kLog, "Connected...\r\n"},
      {Turn::kLine, "1 PASS"},
      {Turn::kLog, "Waiting connecting to Target...\r\n"}},
     {"Connected...", "1 PASS", "Waiting connecting to Target..."}},
};

INSTANTIATE_TEST_SUITE_P(Turns, SharedTerminalRows, ::testing::ValuesIn(kSharedCases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
}  // namespace skav::cli
