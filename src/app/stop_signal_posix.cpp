#include "app/stop_signal.h"

#include <csignal>

namespace skav::app {

namespace {

// Set from the signal handler; a lock-free atomic is safe to store there.
std::atomic<bool> g_stop_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void on_stop_signal(int) { g_stop_requested.store(true); }

}  // namespace

const std::atomic<bool>& install_stop_signals() {
  g_stop_requested.store(false);
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  action.sa_flags = SA_RESTART;  // a blocking read goes on; the flag is looked at between waits
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  return g_stop_requested;
}

}  // namespace skav::app
