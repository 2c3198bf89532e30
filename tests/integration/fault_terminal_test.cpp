// A board whose diagnostic text carries escape sequences: on the operator's terminal `skav run`
// shows them escaped, into a file it writes them as they are.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

#include "support/run_program.h"
#include "support/temp_dir.h"

namespace skav {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kHostileText = "Self test\r\n\x1b[2J\x1b]0;owned\x07\x1b[31mred\x1b[0m\r\n";

class HostileDiagText : public ::testing::Test {
 protected:
  HostileDiagText() {
    dir_.copy_from(std::filesystem::path(SKAV_SOURCE_DIR) / "examples");
    std::ofstream(dir_ / "images/diag.txt", std::ios::binary | std::ios::trunc) << kHostileText;
  }
  std::vector<std::string> command() const {
    return {SKAV_BINARY, "run", "--simulate=1", "--boards", "1", "--no-barcode",
            "--settings", (dir_ / "settings.reg").string(), "--timeout", "5",
            "-C", dir_.path().string()};
  }
  test::TempDir dir_;
};

// Runs the command with standard input and output on a pseudo-terminal (standard error to
// /dev/null) and returns what the terminal received; kills it after `limit`.
std::string run_on_terminal(const std::vector<std::string>& argv, std::chrono::seconds limit,
                            int& exit_code) {
  int master = -1;
  pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid < 0) return "";
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, STDERR_FILENO);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  std::string shown;
  auto deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    pollfd pfd{master, POLLIN, 0};
    if (poll(&pfd, 1, 100) < 0) break;
    if ((pfd.revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    char buffer[1024];
    ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;  // EIO once the program has gone
    shown.append(buffer, static_cast<std::size_t>(n));
  }
  // The terminal reports the end once the program has closed it, which may be a moment before
  // the program has exited.
  bool killed = false;
  int status = test::reap(pid, deadline, killed);
  close(master);
  exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return shown;
}

TEST_F(HostileDiagText, OnATerminalTheBoardsEscapeSequencesAreShownEscaped) {
  int exit_code = -1;
  std::string shown = run_on_terminal(command(), 60s, exit_code);
  EXPECT_EQ(exit_code, 0) << shown;
  EXPECT_NE(shown.find("\\x1b[2J\\x1b]0;owned\\x07\\x1b[31mred\\x1b[0m"), std::string::npos)
      << shown;
  // Nothing the board sent reached the terminal as a control character.
  EXPECT_EQ(shown.find('\x1b'), std::string::npos);
  EXPECT_EQ(shown.find('\x07'), std::string::npos);
}

TEST_F(HostileDiagText, IntoAFileTheBoardsTextIsKeptAsItIs) {
  test::ProgramResult result = test::run_program(command(), 60s);
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_NE(result.out.find(kHostileText), std::string::npos) << result.out;
  // Beside the log, on standard error: the board's line and the totals.
  EXPECT_NE(result.err.find("\n1 PASS 00:11:22:33:44:55 "), std::string::npos) << result.err;
  EXPECT_TRUE(result.err.ends_with("\n1 board: 1 passed, 0 failed\n")) << result.err;
  EXPECT_EQ(result.out.find("1 board:"), std::string::npos) << "the log stays the log";
}

}  // namespace
}  // namespace skav
