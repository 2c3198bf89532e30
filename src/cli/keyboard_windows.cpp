#include <windows.h>

#include "cli/keyboard.h"

namespace skav::cli {

namespace {

// How long one wait for input lasts before the reader looks whether it should stop.
constexpr DWORD kWaitMs = 100;

}  // namespace

struct KeyboardReader::Console {
  HANDLE input = INVALID_HANDLE_VALUE;
  DWORD type = FILE_TYPE_UNKNOWN;
  DWORD saved_mode = 0;
  bool is_console = false;
};

KeyboardReader::KeyboardReader(station::Station& station)
    : station_(station), console_(std::make_unique<Console>()) {
  console_->input = GetStdHandle(STD_INPUT_HANDLE);
  console_->type = GetFileType(console_->input);
  if (console_->type == FILE_TYPE_CHAR && GetConsoleMode(console_->input, &console_->saved_mode)) {
    // Characters as they are typed, without echo; Ctrl+C still reaches the control handler.
    DWORD mode = console_->saved_mode & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT);
    console_->is_console = SetConsoleMode(console_->input, mode | ENABLE_PROCESSED_INPUT) != 0;
  }
  thread_ = std::thread([this] { read_loop(); });
}

KeyboardReader::~KeyboardReader() {
  stop_ = true;
  thread_.join();
  if (console_->is_console) SetConsoleMode(console_->input, console_->saved_mode);
}

void KeyboardReader::read_loop() {
  HANDLE input = console_->input;
  while (!stop_.load()) {
    char buffer[256];
    DWORD got = 0;
    if (console_->is_console) {
      // Key presses carry the character, a scanner's too; other events are dropped.
      if (WaitForSingleObject(input, kWaitMs) != WAIT_OBJECT_0) continue;
      INPUT_RECORD records[64];
      DWORD count = 0;
      if (!ReadConsoleInputA(input, records, 64, &count)) return;
      for (DWORD i = 0; i < count && got < sizeof buffer; ++i) {
        const KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
        if (records[i].EventType != KEY_EVENT || !key.bKeyDown || key.uChar.AsciiChar == 0)
          continue;
        for (WORD r = 0; r < key.wRepeatCount && got < sizeof buffer; ++r)
          buffer[got++] = key.uChar.AsciiChar;
      }
    } else if (console_->type == FILE_TYPE_PIPE) {
      // A pipe cannot be waited on: look, and sleep a little while it is empty.
      DWORD available = 0;
      if (!PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr)) return;  // closed
      if (available == 0) {
        Sleep(kWaitMs);
        continue;
      }
      if (!ReadFile(input, buffer, available < sizeof buffer ? available : sizeof buffer, &got,
                    nullptr) || got == 0)
        return;
    } else {
      // A file (or none): reads do not block for long; its end ends the input.
      if (input == nullptr || input == INVALID_HANDLE_VALUE ||
          !ReadFile(input, buffer, sizeof buffer, &got, nullptr) || got == 0)
        return;
    }
    post(buffer, got);
  }
}

}  // namespace skav::cli
