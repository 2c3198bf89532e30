// A board's diagnostic text must not act on the operator's terminal, and must reach a file as
// it is.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "frontends/cli/terminal.h"

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

}  // namespace
}  // namespace skav::cli
