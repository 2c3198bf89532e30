#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <thread>

namespace skav::cli {

// The operator's characters from standard input, handed to `deliver` one by one: each byte one
// character; "\n", "\r" and "\r\n" are one Enter; 0x08 and 0x7f are Backspace. A terminal or
// console is switched to character-at-a-time input without echo (the log echoes), and restored
// at the end. keyboard_posix.cpp and keyboard_windows.cpp read the platform's input.
class KeyboardReader {
 public:
  // `deliver` runs on the reader's own thread.
  explicit KeyboardReader(std::function<void(char)> deliver);
  ~KeyboardReader();
  KeyboardReader(const KeyboardReader&) = delete;
  KeyboardReader& operator=(const KeyboardReader&) = delete;

 private:
  struct Console;  // the platform's input and its saved mode

  // Reads until stop_ is set or the input ends; each wait for input is bounded.
  void read_loop();
  // Delivers `count` bytes as keys.
  void post(const char* bytes, std::size_t count);

  std::function<void(char)> deliver_;
  std::unique_ptr<Console> console_;
  bool after_cr_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace skav::cli
