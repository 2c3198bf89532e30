#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace skav::test {

struct ProgramResult {
  int exit_code = -1;      // the exit status; 128 + signal number when killed by a signal
  bool timed_out = false;  // killed because it ran past the limit
  std::string out;         // everything written to standard output
  std::string err;         // everything written to standard error
};

// Runs the program argv[0] (a path) with the arguments argv[1...], collecting its standard
// output and error. A program still running after `limit` is killed and reported timed_out.
ProgramResult run_program(const std::vector<std::string>& argv, std::chrono::milliseconds limit);

// A program started in the background, its standard output and error going to `output`
// (appended), standard input from /dev/null. Killed (SIGKILL) and reaped when the object goes.
class BackgroundProgram {
 public:
  BackgroundProgram(const std::vector<std::string>& argv, const std::string& output);
  ~BackgroundProgram() { kill_now(); }
  BackgroundProgram(const BackgroundProgram&) = delete;
  BackgroundProgram& operator=(const BackgroundProgram&) = delete;
  bool started() const { return pid_ > 0; }
  // SIGKILL, then reaps it. True when it was still running.
  bool kill_now();
  // Sends it `signal` (SIGINT: as Ctrl+C would), if it was started and not reaped yet.
  void send(int signal);
  // Waits for it to end, killing it once `limit` has passed. Its exit code (128 + signal when
  // killed by one); -1 when it was not started or was reaped already.
  int wait(std::chrono::milliseconds limit);

 private:
  pid_t pid_ = -1;
};

// Waits for the child `pid` to end, killing it once `deadline` has passed (`killed` then
// true). Returns its wait status.
int reap(pid_t pid, std::chrono::steady_clock::time_point deadline, bool& killed);

}  // namespace skav::test
