#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "frontends/cli/keyboard.h"

namespace skav::cli {

struct KeyboardReader::Console {
  termios saved{};
  bool restore = false;
};

KeyboardReader::KeyboardReader(std::function<void(char)> deliver)
    : deliver_(std::move(deliver)), console_(std::make_unique<Console>()) {
  if (isatty(STDIN_FILENO) == 1 && tcgetattr(STDIN_FILENO, &console_->saved) == 0) {
    termios raw = console_->saved;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    console_->restore = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
  }
  thread_ = std::thread([this] { read_loop(); });
}

KeyboardReader::~KeyboardReader() {
  stop_ = true;
  thread_.join();
  if (console_->restore) tcsetattr(STDIN_FILENO, TCSANOW, &console_->saved);
}

void KeyboardReader::read_loop() {
  while (!stop_.load()) {
    pollfd pfd{STDIN_FILENO, POLLIN, 0};
    if (poll(&pfd, 1, 100) <= 0) continue;
    char buffer[256];
    ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) return;  // end of input: the station goes on without an operator
    post(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace skav::cli
