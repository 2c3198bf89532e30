#pragma once

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

}  // namespace skav::test
