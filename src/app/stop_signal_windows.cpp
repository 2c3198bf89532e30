#include <windows.h>

#include "app/stop_signal.h"

namespace skav::app {

namespace {

std::atomic<bool> g_stop_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// Runs on a thread of its own that the system starts for Ctrl+C, Ctrl+Break and the console
// closing; returning TRUE keeps the default handler from ending the process at once.
BOOL WINAPI on_console_event(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      g_stop_requested.store(true);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

const std::atomic<bool>& install_stop_signals() {
  g_stop_requested.store(false);
  SetConsoleCtrlHandler(on_console_event, TRUE);
  return g_stop_requested;
}

}  // namespace skav::app
