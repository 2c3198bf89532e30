#pragma once

#include <atomic>

namespace skav::app {

// Makes SIGINT and SIGTERM (on Windows Ctrl+C, Ctrl+Break and closing the console) ask a
// long-running command to end instead of killing it: installs the handlers (again clearing
// the request) and returns the flag they set.
const std::atomic<bool>& install_stop_signals();

}  // namespace skav::app
