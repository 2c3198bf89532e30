#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <thread>

namespace skav::station {
class Station;
}

namespace skav::cli {

// The operator's characters from standard input, posted to the station as keys: each byte one
// character; "\n", "\r" and "\r\n" are one Enter; 0x08 and 0x7f are Backspace. A terminal or
// console is switched to character-at-a-time input without echo (the log echoes), and restored
// at the end. keyboard_posix.cpp and keyboard_windows.cpp read the platform's input.
class KeyboardReader {
 public:
  explicit KeyboardReader(station::Station& station);
  ~KeyboardReader();
  KeyboardReader(const KeyboardReader&) = delete;
  KeyboardReader& operator=(const KeyboardReader&) = delete;

 private:
  struct Console;  // the platform's input and its saved mode

  // Reads until stop_ is set or the input ends; each wait for input is bounded.
  void read_loop();
  // Posts `count` bytes as keys.
  void post(const char* bytes, std::size_t count);

  station::Station& station_;
  std::unique_ptr<Console> console_;
  bool after_cr_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace skav::cli
