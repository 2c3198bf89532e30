#include <windows.h>

#include <atomic>

#include "frontends/cli/keyboard.h"

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
  std::atomic<HANDLE> reader{nullptr};  // the reading thread, to cancel a read that blocks
};

KeyboardReader::KeyboardReader(std::function<void(char)> deliver)
    : deliver_(std::move(deliver)), console_(std::make_unique<Console>()) {
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
  // A read that blocks (a pipe that cannot be peeked) is woken where the system can cancel it;
  // otherwise it ends with its input.
  if (HANDLE reader = console_->reader.load(); reader != nullptr) CancelSynchronousIo(reader);
  thread_.join();
  if (HANDLE reader = console_->reader.load(); reader != nullptr) CloseHandle(reader);
  if (console_->is_console) SetConsoleMode(console_->input, console_->saved_mode);
}

void KeyboardReader::read_loop() {
  HANDLE input = console_->input;
  bool blocking = false;  // the pipe cannot be peeked: each read waits for input
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
    } else if (console_->type == FILE_TYPE_PIPE && !blocking) {
      // A pipe cannot be waited on: look, and sleep a little while it is empty.
      DWORD available = 0;
      if (!PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr)) {
        if (GetLastError() == ERROR_BROKEN_PIPE) return;  // the writer is gone
        // Wine's pipes from the Linux side cannot be peeked: read and wait instead.
        HANDLE self = nullptr;
        blocking = DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(),
                                   &self, 0, FALSE, DUPLICATE_SAME_ACCESS) != 0;
        if (!blocking) return;
        console_->reader.store(self);
        continue;
      }
      if (available == 0) {
        Sleep(kWaitMs);
        continue;
      }
      if (!ReadFile(input, buffer, available < sizeof buffer ? available : sizeof buffer, &got,
                    nullptr) || got == 0)
        return;
    } else {
      // A file, or a pipe read by waiting: its end (or a cancelled read) ends the input.
      if (input == nullptr || input == INVALID_HANDLE_VALUE ||
          !ReadFile(input, buffer, sizeof buffer, &got, nullptr) || got == 0)
        return;
    }
    post(buffer, got);
  }
}

}  // namespace skav::cli
